// The Background page: the box behind the stamp, its margins, shape,
// colour and opacity, and the rules that tie its check boxes together.
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "color_button.h"
#include "number_spin_box.h"
#include "settings_pages.h"

namespace mk::app {

BackgroundPage::BackgroundPage(DialogValues *values, QWidget *parent)
    : QWidget(parent), values_(values) {
    enable_ = new QCheckBox(tr("Enable"), this);

    auto *margins = new QGroupBox(tr("Margins"), this);
    horizontalLabel_ = new QLabel(tr("Left && Right:"), margins);
    horizontal_ = new NumberSpinBox(FieldKind::kMargin, margins);
    horizontalUnit_ = MakeUnitLabel(margins);
    horizontalOf_ = new QLabel(tr("of the picture width"), margins);
    verticalLabel_ = new QLabel(tr("Top && Bottom:"), margins);
    vertical_ = new NumberSpinBox(FieldKind::kMargin, margins);
    verticalUnit_ = MakeUnitLabel(margins);
    verticalOf_ = new QLabel(tr("of the picture height"), margins);
    // With a buddy, "&&" shows as one ampersand.
    horizontalLabel_->setBuddy(horizontal_);
    verticalLabel_->setBuddy(vertical_);
    auto *marginGrid = new QGridLayout(margins);
    marginGrid->addWidget(horizontalLabel_, 0, 0);
    marginGrid->addWidget(horizontal_, 0, 1);
    marginGrid->addWidget(horizontalUnit_, 0, 2);
    marginGrid->addWidget(horizontalOf_, 0, 3);
    marginGrid->addWidget(verticalLabel_, 1, 0);
    marginGrid->addWidget(vertical_, 1, 1);
    marginGrid->addWidget(verticalUnit_, 1, 2);
    marginGrid->addWidget(verticalOf_, 1, 3);
    marginGrid->setColumnStretch(4, 1);

    auto *style = new QGroupBox(tr("Style"), this);
    fullWidth_ = new QCheckBox(tr("Full width"), style);
    roundCorners_ = new QCheckBox(tr("Rounded corners"), style);
    colorLabel_ = new QLabel(tr("Color"), style);
    color_ = new ColorButton(tr("Overlay background color"), style);
    opacity_ = new NumberSpinBox(FieldKind::kOpacity, style);
    opacityLabel_ = new QLabel(tr("% opacity"), style);
    colorLabel_->setBuddy(color_);
    opacityLabel_->setBuddy(opacity_);
    auto *colorRow = new QHBoxLayout;
    colorRow->addWidget(colorLabel_);
    colorRow->addWidget(color_);
    colorRow->addSpacing(12);
    colorRow->addWidget(opacity_);
    colorRow->addWidget(opacityLabel_);
    colorRow->addStretch(1);
    auto *styleLayout = new QVBoxLayout(style);
    styleLayout->addWidget(fullWidth_);
    styleLayout->addWidget(roundCorners_);
    styleLayout->addLayout(colorRow);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(enable_);
    layout->addWidget(margins);
    layout->addWidget(style);
    layout->addStretch(1);

    connect(enable_, &QCheckBox::clicked, this, [this](bool on) {
        SetBackground(*values_, on);
        ApplyEnables();
        emit changed();
    });
    connect(roundCorners_, &QCheckBox::clicked, this, [this](bool on) {
        SetRoundCorners(*values_, on);
        ShowFlags();
        ApplyEnables();
        emit changed();
    });
    connect(fullWidth_, &QCheckBox::clicked, this, [this](bool on) {
        SetFullWidth(*values_, on);
        ShowFlags();
        ApplyEnables();
        emit changed();
    });
    connect(horizontal_, &NumberSpinBox::valueEdited, this, [this](int32_t value) {
        values_->horizontalMargin = static_cast<uint16_t>(value);
        emit changed();
    });
    connect(vertical_, &NumberSpinBox::valueEdited, this, [this](int32_t value) {
        values_->verticalMargin = static_cast<uint16_t>(value);
        emit changed();
    });
    connect(opacity_, &NumberSpinBox::valueEdited, this, [this](int32_t value) {
        values_->backgroundOpacity = static_cast<uint8_t>(value);
        emit changed();
    });
    connect(color_, &ColorButton::colorChosen, this, [this](uint32_t color) {
        values_->backgroundColor = color;
        ApplyEnables();
        emit changed();
    });
    refresh();
}

void BackgroundPage::refresh() {
    const Unit unit = values_->unit();
    horizontal_->setValue(values_->horizontalMargin, unit);
    vertical_->setValue(values_->verticalMargin, unit);
    horizontalUnit_->setText(UnitText(unit));
    verticalUnit_->setText(UnitText(unit));
    opacity_->setValue(values_->backgroundOpacity, unit);
    color_->setColor(values_->backgroundColor);
    ShowFlags();
    ApplyEnables();
}

void BackgroundPage::finishEditing() {
    horizontal_->finishEditing();
    vertical_->finishEditing();
    opacity_->finishEditing();
}

void BackgroundPage::ShowFlags() {
    enable_->setChecked(values_->flag(FLAG_BACKGROUND));
    fullWidth_->setChecked(values_->flag(FLAG_FULL_WIDTH));
    roundCorners_->setChecked(values_->flag(FLAG_ROUND_CORNERS));
}

void BackgroundPage::ApplyEnables() {
    const BackgroundEnables enables = BackgroundEnablesOf(*values_);
    for (QWidget *widget : std::initializer_list<QWidget *>{
             colorLabel_, color_, opacityLabel_, opacity_, verticalLabel_, vertical_, verticalUnit_,
             verticalOf_, fullWidth_, roundCorners_}) {
        widget->setEnabled(enables.box);
    }
    for (QWidget *widget : std::initializer_list<QWidget *>{horizontalLabel_, horizontal_,
                                                            horizontalUnit_, horizontalOf_}) {
        widget->setEnabled(enables.horizontalMargin);
    }
}

}  // namespace mk::app
