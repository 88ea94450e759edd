// The stamping commands: the choosers, the folder scan and the batch.
#include "stamp_commands.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QScopeGuard>
#include <QStandardPaths>

#include <string_view>

#include "MK_Core.h"
#include "abort_scan_dialog.h"
#include "path_list.h"

Q_LOGGING_CATEGORY(lcCollect, "mirelkanzoar.collect", QtWarningMsg)

namespace mk::app {

namespace {

void Trace(const paths::PathListBuffer &list) {
    if (!lcCollect().isDebugEnabled()) return;
    for (const std::string &path : list.Entries()) qCDebug(lcCollect, "Path: %s", path.c_str());
}

}  // namespace

QString DefaultPicturesFolder() {
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    return !pictures.isEmpty() && QFileInfo(pictures).isDir() ? pictures : QDir::homePath();
}

void SetUpFilesDialog(QFileDialog &dialog, int32_t operation, const QString &startFolder) {
    dialog.setWindowTitle(operation == OP_STAMP ? QFileDialog::tr("Choose file to stamp")
                                                : QFileDialog::tr("Choose file to restore"));
    // Qt's own dialog, whose filters match names in any case, so that a
    // camera's "IMG_0001.JPG" is shown; platform dialogs may match the
    // patterns' case exactly.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFilter(dialog.filter() & ~QDir::CaseSensitive);
    dialog.setNameFilters(
        {QFileDialog::tr("JPEG files (*.jpg *.jpeg *.jpe)"), QFileDialog::tr("All files (*)")});
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setDefaultSuffix(QStringLiteral("jpg"));
    dialog.setDirectory(startFolder);
}

StampCommands::StampCommands(QWidget *owner, Batch batch)
    : QObject(owner),
      owner_(owner),
      batch_(std::move(batch)),
      fileFolder_(DefaultPicturesFolder()),
      folder_(QDir::homePath()) {}

QStringList StampCommands::ChooseFilesWithDialog(QWidget *owner, int32_t operation,
                                                 const QString &startFolder) {
    QFileDialog dialog(owner);
    SetUpFilesDialog(dialog, operation, startFolder);
    if (dialog.exec() != QDialog::Accepted) return {};
    return dialog.selectedFiles();
}

std::optional<FolderChoice> StampCommands::ChooseFolderWithDialog(QWidget *owner, int32_t operation,
                                                                  const QString &startFolder,
                                                                  const PictureFilter &accept) {
    FolderChooserDialog dialog(owner, operation, startFolder, accept);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.choice();
}

void StampCommands::chooseFiles(int32_t operation) {
    const QStringList files = filesChooser_(owner_, operation, fileFolder_);
    if (files.isEmpty()) return;
    fileFolder_ = QFileInfo(files.constFirst()).absolutePath();
    paths::PathListBuffer list(kPathListStep, paths::PathListBuffer::Growth::kFixedSteps);
    // Not checked against the core's rule: the batch says why a file that
    // is no picture was left alone.
    for (const QString &file : files) {
        const QByteArray path = QFile::encodeName(file);
        list.Add(std::string_view(path.constData(), size_t(path.size())));
    }
    Trace(list);
    batch_(list, operation);
}

void StampCommands::chooseFolder(int32_t operation) {
    if (folderBusy_) return;
    folderBusy_ = true;
    const auto done = qScopeGuard([this] { folderBusy_ = false; });
    const std::optional<FolderChoice> choice = folderChooser_(owner_, operation, folder_, accept_);
    if (!choice || choice->folder.isEmpty()) return;
    folder_ = choice->folder;
    paths::PathListBuffer list(kPathListStep, paths::PathListBuffer::Growth::kFixedSteps);
    Collect(*choice, list);
    Trace(list);
    // Also an empty list: the batch has nothing to do and says nothing.
    batch_(list, operation);
}

void StampCommands::Collect(const FolderChoice &choice, paths::PathListBuffer &list) {
    FolderScanOptions options;
    options.folder = QFile::encodeName(choice.folder).toStdString();
    options.includeSubFolders = choice.includeSubFolders;
    options.collect = &list;
    options.accept = accept_;
    FolderScanResult result;
    if (!choice.includeSubFolders) {
        result = FolderScan::Run(options, {});
    } else {
        // Declared before the scan, so that the scan thread, which posts to
        // it, is joined before the dialog goes.
        AbortScanDialog dialog(owner_);
        FolderScanListener listener;
        listener.progress = [&dialog](int32_t pictures, int32_t folders) {
            QMetaObject::invokeMethod(
                &dialog, [&dialog, pictures, folders] { dialog.setCounts(folders, pictures); },
                Qt::QueuedConnection);
        };
        listener.finished = [&dialog](const FolderScanResult &ended) {
            const int32_t pictures = ended.pictures;
            const int32_t folders = ended.folders;
            QMetaObject::invokeMethod(
                &dialog,
                [&dialog, pictures, folders] {
                    dialog.setCounts(folders, pictures);
                    dialog.finish();
                },
                Qt::QueuedConnection);
        };
        FolderScan scan(std::move(options), std::move(listener));
        connect(&dialog, &AbortScanDialog::abortRequested, &dialog,
                [&scan] { scan.requestStop(); });
        if (!scan.finished()) dialog.exec();
        // An abort still hands over what was found before it.
        scan.join();
        result = scan.result();
    }
    if (result.outOfMemory) {
        QMessageBox::warning(owner_, owner_ != nullptr ? owner_->windowTitle() : QString(),
                             tr("There is not enough memory to list every picture of \"%1\"; "
                                "the first %2 are processed.")
                                 .arg(choice.folder)
                                 .arg(result.pictures));
    }
}

}  // namespace mk::app
