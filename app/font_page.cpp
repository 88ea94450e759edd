// The Font page: face and style lists from the installed fonts, size,
// colour, opacity and anti-aliasing.
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "color_button.h"
#include "font_lists.h"
#include "number_spin_box.h"
#include "settings_pages.h"

namespace mk::app {

namespace {

QString StyleName(int style) {
    switch (style) {
        case 0:
            return FontPage::tr("Regular");
        case 1:
            return FontPage::tr("Italic");
        case 2:
            return FontPage::tr("Bold");
        default:
            return FontPage::tr("Bold Italic");
    }
}

constexpr uint8_t kAntialiased = 4;
constexpr uint8_t kPlain = 1;

}  // namespace

FontPage::FontPage(DialogValues *values, QWidget *parent) : QWidget(parent), values_(values) {
    face_ = new QComboBox(this);
    style_ = new QComboBox(this);
    size_ = new NumberSpinBox(FieldKind::kFontSize, this);
    sizeUnit_ = MakeUnitLabel(this);
    color_ = new ColorButton(tr("Overlay font color"), this);
    opacity_ = new NumberSpinBox(FieldKind::kOpacity, this);
    antiAliasing_ = new QCheckBox(tr("Use anti-aliasing"), this);
    face_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    face_->setMinimumContentsLength(24);
    style_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    style_->setMinimumContentsLength(12);

    auto *faceLabel = new QLabel(tr("Face:"), this);
    auto *styleLabel = new QLabel(tr("Style:"), this);
    auto *sizeLabel = new QLabel(tr("Size:"), this);
    auto *colorLabel = new QLabel(tr("Color:"), this);
    auto *opacityLabel = new QLabel(tr("% opacity"), this);
    faceLabel->setBuddy(face_);
    styleLabel->setBuddy(style_);
    sizeLabel->setBuddy(size_);
    colorLabel->setBuddy(color_);
    opacityLabel->setBuddy(opacity_);

    auto *sizeRow = new QHBoxLayout;
    sizeRow->addWidget(size_);
    sizeRow->addWidget(sizeUnit_);
    sizeRow->addWidget(new QLabel(tr("of the picture dimension"), this));
    sizeRow->addStretch(1);
    auto *colorRow = new QHBoxLayout;
    colorRow->addWidget(color_);
    colorRow->addSpacing(12);
    colorRow->addWidget(opacity_);
    colorRow->addWidget(opacityLabel);
    colorRow->addStretch(1);

    auto *grid = new QGridLayout;
    grid->addWidget(faceLabel, 0, 0);
    grid->addWidget(face_, 0, 1);
    grid->addWidget(styleLabel, 1, 0);
    grid->addWidget(style_, 1, 1, Qt::AlignLeft);
    grid->addWidget(sizeLabel, 2, 0);
    grid->addLayout(sizeRow, 2, 1);
    grid->addWidget(colorLabel, 3, 0);
    grid->addLayout(colorRow, 3, 1);
    grid->addWidget(antiAliasing_, 4, 1);
    grid->setColumnStretch(1, 1);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addStretch(1);

    connect(face_, &QComboBox::activated, this, &FontPage::FaceChosen);
    connect(style_, &QComboBox::activated, this, &FontPage::StyleChosen);
    connect(size_, &NumberSpinBox::valueEdited, this, [this](int32_t value) {
        values_->fontSize = static_cast<uint32_t>(value);
        emit changed();
    });
    connect(opacity_, &NumberSpinBox::valueEdited, this, [this](int32_t value) {
        values_->fontOpacity = static_cast<uint8_t>(value);
        emit changed();
    });
    connect(color_, &ColorButton::colorChosen, this, [this](uint32_t color) {
        values_->fontColor = color;
        emit changed();
    });
    connect(antiAliasing_, &QCheckBox::clicked, this, [this](bool on) {
        values_->fontQuality = on ? kAntialiased : kPlain;
        emit changed();
    });
    refresh();
}

void FontPage::refresh() {
    color_->setColor(values_->fontColor);
    opacity_->setValue(values_->fontOpacity, values_->unit());
    antiAliasing_->setChecked(values_->fontQuality == kAntialiased);
    size_->setValue(static_cast<int32_t>(values_->fontSize), values_->unit());
    sizeUnit_->setText(UnitText(values_->unit()));
    FillFaces();
    SelectFace();
    FillStyles();
}

void FontPage::finishEditing() {
    size_->finishEditing();
    opacity_->finishEditing();
}

void FontPage::changeCharSet(uint8_t charSet) {
    values_->charSet = charSet;
    FillFaces();
    const QString face = MatchedFace(FieldText(values_->fontFace), 700, 0, charSet);
    SetFieldText(values_->fontFace, face);
    SelectFace();
    emit changed();
}

void FontPage::FillFaces() {
    if (familiesCharSet_ == values_->charSet) return;
    families_ = FontFamilies(values_->charSet);
    familiesCharSet_ = values_->charSet;
    face_->clear();
    face_->addItems(families_);
}

void FontPage::SelectFace() {
    const QString face = FieldText(values_->fontFace);
    const int index = FindFace(families_, face);
    face_->setCurrentIndex(index);
    // A face that is not installed stays in the record; the list says so
    // and names the face the stamp is drawn with instead.
    if (index < 0 && !face.isEmpty()) {
        const QString used =
            MatchedFace(face, values_->fontWeight, values_->fontItalic, values_->charSet);
        face_->setPlaceholderText(tr("%1 (not installed: %2)").arg(face, used));
    } else {
        face_->setPlaceholderText(QString());
    }
}

void FontPage::FillStyles() {
    const int faceIndex = face_->currentIndex();
    const QString face = faceIndex >= 0 ? families_[faceIndex] : FieldText(values_->fontFace);
    style_->clear();
    for (int style : FontStyleNumbers(face, values_->charSet)) {
        style_->addItem(StyleName(style), style);
    }
    const int wanted = StyleNumber(values_->fontWeight, values_->fontItalic);
    const int index = style_->findData(wanted);
    style_->setCurrentIndex(index >= 0 ? index : 0);
    style_->setPlaceholderText(StyleName(wanted));
}

void FontPage::FaceChosen(int index) {
    if (index < 0 || index >= families_.size()) return;
    SetFieldText(values_->fontFace, families_[index]);
    values_->fontWeight = 400;
    values_->fontItalic = 0;
    FillStyles();
    // A face without a regular style shows its first style: keep what is
    // shown and what is stamped the same.
    if (style_->currentIndex() >= 0) {
        const int style = style_->currentData().toInt();
        values_->fontWeight = WeightOfStyle(style);
        values_->fontItalic = ItalicOfStyle(style);
    }
    emit changed();
}

void FontPage::StyleChosen(int index) {
    if (index < 0) return;
    const int style = style_->itemData(index).toInt();
    values_->fontWeight = WeightOfStyle(style);
    values_->fontItalic = ItalicOfStyle(style);
    emit changed();
}

}  // namespace mk::app
