// The main window "Mirelkanzoar settings": the settings dialog as its whole
// content, the menu of commands (stamping and undoing chosen files and
// folders), settings files, help and About, the close-and-save rule and
// pictures dropped onto it, which are stamped in place at once.
#pragma once

#include <QMainWindow>
#include <QStringList>

#include "MK_Core.h"

class QAction;

namespace mk::paths {
class PathListBuffer;
}

namespace mk::app {

class ErrorListWindow;
class PreviewWindow;
class SettingsDialog;
class StampCommands;

class MainWindow : public QMainWindow {
    Q_OBJECT

  public:
    MainWindow();

    SettingsDialog *settingsDialog() const { return dialog_; }
    ErrorListWindow *errorList() const { return errors_; }
    PreviewWindow *previewWindow() const { return preview_; }
    // The preview is on: shown now, or hidden only while this is minimised.
    bool previewShown() const { return previewShown_; }
    const Setts &settings() const { return settings_; }
    // The File menu's stamping commands, with their choosers.
    StampCommands *stampCommands() const { return commands_; }

    // Stamps the supported pictures among `paths` in place with the
    // dialog's settings behind the progress dialog (folders and other files
    // are skipped) and lists the failures. What a drop does.
    void stampFiles(const QStringList &paths);

    // Stamps (OP_STAMP) or restores (OP_UNDO) the pictures of `list` in
    // place with the dialog's settings behind the progress dialog, and
    // shows the "Error file list" when any failed. What every command ends
    // with.
    void runBatch(const paths::PathListBuffer &list, int32_t operation);

    // Loads a settings file into the dialog; false (and a message when
    // `tell` is set) when it is not one.
    bool loadSettingsFile(const QString &path, bool tell);

    // Restores, raises and activates the window.
    void bringForward();

  protected:
    void changeEvent(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

  private:
    void CreateMenus();
    void RestoreDefaults();
    void SaveSettingsAs();
    void LoadSettings();
    void ShowHelp();
    void ShowAbout();
    void ShowPreviewFrame(const QImage &frame);
    void HidePreview();
    void PlacePreview();

    Setts settings_{};
    SettingsDialog *dialog_;
    ErrorListWindow *errors_;
    PreviewWindow *preview_;
    StampCommands *commands_;
    bool previewShown_ = false;
    bool previewPlaced_ = false;
};

}  // namespace mk::app
