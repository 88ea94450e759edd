// The main window: menu, commands, settings files, help, About, the
// close-and-save rule, dropped pictures and the batch every stamping
// command ends with.
#include "main_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLayout>
#include <QLoggingCategory>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QScreen>
#include <QUrl>

#include <algorithm>
#include <string_view>

#include "error_list_window.h"
#include "manual_path.h"
#include "path_list.h"
#include "preview_window.h"
#include "settings_dialog.h"
#include "stamp_commands.h"

Q_LOGGING_CATEGORY(lcDrop, "mirelkanzoar.drop", QtWarningMsg)

namespace mk::app {

namespace {

// What the batch's report callback needs; it runs on the batch's worker
// thread, so it only posts to the window, which lives on the UI thread.
struct ReportTarget {
    ErrorListWindow *window;
};

int32_t ReportFailedFile(const MK_FileReport *report, void *userData) {
    if (report == nullptr || report->result == 0) return 0;
    const auto *target = static_cast<const ReportTarget *>(userData);
    const QString path = QFile::decodeName(report->destination);
    const QString reason = QString::fromUtf8(report->text);
    ErrorListWindow *window = target->window;
    QMetaObject::invokeMethod(
        window, [window, path, reason] { window->addFile(path, reason); }, Qt::QueuedConnection);
    return 0;
}

QString SettingsFilter() {
    return MainWindow::tr("Mirelkanzo settings files (*.mks)") + QStringLiteral(";;") +
           MainWindow::tr("All files (*)");
}

}  // namespace

MainWindow::MainWindow() {
    setWindowTitle(tr("Mirelkanzoar settings"));
    // The stored preferences, or the defaults when there are none.
    MK_SettsLoadFromRegistry(&settings_);
    dialog_ = new SettingsDialog(&settings_, this);
    setCentralWidget(dialog_);
    errors_ = new ErrorListWindow(this);
    preview_ = new PreviewWindow(this);
    commands_ = new StampCommands(this, [this](const paths::PathListBuffer &list,
                                               int32_t operation) { runBatch(list, operation); });
    CreateMenus();
    setAcceptDrops(true);
    connect(dialog_, &SettingsDialog::closeRequested, this, &QWidget::close);
    connect(dialog_, &SettingsDialog::previewFrame, this, &MainWindow::ShowPreviewFrame);
    connect(dialog_, &SettingsDialog::previewOff, this, &MainWindow::HidePreview);
    connect(preview_, &PreviewWindow::closedByUser, this, [this] {
        previewShown_ = false;
        dialog_->clearPreviewBox();
    });

    // The window takes the dialog's size (not resizable, as the dialog's
    // layout has nothing to stretch) and opens in the screen's middle.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    adjustSize();
    if (const QScreen *screen = QGuiApplication::primaryScreen(); screen != nullptr) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
}

void MainWindow::CreateMenus() {
    QMenu *file = menuBar()->addMenu(tr("&File"));
    file->addAction(tr("Stamp &Files..."), QKeySequence(Qt::Key_F5), commands_,
                    [this] { commands_->chooseFiles(OP_STAMP); });
    file->addAction(tr("Stamp Fol&der..."), QKeySequence(Qt::CTRL | Qt::Key_F5), commands_,
                    [this] { commands_->chooseFolder(OP_STAMP); });
    file->addSeparator();
    file->addAction(tr("Undo Stamp Files..."), QKeySequence(Qt::Key_F6), commands_,
                    [this] { commands_->chooseFiles(OP_UNDO); });
    file->addAction(tr("Undo Stamp Folders..."), QKeySequence(Qt::CTRL | Qt::Key_F6), commands_,
                    [this] { commands_->chooseFolder(OP_UNDO); });
    file->addSeparator();
    file->addAction(tr("E&xit"), this, &QWidget::close);

    QMenu *settings = menuBar()->addMenu(tr("&Settings"));
    settings->addAction(tr("&Restore Defaults"), this, &MainWindow::RestoreDefaults);
    settings->addAction(tr("Save &As..."), QKeySequence(Qt::CTRL | Qt::Key_S), this,
                        &MainWindow::SaveSettingsAs);
    settings->addAction(tr("&Load..."), QKeySequence(Qt::CTRL | Qt::Key_O), this,
                        &MainWindow::LoadSettings);

    QMenu *help = menuBar()->addMenu(tr("&Help"));
    help->addAction(tr("&Contents"), QKeySequence(Qt::Key_F1), this, &MainWindow::ShowHelp);
    help->addSeparator();
    help->addAction(tr("&About"), this, &MainWindow::ShowAbout);
}

void MainWindow::ShowPreviewFrame(const QImage &frame) {
    previewShown_ = true;
    // While minimised the frame is kept and shown on restoring.
    preview_->setImage(frame, !isMinimized());
    if (!previewPlaced_ && preview_->isVisible()) PlacePreview();
}

void MainWindow::HidePreview() {
    previewShown_ = false;
    preview_->hide();
}

void MainWindow::PlacePreview() {
    previewPlaced_ = true;
    // Beside the window, on the side with room for it, so neither hides
    // the other; the screen's top-left corner when neither side has room.
    const QScreen *screen = this->screen();
    if (screen == nullptr) return;
    const QRect area = screen->availableGeometry();
    const QRect frame = frameGeometry();
    const QSize size = preview_->frameGeometry().size();
    const int top =
        std::clamp(frame.top(), area.top(), std::max(area.top(), area.bottom() - size.height()));
    if (frame.right() + size.width() < area.right()) {
        preview_->move(frame.right() + 1, top);
    } else if (frame.left() - size.width() >= area.left()) {
        preview_->move(frame.left() - size.width(), top);
    } else {
        preview_->move(area.topLeft());
    }
}

void MainWindow::changeEvent(QEvent *event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) {
        // The preview goes with the window when it is minimised and comes
        // back with it only if it was shown.
        if (isMinimized()) {
            preview_->hide();
        } else if (previewShown_ && !preview_->isVisible()) {
            preview_->show();
        }
    } else if (event->type() == QEvent::ActivationChange && isActiveWindow() &&
               preview_->isVisible()) {
        preview_->raise();
    }
}

void MainWindow::closeEvent(QCloseEvent *event) {
    if (dialog_->mayClose()) {
        event->accept();
    } else {
        event->ignore();
    }
}

void MainWindow::bringForward() {
    if (isMinimized()) showNormal();
    show();
    raise();
    activateWindow();
}

void MainWindow::RestoreDefaults() {
    Setts defaults;
    MK_SettsLoadDefaults(&defaults);
    dialog_->apply(defaults);
}

void MainWindow::SaveSettingsAs() {
    QFileDialog chooser(this, QString(), QString(), SettingsFilter());
    chooser.setAcceptMode(QFileDialog::AcceptSave);
    chooser.setDefaultSuffix(QStringLiteral("mks"));
    if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) return;
    const QString path = chooser.selectedFiles().constFirst();
    Setts copy = settings_;
    dialog_->collect(&copy);
    if (MK_SettsSaveToFile(&copy, QFile::encodeName(path).constData()) != 0) {
        QMessageBox::warning(this, windowTitle(),
                             tr("The settings file \"%1\" could not be written.").arg(path));
    }
}

void MainWindow::LoadSettings() {
    const QString path = QFileDialog::getOpenFileName(this, QString(), QString(), SettingsFilter());
    if (!path.isEmpty()) loadSettingsFile(path, true);
}

bool MainWindow::loadSettingsFile(const QString &path, bool tell) {
    Setts record{};
    const int32_t result = MK_SettsLoadFromFile(&record, QFile::encodeName(path).constData());
    if (result == 0) {
        dialog_->apply(record);
        return true;
    }
    // Nothing changes; the user is told why.
    if (tell) {
        QMessageBox::warning(this, windowTitle(),
                             result == -2
                                 ? tr("\"%1\" is not a settings file.").arg(path)
                                 : tr("The settings file \"%1\" could not be read.").arg(path));
    }
    return false;
}

void MainWindow::ShowHelp() {
    const QString manual = ManualPath();
    if (manual.isEmpty()) {
        QMessageBox::information(this, windowTitle(), tr("The manual is not installed."));
    } else if (!QDesktopServices::openUrl(QUrl::fromLocalFile(manual))) {
        // No browser to hand it to: say where it is, so it can be opened.
        QMessageBox::information(
            this, windowTitle(),
            tr("No web browser was found to show the manual. It is here:\n%1").arg(manual));
    }
}

void MainWindow::ShowAbout() {
    QMessageBox::information(this, tr("About"),
                             tr("Tovu Mirelkanzoar\nv.2.7.1\n\u00A9 2026 Tarvelin"));
}

void MainWindow::dragEnterEvent(QDragEnterEvent *event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    for (const QUrl &url : urls) {
        if (url.isLocalFile()) {
            event->acceptProposedAction();
            return;
        }
    }
}

void MainWindow::dropEvent(QDropEvent *event) {
    QStringList paths;
    for (const QUrl &url : event->mimeData()->urls()) {
        if (url.isLocalFile()) paths.append(url.toLocalFile());
    }
    event->acceptProposedAction();
    // The drop is finished first: the run's progress dialog must not hold
    // up the program the files came from.
    QMetaObject::invokeMethod(
        this, [this, paths] { stampFiles(paths); }, Qt::QueuedConnection);
}

void MainWindow::stampFiles(const QStringList &paths) {
    paths::PathListBuffer list(kPathListStep, paths::PathListBuffer::Growth::kFixedSteps);
    for (const QString &path : paths) {
        const QByteArray name = QFile::encodeName(path);
        if (QFileInfo(path).isDir()) {
            qCDebug(lcDrop, "Folder: %s", name.constData());
            continue;
        }
        if (MK_IsSupportedFile(name.constData()) == 0) continue;
        qCDebug(lcDrop, "File: %s", name.constData());
        list.Add(std::string_view(name.constData(), size_t(name.size())));
    }
    runBatch(list, OP_STAMP);
}

void MainWindow::runBatch(const paths::PathListBuffer &list, int32_t operation) {
    Setts copy = settings_;
    dialog_->collect(&copy);
    errors_->clear();
    ReportTarget target{errors_};
    MK_ProcessFilesEx(static_cast<QWidget *>(this), list.data(), list.data(), operation,
                      PF_SHOW_PROGRESS, &copy, ReportFailedFile, nullptr, &target);
    // Reports still on their way from the worker come in before the list is
    // looked at.
    QCoreApplication::sendPostedEvents(errors_, QEvent::MetaCall);
    if (!errors_->isEmpty()) errors_->show();
}

}  // namespace mk::app
