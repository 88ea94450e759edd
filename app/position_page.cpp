// The Position page: the stamp's location and its offsets.
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>

#include "number_spin_box.h"
#include "settings_pages.h"

namespace mk::app {

QString UnitText(Unit unit) {
    return unit == Unit::kPixels ? PositionPage::tr("pxs") : PositionPage::tr("%");
}

QLabel *MakeUnitLabel(QWidget *parent) {
    auto *label = new QLabel(parent);
    const QFontMetrics metrics = label->fontMetrics();
    label->setMinimumWidth(std::max(metrics.horizontalAdvance(UnitText(Unit::kPixels)),
                                    metrics.horizontalAdvance(UnitText(Unit::kProportional))));
    return label;
}

PositionPage::PositionPage(DialogValues *values, QWidget *parent)
    : QWidget(parent), values_(values) {
    auto *location = new QGroupBox(tr("Stamp location"), this);
    position_ = new QComboBox(location);
    // Item index = position code - 1.
    position_->addItems({tr("Top-Left"), tr("Top-Center"), tr("Top-Right"), tr("Bottom-Left"),
                         tr("Bottom-Center"), tr("Bottom-Right")});
    auto *locationLayout = new QHBoxLayout(location);
    locationLayout->addWidget(position_);
    locationLayout->addStretch(1);

    auto *offset = new QGroupBox(tr("Stamp offset"), this);
    horizontal_ = new NumberSpinBox(FieldKind::kOffset, offset);
    vertical_ = new NumberSpinBox(FieldKind::kOffset, offset);
    horizontalUnit_ = MakeUnitLabel(offset);
    verticalUnit_ = MakeUnitLabel(offset);
    auto *horizontalLabel = new QLabel(tr("Horizontal:"), offset);
    auto *verticalLabel = new QLabel(tr("Vertical:"), offset);
    horizontalLabel->setBuddy(horizontal_);
    verticalLabel->setBuddy(vertical_);
    auto *grid = new QGridLayout(offset);
    grid->addWidget(horizontalLabel, 0, 0);
    grid->addWidget(horizontal_, 0, 1);
    grid->addWidget(horizontalUnit_, 0, 2);
    grid->addWidget(new QLabel(tr("of the picture width"), offset), 0, 3);
    grid->addWidget(verticalLabel, 1, 0);
    grid->addWidget(vertical_, 1, 1);
    grid->addWidget(verticalUnit_, 1, 2);
    grid->addWidget(new QLabel(tr("of the picture height"), offset), 1, 3);
    grid->setColumnStretch(4, 1);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(location);
    layout->addWidget(offset);
    layout->addStretch(1);

    connect(position_, &QComboBox::activated, this, [this](int index) {
        values_->stampPosition = static_cast<uint8_t>(index + 1);
        emit changed();
    });
    connect(horizontal_, &NumberSpinBox::valueEdited, this, [this](int32_t value) {
        values_->horizontalOffset = value;
        emit changed();
    });
    connect(vertical_, &NumberSpinBox::valueEdited, this, [this](int32_t value) {
        values_->verticalOffset = value;
        emit changed();
    });
    refresh();
}

void PositionPage::refresh() {
    const int index = values_->stampPosition - 1;
    position_->setCurrentIndex(index >= 0 && index < position_->count() ? index : -1);
    horizontal_->setValue(values_->horizontalOffset, values_->unit());
    vertical_->setValue(values_->verticalOffset, values_->unit());
    horizontalUnit_->setText(UnitText(values_->unit()));
    verticalUnit_->setText(UnitText(values_->unit()));
}

void PositionPage::finishEditing() {
    horizontal_->finishEditing();
    vertical_->finishEditing();
}

}  // namespace mk::app
