// The stamping commands with the choosers and the batch replaced: the files
// chooser's set-up (filters that match any case), what each command hands
// to the batch, where the choosers start, cancelling, the collection of a
// folder with and without its sub-folders, the "Abort folder scan" dialog
// and an abort in the middle of a scan, and at most one folder command at a
// time.
#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "MK_Core.h"
#include "abort_scan_dialog.h"
#include "folder_count.h"
#include "path_list.h"
#include "stamp_commands.h"

using mk::app::AbortScanDialog;
using mk::app::FolderChoice;
using mk::app::StampCommands;
using mk::paths::PathListBuffer;

namespace {

bool Touch(const QString &path) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly);
}

std::vector<std::string> Paths(const QString &root, const QStringList &names) {
    std::vector<std::string> paths;
    for (const QString &name : names)
        paths.push_back(QFile::encodeName(root + '/' + name).toStdString());
    return paths;
}

// What the batch was given, each time.
struct Runs {
    struct Run {
        std::vector<std::string> entries;
        size_t capacity;
        int32_t operation;
    };
    std::vector<Run> runs;

    StampCommands::Batch batch() {
        return [this](const PathListBuffer &list, int32_t operation) {
            runs.push_back({list.Entries(), list.capacity(), operation});
        };
    }
};

// A folder chooser that gives `choice` and notes where it was started.
struct Chooser {
    std::optional<FolderChoice> choice;
    QStringList starts;
    std::function<void()> inside;

    StampCommands::FolderChooser chooser() {
        return [this](QWidget *, int32_t, const QString &start, const mk::app::PictureFilter &) {
            starts.append(start);
            if (inside) inside();
            return choice;
        };
    }
};

// Fails the test, rather than hang it, when a modal window stays open.
class Watchdog {
  public:
    explicit Watchdog(int ms) {
        timer_.setSingleShot(true);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            fired_ = true;
            if (QWidget *modal = QApplication::activeModalWidget()) {
                if (auto *abort = qobject_cast<AbortScanDialog *>(modal)) abort->finish();
                if (auto *dialog = qobject_cast<QDialog *>(modal)) dialog->done(QDialog::Rejected);
            }
        });
        timer_.start(ms);
    }
    bool fired() const { return fired_; }

  private:
    QTimer timer_;
    bool fired_ = false;
};

}  // namespace

class StampCommandsTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void init();
    void cleanup();
    void theFilesChooserIsSetUpForTheOperation_data();
    void theFilesChooserIsSetUpForTheOperation();
    void theFilesChooserStartsInThePicturesFolder();
    void theChosenFilesGoToTheBatchAsTheyAre_data();
    void theChosenFilesGoToTheBatchAsTheyAre();
    void cancellingAChooserRunsNothing();
    void aFolderIsCollectedWithOrWithoutItsSubFolders_data();
    void aFolderIsCollectedWithOrWithoutItsSubFolders();
    void theListGrowsInSteps();
    void theAbortDialogShowsCountsAndAbortsOnce();
    void theAbortDialogClosesWhenTheScanEndedBeforeItOpened();
    void anAbortMidScanProcessesWhatWasFound();
    void aSecondFolderCommandWhileTheChooserIsOpenDoesNothing();

  private:
    QString Made(const QString &name) const { return dir_->filePath(name); }

    std::optional<QTemporaryDir> dir_;
    // One home and one settings folder for the whole run: the file dialog
    // keeps its settings file's path once it has been used.
    QTemporaryDir home_;
    QTemporaryDir config_;
};

void StampCommandsTest::initTestCase() {
    QVERIFY(home_.isValid());
    QVERIFY(config_.isValid());
    // A home without a pictures folder, and no user folders configured.
    qputenv("HOME", QFile::encodeName(home_.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config_.path()));
}

void StampCommandsTest::init() {
    dir_.emplace();
    QVERIFY(dir_->isValid());
    for (const char *name : {"IMG_0001.JPG", "b.jpeg", "c.jpe", "notes.txt", "sub/d.jpg",
                             "sub/deeper/e.JPG", ".hidden/f.jpg", "sub/.hidden/g.jpg", "z.jpg"})
        QVERIFY(Touch(Made(QLatin1String(name))));
    QVERIFY(QFile::link(Made("sub"), Made("sub/deeper/back")));
}

void StampCommandsTest::cleanup() {
    dir_.reset();
    QDir(home_.filePath(QStringLiteral("Pictures"))).removeRecursively();
}

void StampCommandsTest::theFilesChooserIsSetUpForTheOperation_data() {
    QTest::addColumn<int>("operation");
    QTest::addColumn<QString>("title");
    QTest::newRow("stamp") << int(OP_STAMP) << "Choose file to stamp";
    QTest::newRow("undo") << int(OP_UNDO) << "Choose file to restore";
}

void StampCommandsTest::theFilesChooserIsSetUpForTheOperation() {
    QFETCH(int, operation);
    QFETCH(QString, title);
    QFileDialog dialog;
    mk::app::SetUpFilesDialog(dialog, operation, dir_->path());
    QCOMPARE(dialog.windowTitle(), title);
    QCOMPARE(dialog.nameFilters(), (QStringList{QStringLiteral("JPEG files (*.jpg *.jpeg *.jpe)"),
                                                QStringLiteral("All files (*)")}));
    QCOMPARE(dialog.fileMode(), QFileDialog::ExistingFiles);
    QCOMPARE(dialog.acceptMode(), QFileDialog::AcceptOpen);
    QCOMPARE(dialog.defaultSuffix(), QStringLiteral("jpg"));
    QCOMPARE(QDir(dialog.directory()).canonicalPath(), QDir(dir_->path()).canonicalPath());

    // What the list shows, as the user sees it: a camera's upper-case name
    // too, and other files only under "All files".
    dialog.show();
    auto *view = dialog.findChild<QAbstractItemView *>(QStringLiteral("listView"));
    QVERIFY(view != nullptr);
    const auto shown = [view] {
        QStringList names;
        const QModelIndex root = view->rootIndex();
        for (int row = 0; row < view->model()->rowCount(root); ++row)
            names.append(view->model()->index(row, 0, root).data().toString());
        names.sort(Qt::CaseInsensitive);
        return names;
    };
    const QStringList pictures = {"b.jpeg", "c.jpe", "IMG_0001.JPG", "sub", "z.jpg"};
    QTRY_COMPARE(shown(), pictures);
    dialog.selectNameFilter(dialog.nameFilters()[1]);
    QTRY_VERIFY(shown().contains(QStringLiteral("notes.txt")));
}

void StampCommandsTest::theFilesChooserStartsInThePicturesFolder() {
    QCOMPARE(mk::app::DefaultPicturesFolder(), home_.path());
    QVERIFY(QDir(home_.path()).mkdir(QStringLiteral("Pictures")));
    QCOMPARE(mk::app::DefaultPicturesFolder(), home_.filePath(QStringLiteral("Pictures")));
    StampCommands commands(nullptr, {});
    QCOMPARE(commands.fileFolder(), home_.filePath(QStringLiteral("Pictures")));
    QCOMPARE(commands.folder(), home_.path());
}

void StampCommandsTest::theChosenFilesGoToTheBatchAsTheyAre_data() {
    QTest::addColumn<int>("operation");
    QTest::newRow("stamp") << int(OP_STAMP);
    QTest::newRow("undo") << int(OP_UNDO);
}

void StampCommandsTest::theChosenFilesGoToTheBatchAsTheyAre() {
    QFETCH(int, operation);
    Runs runs;
    StampCommands commands(nullptr, runs.batch());
    QStringList starts;
    QList<int> operations;
    QStringList chosen = {Made("z.jpg"), Made("notes.txt"), Made("IMG_0001.JPG")};
    commands.setFilesChooser([&](QWidget *, int32_t op, const QString &start) {
        starts.append(start);
        operations.append(op);
        return chosen;
    });
    commands.chooseFiles(operation);
    // In the chooser's order, the file that is no picture too.
    QCOMPARE(runs.runs.size(), size_t(1));
    QCOMPARE(runs.runs[0].entries, Paths(dir_->path(), {"z.jpg", "notes.txt", "IMG_0001.JPG"}));
    QCOMPARE(runs.runs[0].operation, operation);
    QCOMPARE(operations, QList<int>{operation});
    // The next chooser starts where these files were.
    chosen = {Made("sub/d.jpg")};
    commands.chooseFiles(operation);
    QCOMPARE(starts, (QStringList{mk::app::DefaultPicturesFolder(), dir_->path()}));
    QCOMPARE(commands.fileFolder(), Made("sub"));
    QCOMPARE(runs.runs.size(), size_t(2));
    QCOMPARE(runs.runs[1].entries, Paths(dir_->path(), {"sub/d.jpg"}));
}

void StampCommandsTest::cancellingAChooserRunsNothing() {
    Runs runs;
    StampCommands commands(nullptr, runs.batch());
    commands.setFilesChooser([](QWidget *, int32_t, const QString &) { return QStringList(); });
    Chooser chooser;
    commands.setFolderChooser(chooser.chooser());
    commands.chooseFiles(OP_STAMP);
    commands.chooseFolder(OP_UNDO);
    QVERIFY(runs.runs.empty());
    QCOMPARE(chooser.starts.size(), 1);
    // Where they start is unchanged.
    QCOMPARE(commands.fileFolder(), mk::app::DefaultPicturesFolder());
    QCOMPARE(commands.folder(), QDir::homePath());
    QVERIFY(!commands.folderCommandRunning());
}

void StampCommandsTest::aFolderIsCollectedWithOrWithoutItsSubFolders_data() {
    QTest::addColumn<QString>("folder");
    QTest::addColumn<bool>("subFolders");
    QTest::addColumn<QStringList>("expected");
    const QStringList top = {"b.jpeg", "c.jpe", "IMG_0001.JPG", "z.jpg"};
    // Depth first in name order; not the '.' folders, not through the link.
    const QStringList all = top + QStringList{"sub/d.jpg", "sub/deeper/e.JPG"};
    QTest::newRow("the folder alone") << "" << false << top;
    QTest::newRow("with sub-folders") << "" << true << all;
    QTest::newRow("written with a separator") << "/" << true << all;
    QTest::newRow("a sub-folder alone") << "/sub" << false << QStringList{"sub/d.jpg"};
}

void StampCommandsTest::aFolderIsCollectedWithOrWithoutItsSubFolders() {
    QFETCH(QString, folder);
    QFETCH(bool, subFolders);
    QFETCH(QStringList, expected);
    Runs runs;
    QWidget owner;
    StampCommands commands(&owner, runs.batch());
    Chooser chooser;
    chooser.choice = FolderChoice{dir_->path() + folder, subFolders};
    commands.setFolderChooser(chooser.chooser());
    const Watchdog watchdog(30000);
    commands.chooseFolder(OP_UNDO);
    QVERIFY(!watchdog.fired());
    QCOMPARE(runs.runs.size(), size_t(1));
    QCOMPARE(runs.runs[0].entries, Paths(dir_->path(), expected));
    QCOMPARE(runs.runs[0].operation, OP_UNDO);
    // The next chooser starts at this folder; the first at home.
    QCOMPARE(chooser.starts, QStringList{QDir::homePath()});
    QCOMPARE(commands.folder(), dir_->path() + folder);
    QVERIFY(!commands.folderCommandRunning());
}

void StampCommandsTest::theListGrowsInSteps() {
    // Long names, so that a few hundred fill more than one step.
    const QString name(200, QLatin1Char('n'));
    for (int i = 0; i < 400; ++i)
        QVERIFY(
            Touch(Made(QStringLiteral("long/%1%2.jpg").arg(name).arg(i, 3, 10, QLatin1Char('0')))));
    Runs runs;
    StampCommands commands(nullptr, runs.batch());
    Chooser chooser;
    chooser.choice = FolderChoice{Made("long"), false};
    commands.setFolderChooser(chooser.chooser());
    commands.chooseFolder(OP_STAMP);
    QCOMPARE(runs.runs.size(), size_t(1));
    QCOMPARE(runs.runs[0].entries.size(), size_t(400));
    QCOMPARE(runs.runs[0].capacity, size_t(2 * mk::app::kPathListStep));
}

void StampCommandsTest::theAbortDialogShowsCountsAndAbortsOnce() {
    QWidget owner;
    AbortScanDialog dialog(&owner);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Abort folder scan"));
    QCOMPARE(dialog.abortButton()->text(), QStringLiteral("Abort"));
    QCOMPARE(dialog.text(), QStringLiteral("scanned 0 folders / found 0 pictures"));
    dialog.setCounts(3, 12);
    QCOMPARE(dialog.text(), QStringLiteral("scanned 3 folders / found 12 pictures"));
    QCOMPARE(dialog.pictureCount(), 12);
    QSignalSpy aborted(&dialog, &AbortScanDialog::abortRequested);
    dialog.show();
    dialog.abortButton()->click();
    // Escape asks the same; the dialog stays until the scan has ended.
    dialog.reject();
    QCOMPARE(aborted.size(), 1);
    QVERIFY(dialog.aborted());
    QVERIFY(dialog.isVisible());
    dialog.finish();
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
}

void StampCommandsTest::theAbortDialogClosesWhenTheScanEndedBeforeItOpened() {
    QWidget owner;
    AbortScanDialog dialog(&owner);
    dialog.finish();
    const Watchdog watchdog(10000);
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    QVERIFY(!watchdog.fired());
}

void StampCommandsTest::anAbortMidScanProcessesWhatWasFound() {
    for (int f = 0; f < 20; ++f) {
        for (int p = 0; p < 50; ++p)
            QVERIFY(Touch(
                Made(QStringLiteral("big/f%1/p%2.jpg").arg(f, 2, 10, QLatin1Char('0')).arg(p))));
    }
    mk::paths::PathListBuffer fullList(mk::app::kPathListStep);
    mk::app::FolderScanOptions options;
    options.folder = QFile::encodeName(Made("big")).toStdString();
    options.includeSubFolders = true;
    options.collect = &fullList;
    mk::app::FolderScan::Run(options, {});
    const std::vector<std::string> full = fullList.Entries();
    QCOMPARE(full.size(), size_t(1000));

    Runs runs;
    QWidget owner;
    owner.show();
    StampCommands commands(&owner, runs.batch());
    // 2 ms a picture: 2 s for the whole tree.
    commands.setPictureFilter([](std::string_view name) {
        QThread::msleep(2);
        return MK_IsSupportedFile(name.data()) != 0;
    });
    Chooser chooser;
    chooser.choice = FolderChoice{Made("big"), true};
    commands.setFolderChooser(chooser.chooser());

    QString shownText;
    bool wasModal = false;
    QTimer poll;
    poll.setInterval(5);
    connect(&poll, &QTimer::timeout, [&] {
        auto *dialog = owner.findChild<AbortScanDialog *>();
        if (dialog == nullptr || !dialog->isVisible() || dialog->pictureCount() == 0) return;
        poll.stop();
        wasModal = QApplication::activeModalWidget() == dialog;
        shownText = dialog->text();
        // A second folder command while the scan runs does nothing.
        commands.chooseFolder(OP_STAMP);
        dialog->abortButton()->click();
    });
    poll.start();
    const Watchdog watchdog(30000);
    commands.chooseFolder(OP_STAMP);
    QVERIFY(!watchdog.fired());
    QVERIFY(wasModal);
    QVERIFY2(shownText.startsWith(QStringLiteral("scanned ")) &&
                 shownText.contains(QStringLiteral(" folders / found ")),
             qPrintable(shownText));
    QCOMPARE(chooser.starts.size(), 1);
    QCOMPARE(runs.runs.size(), size_t(1));
    const std::vector<std::string> &kept = runs.runs[0].entries;
    QVERIFY(!kept.empty());
    QVERIFY2(kept.size() < full.size(), qPrintable(QString::number(kept.size())));
    QVERIFY(std::equal(kept.begin(), kept.end(), full.begin()));
    QVERIFY(!commands.folderCommandRunning());
}

void StampCommandsTest::aSecondFolderCommandWhileTheChooserIsOpenDoesNothing() {
    Runs runs;
    StampCommands commands(nullptr, runs.batch());
    Chooser chooser;
    chooser.choice = FolderChoice{Made("sub"), false};
    bool runningInside = false;
    chooser.inside = [&] {
        runningInside = commands.folderCommandRunning();
        commands.chooseFolder(OP_UNDO);
    };
    commands.setFolderChooser(chooser.chooser());
    commands.chooseFolder(OP_STAMP);
    QVERIFY(runningInside);
    QCOMPARE(chooser.starts.size(), 1);
    QCOMPARE(runs.runs.size(), size_t(1));
    QCOMPARE(runs.runs[0].operation, OP_STAMP);
    // Once it has ended, the next one runs.
    chooser.inside = {};
    commands.chooseFolder(OP_UNDO);
    QCOMPARE(chooser.starts.size(), 2);
    QCOMPARE(runs.runs.size(), size_t(2));
}

QTEST_MAIN(StampCommandsTest)
#include "stamp_commands_test.moc"
