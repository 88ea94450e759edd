// The settings dialog: the main window's whole content. A strip for the
// stamp's sample at the top, the five pages, "Preview ", "Save " and
// "Cancel". It edits the current settings of the main window through its
// working values and writes them into a record only when collected.
#pragma once

#include <QMessageBox>
#include <QWidget>

#include <cstdint>
#include <functional>

#include "MK_Core.h"
#include "dialog_values.h"

class QCheckBox;
class QFrame;
class QPushButton;
class QTabWidget;

namespace mk::app {

class BackgroundPage;
class ExtraPage;
class FontPage;
class FormatPage;
class PositionPage;

class SettingsDialog : public QWidget {
    Q_OBJECT

  public:
    // The close question's answer: Yes, No or Cancel.
    using CloseQuestion = std::function<QMessageBox::StandardButton(QWidget *parent)>;

    // `settings`: the main window's current settings, which the dialog
    // shows now and writes when collected on closing; they must outlive it.
    SettingsDialog(Setts *settings, QWidget *parent);

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
    // The local time when the dialog was made: the date every sample shows.
    const MK_SystemTime &sampleTime() const { return sampleTime_; }

  signals:
    // "Save " or "Cancel" was pressed: the main window closes (and asks
    // mayClose()).
    void closeRequested();
    // A value the stamp's look depends on changed.
    void valuesChanged();

  private:
    void Refresh();
    bool Store();

    Setts *settings_;
    Setts snapshot_;
    DialogValues values_;
    MK_SystemTime sampleTime_;
    bool closeWithSave_ = false;
    CloseQuestion question_;
    QFrame *strip_;
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
