// The folder chooser: its texts for stamping and undoing, the tree without
// hidden folders, and the status line's count, which starts at "0 picture",
// ends on the count or "Pictures are not found", shows running counts with
// sub-folders, never enters '.' folders or follows link loops, and starts
// again (stopping the count before it) on every change of the selection or
// of "Include sub-folders".
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileSystemModel>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTreeView>

#include <atomic>
#include <string_view>

#include "MK_Core.h"
#include "folder_chooser.h"

using mk::app::FolderChooserDialog;

namespace {

bool Touch(const QString &path) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly);
}

// The core's rule, slowed down so that a count lasts long enough to be
// watched; counts the names it was asked about.
struct SlowFilter {
    std::atomic<int> asked{0};
    int delayMs = 0;

    mk::app::PictureFilter filter() {
        return [this](std::string_view name) {
            asked.fetch_add(1);
            if (delayMs > 0) QThread::msleep(delayMs);
            return MK_IsSupportedFile(name.data()) != 0;
        };
    }
};

}  // namespace

class FolderChooserTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void textsNameTheOperation_data();
    void textsNameTheOperation();
    void theTreeShowsFoldersButNotHiddenOnes();
    void theStatusLineCountsTheSelectedFolder_data();
    void theStatusLineCountsTheSelectedFolder();
    void withSubFoldersTheCountRunsUpOnTheStatusLine();
    void untickingSubFoldersStopsTheCountAtOnce();
    void aNewSelectionDropsTheCountBeforeIt();
    void closingStopsTheCount();

  private:
    QString Made(const QString &name) { return dir_.filePath(name); }

    QTemporaryDir dir_;
};

void FolderChooserTest::initTestCase() {
    QVERIFY(dir_.isValid());
    for (const char *name :
         {"none/notes.txt", "one/a.jpg", "one/notes.txt", "one/folder.jpg/x.txt", "three/a.jpg",
          "three/B.JPEG", "three/c.jpe", "deep/top.jpg", "deep/sub/a.jpg", "deep/sub/b.JPG",
          "deep/.hidden/h.jpg", "deep/sub/.also/h.jpg", "deep/.hidden/visible/v.jpg"}) {
        QVERIFY(Touch(Made(QLatin1String(name))));
    }
    // A link back up and a link to itself: neither is followed.
    QVERIFY(QFile::link(Made("deep"), Made("deep/sub/up")));
    QVERIFY(QFile::link(Made("deep/sub"), Made("deep/sub/self")));
}

void FolderChooserTest::textsNameTheOperation_data() {
    QTest::addColumn<int>("operation");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("ok");
    QTest::newRow("stamp") << int(OP_STAMP) << "Stamp folders"
                           << "Select folders to stamp"
                           << "Stamp";
    QTest::newRow("undo") << int(OP_UNDO) << "Undo Stamp"
                          << "Select folders to restore"
                          << "Undo Stamp";
}

void FolderChooserTest::textsNameTheOperation() {
    QFETCH(int, operation);
    QFETCH(QString, caption);
    QFETCH(QString, title);
    QFETCH(QString, ok);
    FolderChooserDialog dialog(nullptr, operation, Made("three"));
    QCOMPARE(dialog.windowTitle(), caption);
    QCOMPARE(dialog.titleLabel()->text(), title);
    QCOMPARE(dialog.okButton()->text(), ok);
    QCOMPARE(dialog.includeBox()->text(), QStringLiteral("Include sub-folders"));
    QVERIFY(!dialog.includeBox()->isChecked());
    // The start folder is selected and can be chosen at once.
    QCOMPARE(dialog.selectedFolder(), Made("three"));
    QVERIFY(dialog.okButton()->isEnabled());
    QCOMPARE(dialog.choice().folder, Made("three"));
    QVERIFY(!dialog.choice().includeSubFolders);
    // A start folder that is gone: the home folder.
    FolderChooserDialog home(nullptr, operation, Made("gone"));
    QCOMPARE(home.selectedFolder(), QDir::homePath());
}

void FolderChooserTest::theTreeShowsFoldersButNotHiddenOnes() {
    FolderChooserDialog dialog(nullptr, OP_STAMP, Made("deep"));
    QFileSystemModel *model = dialog.model();
    const QModelIndex deep = model->index(Made("deep"));
    QVERIFY(deep.isValid());
    QCOMPARE(dialog.tree()->currentIndex(), deep);
    model->fetchMore(deep);
    QTRY_VERIFY(model->rowCount(deep) > 0);
    QTest::qWait(100);
    QStringList names;
    for (int row = 0; row < model->rowCount(deep); ++row)
        names.append(model->index(row, 0, deep).data().toString());
    names.sort();
    QCOMPARE(names, QStringList{QStringLiteral("sub")});
    // Files are not listed either.
    const QModelIndex one = model->index(Made("one"));
    model->fetchMore(one);
    QTRY_VERIFY(model->rowCount(one) > 0);
    QTest::qWait(100);
    QCOMPARE(model->rowCount(one), 1);
    QCOMPARE(model->index(0, 0, one).data().toString(), QStringLiteral("folder.jpg"));
}

void FolderChooserTest::theStatusLineCountsTheSelectedFolder_data() {
    QTest::addColumn<QString>("folder");
    QTest::addColumn<bool>("subFolders");
    QTest::addColumn<QString>("status");
    QTest::newRow("no pictures") << "none" << false << "Pictures are not found";
    QTest::newRow("no pictures, sub-folders") << "none" << true << "Pictures are not found";
    // A folder named like a picture is no picture.
    QTest::newRow("one") << "one" << false << "1 picture was found";
    QTest::newRow("three in any case") << "three" << false << "3 pictures were found";
    QTest::newRow("the top alone") << "deep" << false << "1 picture was found";
    // Not the '.' folders, not through the links.
    QTest::newRow("with sub-folders") << "deep" << true << "3 pictures were found";
    QTest::newRow("written with a separator") << "deep/" << true << "3 pictures were found";
}

void FolderChooserTest::theStatusLineCountsTheSelectedFolder() {
    QFETCH(QString, folder);
    QFETCH(bool, subFolders);
    QFETCH(QString, status);
    FolderChooserDialog dialog(nullptr, OP_STAMP, dir_.path());
    QTRY_VERIFY(dialog.countFinished());
    dialog.includeBox()->setChecked(subFolders);
    dialog.selectFolder(Made(folder));
    QCOMPARE(dialog.selectedFolder(), Made(folder.chopped(folder.endsWith('/') ? 1 : 0)));
    // Each count starts from "0 picture".
    QCOMPARE(dialog.statusText(), QStringLiteral("0 picture"));
    QTRY_VERIFY(dialog.countFinished());
    QCOMPARE(dialog.statusText(), status);
}

void FolderChooserTest::withSubFoldersTheCountRunsUpOnTheStatusLine() {
    for (int i = 0; i < 12; ++i)
        QVERIFY(Touch(Made(QStringLiteral("many/f%1/p%2.jpg").arg(i % 4).arg(i))));
    SlowFilter slow;
    slow.delayMs = 25;
    FolderChooserDialog dialog(nullptr, OP_STAMP, Made("none"), slow.filter());
    QTRY_VERIFY(dialog.countFinished());
    dialog.setReportInterval(std::chrono::milliseconds(40));
    QSignalSpy shown(&dialog, &FolderChooserDialog::statusChanged);
    dialog.selectFolder(Made("many"));
    dialog.includeBox()->setChecked(true);
    QTRY_VERIFY_WITH_TIMEOUT(dialog.countFinished(), 20000);
    QStringList texts;
    for (const QList<QVariant> &signal : shown) texts.append(signal[0].toString());
    // The last count starts at "0 picture" and runs up to all twelve, with
    // counts between.
    const qsizetype start = texts.lastIndexOf(QStringLiteral("0 picture"));
    QVERIFY(start >= 0);
    const QStringList run = texts.mid(start + 1);
    QVERIFY2(run.size() >= 3, qPrintable(texts.join(" | ")));
    QCOMPARE(run.back(), QStringLiteral("12 pictures were found"));
    int last = 0;
    for (const QString &text : run) {
        const int count = text.section(' ', 0, 0).toInt();
        QVERIFY2(count > last, qPrintable(texts.join(" | ")));
        QCOMPARE(text, FolderChooserDialog::CountText(count));
        last = count;
    }
}

void FolderChooserTest::untickingSubFoldersStopsTheCountAtOnce() {
    for (int i = 0; i < 200; ++i) QVERIFY(Touch(Made(QStringLiteral("big/sub/p%1.jpg").arg(i))));
    QVERIFY(Touch(Made("big/top1.jpg")));
    QVERIFY(Touch(Made("big/top2.jpg")));
    SlowFilter slow;
    slow.delayMs = 20;
    FolderChooserDialog dialog(nullptr, OP_STAMP, Made("big"), slow.filter());
    dialog.setReportInterval(std::chrono::milliseconds(20));
    QTRY_VERIFY(dialog.countFinished());
    dialog.includeBox()->setChecked(true);
    // Well inside the sub-folder, which takes 4 s to count.
    QTRY_VERIFY_WITH_TIMEOUT(dialog.statusText().section(' ', 0, 0).toInt() >= 5, 10000);
    const int before = slow.asked.load();
    QElapsedTimer clock;
    clock.start();
    dialog.includeBox()->setChecked(false);
    QTRY_VERIFY(dialog.countFinished());
    QCOMPARE(dialog.statusText(), QStringLiteral("2 pictures were found"));
    // The name in hand, then the top's two pictures again; nothing more of
    // the sub-folder.
    QVERIFY2(slow.asked.load() - before <= 3, qPrintable(QString::number(slow.asked - before)));
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
}

void FolderChooserTest::aNewSelectionDropsTheCountBeforeIt() {
    for (int i = 0; i < 100; ++i) QVERIFY(Touch(Made(QStringLiteral("slow/p%1.jpg").arg(i))));
    SlowFilter slow;
    slow.delayMs = 20;
    FolderChooserDialog dialog(nullptr, OP_STAMP, Made("slow"), slow.filter());
    dialog.setReportInterval(std::chrono::milliseconds(10));
    dialog.selectFolder(Made("none"));
    dialog.selectFolder(Made("slow"));
    QTRY_VERIFY(dialog.statusText().section(' ', 0, 0).toInt() >= 2);
    dialog.selectFolder(Made("one"));
    QTRY_VERIFY(dialog.countFinished());
    QCOMPARE(dialog.statusText(), QStringLiteral("1 picture was found"));
    // Whatever the stopped count still had on its way changes nothing.
    QTest::qWait(200);
    QCOMPARE(dialog.statusText(), QStringLiteral("1 picture was found"));
}

void FolderChooserTest::closingStopsTheCount() {
    for (int i = 0; i < 100; ++i) QVERIFY(Touch(Made(QStringLiteral("slow/p%1.jpg").arg(i))));
    SlowFilter slow;
    slow.delayMs = 20;
    FolderChooserDialog dialog(nullptr, OP_STAMP, Made("slow"), slow.filter());
    dialog.show();
    QTRY_VERIFY(slow.asked.load() >= 2);
    QElapsedTimer clock;
    clock.start();
    dialog.reject();
    const int after = slow.asked.load();
    QVERIFY(clock.elapsed() < 1000);
    QTest::qWait(100);
    QCOMPARE(slow.asked.load(), after);
    QVERIFY(!dialog.countFinished());
}

QTEST_MAIN(FolderChooserTest)
#include "folder_chooser_test.moc"
