// Dropped files: the supported pictures among them are stamped in place
// with the dialog's settings behind the progress dialog, folders and other
// files are left alone, and the files that fail are listed with the reason.
// Stamped pictures are checked with libjpeg's own decoder: they differ from
// the originals only in the stamp's corner.
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <cstdio>
#include <vector>

#include <jpeglib.h>

#include "MK_Core.h"
#include "decoded_picture.h"
#include "error_list_window.h"
#include "main_window.h"
#include "settings_dialog.h"

using mk::app::MainWindow;

namespace {

using mk::app::test::Decode;
using mk::app::test::Picture;

// The rectangle of the pixels that differ (empty when none do).
QRect Changed(const Picture &before, const Picture &after) {
    if (after.width != before.width || after.height != before.height) {
        return QRect(0, 0, before.width, before.height);
    }
    QRect changed;
    for (int y = 0; y < before.height; ++y) {
        for (int x = 0; x < before.width; ++x) {
            const size_t at = (size_t(y) * size_t(before.width) + size_t(x)) * 3;
            if (before.rgb[at] != after.rgb[at] || before.rgb[at + 1] != after.rgb[at + 1] ||
                before.rgb[at + 2] != after.rgb[at + 2]) {
                changed |= QRect(x, y, 1, 1);
            }
        }
    }
    return changed;
}

QByteArray Contents(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString Corpus(const char *name) { return QStringLiteral(MK_CORPUS_DIR "/") + QLatin1String(name); }

}  // namespace

class DroppedFilesTest : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void supportedPicturesAreStampedAndFailuresListed();
    void onlyFoldersAndOtherFilesStampNothingAndShowNoList();
    void theDialogsSettingsAreUsedNotTheStoredOnes();
    void aDropOntoTheWindowStampsTheFiles();

  private:
    QString Copy(const char *corpusName, const QString &as) {
        const QString path = folder_.filePath(as);
        QFile::remove(path);
        if (!QFile::copy(Corpus(corpusName), path)) return {};
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
        return path;
    }

    QTemporaryDir config_;
    QTemporaryDir folder_;
};

void DroppedFilesTest::init() {
    QVERIFY(config_.isValid());
    QVERIFY(folder_.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config_.path()));
    qputenv("XDG_STATE_HOME", QFile::encodeName(config_.path()));
}

void DroppedFilesTest::supportedPicturesAreStampedAndFailuresListed() {
    const QString kodak = Copy("kodak_dc210_mm_com.jpg", QStringLiteral("kodak.jpg"));
    const QString nikon = Copy("nikon_e950_444_dri.jpg", QStringLiteral("nikon.JPG"));
    const QString broken = Copy("broken_not_jpeg.jpg", QStringLiteral("broken.jpg"));
    const QString text = folder_.filePath(QStringLiteral("notes.txt"));
    QFile notes(text);
    QVERIFY(notes.open(QIODevice::WriteOnly));
    notes.write("not a picture");
    notes.close();
    const QString folder = folder_.filePath(QStringLiteral("folder.jpg"));
    QVERIFY(QDir().mkdir(folder));
    const Picture kodakBefore = Decode(kodak);
    const Picture nikonBefore = Decode(nikon);
    const QByteArray brokenBefore = Contents(broken);

    MainWindow window;
    window.show();
    window.stampFiles({folder, kodak, text, broken, nikon});

    // Stamped in the bottom-right corner (the default place) and nowhere else.
    for (const auto &[path, before] : {std::pair{kodak, kodakBefore}, {nikon, nikonBefore}}) {
        const Picture after = Decode(path);
        QCOMPARE(after.width, before.width);
        const QRect changed = Changed(before, after);
        QVERIFY2(!changed.isEmpty(), qPrintable(path));
        QVERIFY2(changed.left() >= before.width / 2 && changed.top() >= before.height / 2,
                 qPrintable(path));
    }
    QCOMPARE(Contents(broken), brokenBefore);
    QCOMPARE(Contents(text), QByteArray("not a picture"));
    QVERIFY(QFileInfo(folder).isDir());

    // Only the picture that is no JPEG is listed, with why.
    const QStringList lines = window.errorList()->text().split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines[0].startsWith(broken + QStringLiteral(": ")), qPrintable(lines[0]));
    QVERIFY(lines[0].size() > broken.size() + 2);
    QVERIFY(window.errorList()->isVisible());

    // The next run starts with an empty list.
    window.errorList()->hide();
    window.stampFiles({text});
    QVERIFY(window.errorList()->isEmpty());
    QVERIFY(!window.errorList()->isVisible());
}

void DroppedFilesTest::onlyFoldersAndOtherFilesStampNothingAndShowNoList() {
    const QString folder = folder_.filePath(QStringLiteral("pictures"));
    QVERIFY(QDir().mkdir(folder));
    const QString inside = folder + QStringLiteral("/inside.jpg");
    QVERIFY(QFile::copy(Corpus("kodak_dc210_mm_com.jpg"), inside));
    const QByteArray before = Contents(inside);
    MainWindow window;
    window.show();
    window.stampFiles({folder});
    QCOMPARE(Contents(inside), before);
    QVERIFY(window.errorList()->isEmpty());
    QVERIFY(!window.errorList()->isVisible());
}

void DroppedFilesTest::theDialogsSettingsAreUsedNotTheStoredOnes() {
    const QString kodak = Copy("kodak_dc210_mm_com.jpg", QStringLiteral("top.jpg"));
    const Picture before = Decode(kodak);
    MainWindow window;
    Setts record;
    MK_SettsLoadDefaults(&record);
    record.stampPosition = MK_POS_TOP_LEFT;
    record.horizontalOffset = 200;
    record.verticalOffset = 150;
    window.settingsDialog()->apply(record);
    window.show();
    window.stampFiles({kodak});
    const QRect changed = Changed(before, Decode(kodak));
    QVERIFY(!changed.isEmpty());
    QVERIFY(changed.right() < before.width / 2 && changed.bottom() < before.height / 2);
}

void DroppedFilesTest::aDropOntoTheWindowStampsTheFiles() {
    const QString kodak = Copy("kodak_dc210_mm_com.jpg", QStringLiteral("dropped.jpg"));
    const Picture before = Decode(kodak);
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(kodak)});
    const QPointF at(window.width() / 2, window.height() / 2);
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &drop);
    QVERIFY(drop.isAccepted());
    QTRY_VERIFY_WITH_TIMEOUT(!Changed(before, Decode(kodak)).isEmpty(), 30000);
}

QTEST_MAIN(DroppedFilesTest)
#include "dropped_files_test.moc"
