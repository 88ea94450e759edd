// The settings dialog's frame: pages, buttons, apply and collect, and the
// close question.
#include "settings_dialog.h"

#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <cstring>
#include <ctime>

#include "settings_pages.h"

namespace mk::app {

QMessageBox::StandardButton AskToSave(QWidget *parent) {
    return QMessageBox::question(parent, SettingsDialog::tr("Confirm"),
                                 SettingsDialog::tr("Settings have been modified. Save?"),
                                 QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel,
                                 QMessageBox::Yes);
}

SettingsDialog::SettingsDialog(Setts *settings, QWidget *parent)
    : QWidget(parent),
      settings_(settings),
      snapshot_(*settings),
      values_(ValuesFromSetts(*settings)),
      sampleTime_(LocalTimeNow()),
      question_(AskToSave) {
    // The sample strip: the stamp's text in the current look (drawn by the
    // preview, which comes with the preview window).
    strip_ = new QFrame(this);
    strip_->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    strip_->setMinimumHeight(72);

    tabs_ = new QTabWidget(this);
    format_ = new FormatPage(&values_, sampleTime_, tabs_);
    position_ = new PositionPage(&values_, tabs_);
    font_ = new FontPage(&values_, tabs_);
    background_ = new BackgroundPage(&values_, tabs_);
    extra_ = new ExtraPage(&values_, tabs_);
    tabs_->addTab(format_, tr("Format"));
    tabs_->addTab(position_, tr("Position"));
    tabs_->addTab(font_, tr("Font"));
    tabs_->addTab(background_, tr("Background"));
    tabs_->addTab(extra_, tr("Extra"));
    tabs_->setCurrentIndex(0);

    // Shows the stamp on a sample photograph once the preview window exists.
    preview_ = new QCheckBox(tr("Preview "), this);
    preview_->setEnabled(false);
    save_ = new QPushButton(tr("Save "), this);
    cancel_ = new QPushButton(tr("Cancel"), this);
    save_->setDefault(false);
    save_->setAutoDefault(false);
    cancel_->setAutoDefault(false);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(preview_);
    buttons->addStretch(1);
    buttons->addWidget(save_);
    buttons->addWidget(cancel_);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(strip_);
    layout->addWidget(tabs_, 1);
    layout->addLayout(buttons);

    connect(save_, &QPushButton::clicked, this, [this] {
        closeWithSave_ = true;
        emit closeRequested();
    });
    connect(cancel_, &QPushButton::clicked, this, [this] {
        closeWithSave_ = false;
        emit closeRequested();
    });
    connect(format_, &FormatPage::changed, this, &SettingsDialog::valuesChanged);
    connect(format_, &FormatPage::charSetChanged, this, &SettingsDialog::changeCharSet);
    connect(position_, &PositionPage::changed, this, &SettingsDialog::valuesChanged);
    connect(font_, &FontPage::changed, this, &SettingsDialog::valuesChanged);
    connect(background_, &BackgroundPage::changed, this, &SettingsDialog::valuesChanged);
}

void SettingsDialog::apply(const Setts &record) {
    *settings_ = record;
    values_ = ValuesFromSetts(record);
    Refresh();
    emit valuesChanged();
}

void SettingsDialog::Refresh() {
    format_->refresh();
    position_->refresh();
    font_->refresh();
    background_->refresh();
    extra_->refresh();
}

void SettingsDialog::collect(Setts *record) {
    // Fields being typed in show what is kept, as when editing ends.
    position_->finishEditing();
    font_->finishEditing();
    background_->finishEditing();
    CollectValues(values_, record);
}

bool SettingsDialog::mayClose() {
    collect(settings_);
    if (closeWithSave_) return Store();
    if (std::memcmp(settings_, &snapshot_, sizeof snapshot_) == 0) return true;
    switch (question_(this)) {
        case QMessageBox::Yes:
            return Store();
        case QMessageBox::No:
            return true;
        default:
            return false;
    }
}

bool SettingsDialog::Store() {
    if (MK_SettsSaveToRegistry(settings_) == 0) return true;
    // Closing now would lose the settings: say so and stay open.
    closeWithSave_ = false;
    QMessageBox::warning(this, tr("Mirelkanzoar settings"),
                         tr("The settings could not be stored. They are still open here; "
                            "\"Save As...\" can keep them in a settings file."));
    return false;
}

void SettingsDialog::changeCharSet(uint8_t charSet) {
    // The language reports its character set whenever it is shown; the face
    // is only replaced when the set really changes, so showing a record
    // does not alter it.
    if (charSet != values_.charSet) font_->changeCharSet(charSet);
}

void SettingsDialog::clearPreviewBox() { preview_->setChecked(false); }

MK_SystemTime LocalTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    MK_SystemTime time{};
    time.wYear = uint16_t(local.tm_year + 1900);
    time.wMonth = uint16_t(local.tm_mon + 1);
    time.wDayOfWeek = uint16_t(local.tm_wday);
    time.wDay = uint16_t(local.tm_mday);
    time.wHour = uint16_t(local.tm_hour);
    time.wMinute = uint16_t(local.tm_min);
    time.wSecond = uint16_t(local.tm_sec);
    return time;
}

}  // namespace mk::app
