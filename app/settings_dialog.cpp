// The settings dialog's frame: pages, buttons, apply and collect, and the
// close question.
#include "settings_dialog.h"

#include <QCheckBox>
#include <QFile>
#include <QHBoxLayout>
#include <QLoggingCategory>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <cstring>
#include <ctime>

#include "preview_renderer.h"
#include "preview_strip.h"
#include "settings_pages.h"

Q_LOGGING_CATEGORY(lcPreview, "mirelkanzoar.preview", QtWarningMsg)

// The resources live in a static library, whose unreferenced initialiser
// the linker would drop; Q_INIT_RESOURCE must be called outside a namespace.
static void InitResources() { Q_INIT_RESOURCE(resources); }

namespace mk::app {

namespace {

// The sample photograph compiled into the program, decoded by the core as
// a stamped file would be; empty when it cannot be had.
Pixels SamplePhotograph() {
    InitResources();
    QFile file(QStringLiteral(":/sample.jpg"));
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray data = file.readAll();
    int32_t width = 0;
    int32_t height = 0;
    if (MK_DecodeJPEG(data.constData(), int32_t(data.size()), nullptr, &width, &height) != 0 ||
        width <= 0 || height <= 0) {
        return {};
    }
    Pixels pixels(width, height);
    if (MK_DecodeJPEG(data.constData(), int32_t(data.size()), pixels.bytes.data(), &width,
                      &height) != 0) {
        return {};
    }
    return pixels;
}

}  // namespace

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
    // The sample strip: the stamp's text in the current look.
    strip_ = new PreviewStrip(this);
    strip_->setFixedHeight(72);

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

    // Shows the stamp on the sample photograph in the preview window.
    preview_ = new QCheckBox(tr("Preview "), this);
    Pixels sample = SamplePhotograph();
    if (sample.bytes.empty()) {
        // Only a broken build lacks it; the rest of the program still works.
        qCWarning(lcPreview, "The sample photograph cannot be decoded; no preview.");
        preview_->setEnabled(false);
    } else {
        renderer_ = std::make_unique<PreviewRenderer>(std::move(sample), [this](Pixels frame) {
            // On the render thread: the image is made here, the window is
            // told on the user-interface thread.
            QImage image = ImageOf(frame);
            QMetaObject::invokeMethod(
                this, [this, image] { FrameReady(image); }, Qt::QueuedConnection);
        });
    }
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
    connect(preview_, &QCheckBox::toggled, this, &SettingsDialog::PreviewToggled);
    connect(strip_, &PreviewStrip::resized, this, &SettingsDialog::RenderStrip);
    connect(this, &SettingsDialog::valuesChanged, this, &SettingsDialog::RenderStrip);
    connect(format_, &FormatPage::changed, this, &SettingsDialog::valuesChanged);
    connect(format_, &FormatPage::charSetChanged, this, &SettingsDialog::changeCharSet);
    connect(position_, &PositionPage::changed, this, &SettingsDialog::valuesChanged);
    connect(font_, &FontPage::changed, this, &SettingsDialog::valuesChanged);
    connect(background_, &BackgroundPage::changed, this, &SettingsDialog::valuesChanged);
}

SettingsDialog::~SettingsDialog() {
    // The render thread calls back into this object: it ends first.
    if (renderer_ != nullptr) renderer_->stop();
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

void SettingsDialog::RenderStrip() {
    Setts record = *settings_;
    CollectValues(values_, &record);
    char text[256];
    StampText(record, sampleTime_, text);
    const OverlayLayer layer = LayerFromSetts(record, text);

    const QSize area = strip_->area();
    if (area.width() > 0 && area.height() > 0) {
        if (stripBackground_.width != area.width() || stripBackground_.height != area.height())
            stripBackground_ = StripBackground(area.width(), area.height());
        Pixels work = stripBackground_;
        Stamp(work, StripLayer(layer, work.width, work.height));
        strip_->setImage(ImageOf(work));
    }
    // The photograph gets the real placement and size, scaled to it by the
    // render thread.
    if (preview_->isChecked() && renderer_ != nullptr) renderer_->post(layer);
}

void SettingsDialog::PreviewToggled(bool on) {
    if (on) {
        RenderStrip();
    } else {
        emit previewOff();
    }
}

void SettingsDialog::FrameReady(const QImage &frame) {
    // A frame of a render asked for before "Preview " was turned off.
    if (preview_->isChecked()) emit previewFrame(frame);
}

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
