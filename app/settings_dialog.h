// The settings dialog: the main window's whole content. A strip for the
// stamp's sample at the top, the five pages, "Preview ", "Save " and
// "Cancel". It edits the current settings of the main window through its
// working values and writes them into a record only when collected.
#pragma once

#include <QImage>
#include <QMessageBox>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>

#include "MK_Core.h"
#include "dialog_values.h"
#include "stamp_sample.h"

class QCheckBox;
class QPushButton;
class QTabWidget;

namespace mk::app {

class BackgroundPage;
class ExtraPage;
class FontPage;
class FormatPage;
class PositionPage;
class PreviewRenderer;
class PreviewStrip;

class SettingsDialog : public QWidget {
    Q_OBJECT

  public:
    // The close question's answer: Yes, No or Cancel.
    using CloseQuestion = std::function<QMessageBox::StandardButton(QWidget *parent)>;

    // `settings`: the main window's current settings, which the dialog
    // shows now and writes when collected on closing; they must outlive it.
    SettingsDialog(Setts *settings, QWidget *parent);
    ~SettingsDialog() override;

    // Shows `record`: the current settings become it (the snapshot taken at
    // creation stays, so this counts as a change).
    void apply(const Setts &record);
    // Writes the dialog's values into `record` (its size mark and reserved
    // bytes are left as they are).
    void collect(Setts *record);

    // Asked when the main window closes: collects into the current settings;
    // after "Save " stores them; unchanged since creation closes; otherwise
    // asks whether to save (Yes stores and closes, No closes, Cancel stays).
    bool mayClose();
    void setCloseQuestion(CloseQuestion question) { question_ = std::move(question); }

    // The stamp's font is to be in another character set.
    void changeCharSet(uint8_t charSet);
    // The preview window was closed by the user.
    void clearPreviewBox();

    QTabWidget *tabs() const { return tabs_; }
    PreviewStrip *strip() const { return strip_; }
    QCheckBox *previewBox() const { return preview_; }
    // The strip's background as last drawn (the stamp goes over it).
    const Pixels &stripBackground() const { return stripBackground_; }
    // The local time when the dialog was made: the date every sample shows.
    const MK_SystemTime &sampleTime() const { return sampleTime_; }

  signals:
    // "Save " or "Cancel" was pressed: the main window closes (and asks
    // mayClose()).
    void closeRequested();
    // A value the stamp's look depends on changed.
    void valuesChanged();
    // "Preview " is on and a new frame of the sample photograph is ready.
    void previewFrame(const QImage &frame);
    // "Preview " was turned off: the preview window goes.
    void previewOff();

  private:
    void Refresh();
    bool Store();
    void RenderStrip();
    void PreviewToggled(bool on);
    void FrameReady(const QImage &frame);

    Setts *settings_;
    Setts snapshot_;
    DialogValues values_;
    MK_SystemTime sampleTime_;
    bool closeWithSave_ = false;
    CloseQuestion question_;
    PreviewStrip *strip_;
    Pixels stripBackground_;
    std::unique_ptr<PreviewRenderer> renderer_;
    QTabWidget *tabs_;
    FormatPage *format_;
    PositionPage *position_;
    FontPage *font_;
    BackgroundPage *background_;
    ExtraPage *extra_;
    QCheckBox *preview_;
    QPushButton *save_;
    QPushButton *cancel_;
};

// The local time now, as the core's formatter takes it.
MK_SystemTime LocalTimeNow();

// Asks "Settings have been modified. Save?" with Yes, No and Cancel.
QMessageBox::StandardButton AskToSave(QWidget *parent);

}  // namespace mk::app
