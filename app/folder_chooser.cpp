// The folder chooser with its picture count.
#include "folder_chooser.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTreeView>
#include <QVBoxLayout>

#include <utility>

#include "MK_Core.h"

namespace mk::app {

FolderChooserDialog::FolderChooserDialog(QWidget *owner, int32_t operation,
                                         const QString &startFolder, PictureFilter accept)
    : QDialog(owner), accept_(std::move(accept)) {
    const bool stamping = operation == OP_STAMP;
    setWindowTitle(stamping ? tr("Stamp folders") : tr("Undo Stamp"));
    title_ = new QLabel(stamping ? tr("Select folders to stamp") : tr("Select folders to restore"),
                        this);

    model_ = new QFileSystemModel(this);
    // Folders only; without QDir::Hidden the '.' folders are not shown.
    model_->setFilter(QDir::Dirs | QDir::Drives | QDir::NoDotAndDotDot);
    model_->setReadOnly(true);
    model_->setRootPath(QDir::rootPath());
    tree_ = new QTreeView(this);
    tree_->setModel(model_);
    tree_->setHeaderHidden(true);
    // The name alone: size, type and date say nothing about a folder's
    // pictures.
    for (int column = 1; column < model_->columnCount(); ++column) tree_->hideColumn(column);
    // Names are shown whole, with a scroll bar when a deep tree needs one,
    // rather than cut short at the view's edge.
    tree_->header()->setStretchLastSection(false);
    tree_->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    tree_->setSelectionMode(QAbstractItemView::SingleSelection);
    tree_->setMinimumSize(360, 320);

    include_ = new QCheckBox(tr("Include sub-folders"), this);
    status_ = new QLabel(tr("0 picture"), this);
    status_->setTextFormat(Qt::PlainText);

    // The standard buttons, so that both wear the style's icons.
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    ok_ = buttons->button(QDialogButtonBox::Ok);
    ok_->setText(stamping ? tr("Stamp") : tr("Undo Stamp"));
    ok_->setDefault(true);
    ok_->setEnabled(false);

    auto *bottom = new QHBoxLayout;
    bottom->addWidget(include_);
    bottom->addStretch(1);
    bottom->addWidget(buttons);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(title_);
    layout->addWidget(tree_, 1);
    layout->addWidget(status_);
    layout->addLayout(bottom);

    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(include_, &QCheckBox::toggled, this, &FolderChooserDialog::IncludeToggled);
    connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &FolderChooserDialog::SelectionChanged);

    const QString start = QFileInfo(startFolder).isDir() ? startFolder : QDir::homePath();
    selectFolder(start);
    start_ = tree_->currentIndex();
    // The model reads and sorts the folders on its own thread, moving the
    // rows around the start folder; it is kept in the middle of the view
    // until the user scrolls or selects another folder.
    const auto follow = [this] {
        if (start_.isValid() && tree_->currentIndex() == start_)
            tree_->scrollTo(start_, QAbstractItemView::PositionAtCenter);
    };
    connect(model_, &QFileSystemModel::directoryLoaded, this, follow);
    connect(model_, &QAbstractItemModel::layoutChanged, this, follow);
    connect(model_, &QAbstractItemModel::rowsInserted, this, follow);
    connect(tree_->verticalScrollBar(), &QAbstractSlider::actionTriggered, this,
            [this] { start_ = QPersistentModelIndex(); });
}

void FolderChooserDialog::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    if (start_.isValid()) tree_->scrollTo(start_, QAbstractItemView::PositionAtCenter);
}

FolderChooserDialog::~FolderChooserDialog() { StopCount(); }

QString FolderChooserDialog::CountText(int32_t pictures) {
    if (pictures <= 0) return tr("Pictures are not found");
    if (pictures == 1) return tr("%1 picture was found").arg(pictures);
    return tr("%1 pictures were found").arg(pictures);
}

FolderChoice FolderChooserDialog::choice() const { return {selected_, include_->isChecked()}; }

void FolderChooserDialog::selectFolder(const QString &path) {
    const QModelIndex index = model_->index(path);
    if (!index.isValid()) return;
    tree_->setCurrentIndex(index);
    tree_->scrollTo(index);
}

QString FolderChooserDialog::statusText() const { return status_->text(); }

void FolderChooserDialog::done(int result) {
    StopCount();
    QDialog::done(result);
}

void FolderChooserDialog::SelectionChanged() {
    const QModelIndex current = tree_->currentIndex();
    selected_ = current.isValid() ? model_->filePath(current) : QString();
    if (current != start_) start_ = QPersistentModelIndex();
    ok_->setEnabled(!selected_.isEmpty());
    Recount();
}

void FolderChooserDialog::IncludeToggled(bool checked) {
    // The descent ends at once, before the thread is joined.
    if (!checked && scan_) scan_->excludeSubFolders();
    Recount();
}

void FolderChooserDialog::StopCount() {
    if (scan_) scan_->stop();
    scan_.reset();
    // What the stopped count still has on its way is dropped.
    ++generation_;
}

void FolderChooserDialog::Recount() {
    StopCount();
    const uint64_t generation = generation_;
    countFinished_ = false;
    SetStatus(tr("0 picture"));
    if (selected_.isEmpty()) return;

    FolderScanOptions options;
    options.folder = QFile::encodeName(selected_).toStdString();
    options.includeSubFolders = include_->isChecked();
    options.accept = accept_;
    options.reportInterval = interval_;
    FolderScanListener listener;
    // On the scan thread: only queued calls reach the dialog.
    listener.progress = [this, generation](int32_t pictures, int32_t) {
        QMetaObject::invokeMethod(
            this, [this, generation, pictures] { ShowCount(generation, pictures, false); },
            Qt::QueuedConnection);
    };
    listener.finished = [this, generation](const FolderScanResult &result) {
        const int32_t pictures = result.pictures;
        QMetaObject::invokeMethod(
            this, [this, generation, pictures] { ShowCount(generation, pictures, true); },
            Qt::QueuedConnection);
    };
    scan_ = std::make_unique<FolderScan>(std::move(options), std::move(listener));
}

void FolderChooserDialog::ShowCount(uint64_t generation, int32_t pictures, bool finished) {
    if (generation != generation_) return;
    if (finished) {
        countFinished_ = true;
        SetStatus(CountText(pictures));
    } else if (pictures > 0) {
        SetStatus(CountText(pictures));
    }
}

void FolderChooserDialog::SetStatus(const QString &text) {
    if (status_->text() == text) return;
    status_->setText(text);
    emit statusChanged(text);
}

}  // namespace mk::app
