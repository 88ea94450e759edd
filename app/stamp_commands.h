// The four stamping commands of the File menu: choose files, or a folder
// (with or without its sub-folders), and hand the pictures to the batch,
// which stamps them or takes their stamps off in place. The choosers and
// the batch are function members, so that a test can put its own in place
// of the modal dialogs. At most one folder command runs at a time: a second
// one while the chooser is open, the folder is scanned or its batch runs
// does nothing.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <optional>

#include "folder_chooser.h"
#include "folder_count.h"

class QFileDialog;
class QWidget;

namespace mk::paths {
class PathListBuffer;
}

namespace mk::app {

// The user's pictures folder, or the home folder when there is none.
QString DefaultPicturesFolder();

// Sets up the files chooser of `operation` (OP_STAMP or OP_UNDO): its
// title, the JPEG and all-files filters, several existing files, the start
// folder and the default suffix.
void SetUpFilesDialog(QFileDialog &dialog, int32_t operation, const QString &startFolder);

class StampCommands : public QObject {
    Q_OBJECT

  public:
    // The chosen files, in the order the chooser gives them; none when the
    // user cancelled.
    using FilesChooser =
        std::function<QStringList(QWidget *owner, int32_t operation, const QString &startFolder)>;
    // The chosen folder, or nothing when the user cancelled. `accept` is
    // the rule the chooser's count is to use.
    using FolderChooser = std::function<std::optional<FolderChoice>(
        QWidget *owner, int32_t operation, const QString &startFolder,
        const PictureFilter &accept)>;
    // Runs the batch on the list (in place, behind the progress dialog).
    using Batch = std::function<void(const paths::PathListBuffer &list, int32_t operation)>;

    StampCommands(QWidget *owner, Batch batch);

    // The files commands: choose files, then run the batch on them.
    void chooseFiles(int32_t operation);
    // The folder commands: choose a folder, collect its pictures (behind
    // "Abort folder scan" with sub-folders), then run the batch on them.
    void chooseFolder(int32_t operation);

    void setFilesChooser(FilesChooser chooser) { filesChooser_ = std::move(chooser); }
    void setFolderChooser(FolderChooser chooser) { folderChooser_ = std::move(chooser); }
    void setBatch(Batch batch) { batch_ = std::move(batch); }
    // Which names count as pictures, in the chooser's count and in the
    // collection (the core's rule unless one is given).
    void setPictureFilter(PictureFilter accept) { accept_ = std::move(accept); }

    bool folderCommandRunning() const { return folderBusy_; }
    // Where the next files chooser and folder chooser start.
    QString fileFolder() const { return fileFolder_; }
    QString folder() const { return folder_; }

    // The choosers the program uses: the modal dialogs.
    static QStringList ChooseFilesWithDialog(QWidget *owner, int32_t operation,
                                             const QString &startFolder);
    static std::optional<FolderChoice> ChooseFolderWithDialog(QWidget *owner, int32_t operation,
                                                              const QString &startFolder,
                                                              const PictureFilter &accept);

  private:
    void Collect(const FolderChoice &choice, paths::PathListBuffer &list);

    QWidget *owner_;
    Batch batch_;
    FilesChooser filesChooser_ = &StampCommands::ChooseFilesWithDialog;
    FolderChooser folderChooser_ = &StampCommands::ChooseFolderWithDialog;
    PictureFilter accept_;
    QString fileFolder_;
    QString folder_;
    bool folderBusy_ = false;
};

}  // namespace mk::app
