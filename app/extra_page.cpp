// The Extra page: how files are written, and the flags that pass through.
#include <QCheckBox>
#include <QGroupBox>
#include <QRadioButton>
#include <QVBoxLayout>

#include "settings_pages.h"

namespace mk::app {

ExtraPage::ExtraPage(DialogValues *values, QWidget *parent) : QWidget(parent), values_(values) {
    auto *files = new QGroupBox(tr("File settings"), this);
    reverseMarker_ = new QCheckBox(tr("Save \"undo stamp\" info"), files);
    readOnly_ = new QCheckBox(tr("Process read-only files"), files);
    auto *filesLayout = new QVBoxLayout(files);
    filesLayout->addWidget(reverseMarker_);
    filesLayout->addWidget(readOnly_);

    // Not offered to the user: they only show the record's flags. Each pair
    // of radio buttons sits in a box of its own so the two pairs are apart.
    auto *hidden = new QWidget(this);
    fromExif_ = new QCheckBox(tr("Read from EXIF"), hidden);
    auto *fileTime = new QWidget(hidden);
    created_ = new QRadioButton(tr("Created"), fileTime);
    modified_ = new QRadioButton(tr("Modified"), fileTime);
    auto *units = new QWidget(hidden);
    pixels_ = new QRadioButton(tr("Pixels"), units);
    proportional_ = new QRadioButton(tr("Proportioanl"), units);
    restamp_ = new QCheckBox(tr("Stamp stamped"), hidden);
    rotate_ = new QCheckBox(tr("Rotate"), hidden);
    hidden->hide();

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(files);
    layout->addWidget(hidden);
    layout->addStretch(1);

    connect(reverseMarker_, &QCheckBox::clicked, this,
            [this](bool on) { SetReverseMarker(*values_, on); });
    connect(readOnly_, &QCheckBox::clicked, this,
            [this](bool on) { SetAllowReadOnly(*values_, on); });
    refresh();
}

void ExtraPage::refresh() {
    reverseMarker_->setChecked(values_->flag(FLAG_REVERSE_MARKER));
    readOnly_->setChecked(values_->flag(FLAG_ALLOW_READONLY));
    fromExif_->setChecked(values_->flag(FLAG_DATE_FROM_EXIF));
    created_->setChecked(values_->flag(FLAG_FILETIME_CREATED));
    modified_->setChecked(!values_->flag(FLAG_FILETIME_CREATED));
    pixels_->setChecked(values_->flag(FLAG_PIXEL_UNITS));
    proportional_->setChecked(!values_->flag(FLAG_PIXEL_UNITS));
    restamp_->setChecked(values_->flag(FLAG_RESTAMP));
    rotate_->setChecked(values_->flag(FLAG_ROTATE));
}

}  // namespace mk::app
