// The folder chooser of the folder commands: a tree of the file system's
// folders (hidden ones not shown), the "Include sub-folders" check box and
// a status line that counts the pictures of the selected folder on a scan
// thread while the user browses. The count starts again on every change of
// the selection or of the check box; the scan before it is always stopped
// and joined first, and when the dialog closes.
#pragma once

#include <QDialog>
#include <QPersistentModelIndex>
#include <QString>

#include <chrono>
#include <cstdint>
#include <memory>

#include "folder_count.h"

class QCheckBox;
class QFileSystemModel;
class QLabel;
class QPushButton;
class QTreeView;

namespace mk::app {

struct FolderChoice {
    QString folder;
    bool includeSubFolders = false;
};

class FolderChooserDialog : public QDialog {
    Q_OBJECT

  public:
    // `operation` (OP_STAMP or OP_UNDO) picks the texts; `startFolder` is
    // selected first (the home folder when it does not exist). `accept`
    // tells pictures from other files (the core's rule when empty).
    FolderChooserDialog(QWidget *owner, int32_t operation, const QString &startFolder,
                        PictureFilter accept = {});
    ~FolderChooserDialog() override;

    // The status line's text for a count that has ended.
    static QString CountText(int32_t pictures);

    // What the user chose (meaningful once accepted).
    FolderChoice choice() const;
    // Selects the folder in the tree, which counts its pictures.
    void selectFolder(const QString &path);
    QString selectedFolder() const { return selected_; }
    QString statusText() const;
    // The count of the present selection has ended.
    bool countFinished() const { return countFinished_; }
    // The least time between two running counts on the status line.
    void setReportInterval(std::chrono::milliseconds interval) { interval_ = interval; }

    QLabel *titleLabel() const { return title_; }
    QTreeView *tree() const { return tree_; }
    QFileSystemModel *model() const { return model_; }
    QCheckBox *includeBox() const { return include_; }
    QPushButton *okButton() const { return ok_; }

  signals:
    void statusChanged(const QString &text);

  public slots:
    void done(int result) override;

  protected:
    void showEvent(QShowEvent *event) override;

  private:
    void SelectionChanged();
    void IncludeToggled(bool checked);
    void Recount();
    void StopCount();
    void ShowCount(uint64_t generation, int32_t pictures, bool finished);
    void SetStatus(const QString &text);

    const PictureFilter accept_;
    QLabel *title_;
    QFileSystemModel *model_;
    QTreeView *tree_;
    QCheckBox *include_;
    QLabel *status_;
    QPushButton *ok_;
    QString selected_;
    // The start folder while the view keeps it in sight.
    QPersistentModelIndex start_;
    std::chrono::milliseconds interval_{100};
    std::unique_ptr<FolderScan> scan_;
    // Tells the reports of the present count from those of a count that
    // was stopped but whose last reports were still queued.
    uint64_t generation_ = 0;
    bool countFinished_ = false;
};

}  // namespace mk::app
