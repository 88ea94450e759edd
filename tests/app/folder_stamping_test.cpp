// The stamping commands end to end, from the main window's File menu with
// the choosers replaced and the real batch behind the core's progress
// dialog: a folder with sub-folders of camera pictures is stamped, then
// restored, and every picture comes back with exactly its former DCT
// coefficients (read with libjpeg, independently of the core); the
// pictures that fail are listed in the "Error file list" with the reason.
// The files commands do the same with chosen files.
#include <QAction>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <optional>
#include <vector>

#include <jpeglib.h>

#include "MK_Core.h"
#include "error_list_window.h"
#include "main_window.h"
#include "stamp_commands.h"

using mk::app::FolderChoice;
using mk::app::MainWindow;

namespace {

// Every component's quantised coefficients, block by block, and the
// component's size in blocks.
struct Coefficients {
    std::vector<std::pair<JDIMENSION, JDIMENSION>> blocks;
    std::vector<std::vector<JCOEF>> values;

    bool operator==(const Coefficients &other) const {
        return blocks == other.blocks && values == other.values;
    }
};

// libjpeg's default error handling ends the process, which fails the test.
Coefficients Read(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray data = file.readAll();
    jpeg_decompress_struct info{};
    jpeg_error_mgr error{};
    info.err = jpeg_std_error(&error);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char *>(data.constData()),
                 static_cast<unsigned long>(data.size()));
    jpeg_read_header(&info, TRUE);
    jvirt_barray_ptr *arrays = jpeg_read_coefficients(&info);
    Coefficients result;
    for (int c = 0; c < info.num_components; ++c) {
        const jpeg_component_info &component = info.comp_info[c];
        result.blocks.emplace_back(component.width_in_blocks, component.height_in_blocks);
        std::vector<JCOEF> values;
        for (JDIMENSION row = 0; row < component.height_in_blocks; ++row) {
            JBLOCKARRAY line = info.mem->access_virt_barray(reinterpret_cast<j_common_ptr>(&info),
                                                            arrays[c], row, 1, FALSE);
            for (JDIMENSION column = 0; column < component.width_in_blocks; ++column)
                values.insert(values.end(), line[0][column], line[0][column] + DCTSIZE2);
        }
        result.values.push_back(std::move(values));
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return result;
}

QByteArray Contents(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void Trigger(MainWindow &window, const QString &text) {
    for (QAction *action : window.findChildren<QAction *>()) {
        if (action->text() == text) {
            QVERIFY(action->isEnabled());
            action->trigger();
            return;
        }
    }
    QFAIL(qPrintable(QStringLiteral("no command ") + text));
}

}  // namespace

class FolderStampingTest : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void aFolderTreeIsStampedAndRestoredExactly();
    void chosenFilesAreStampedAndRestoredExactly();

  private:
    // A copy of a corpus picture, writable by its owner.
    QString Copy(const char *corpusName, const QString &as) {
        const QString path = folder_->filePath(as);
        QDir().mkpath(QFileInfo(path).absolutePath());
        if (!QFile::copy(QStringLiteral(MK_CORPUS_DIR "/") + QLatin1String(corpusName), path))
            return {};
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
        return path;
    }

    std::optional<QTemporaryDir> config_;
    std::optional<QTemporaryDir> folder_;
};

void FolderStampingTest::init() {
    config_.emplace();
    folder_.emplace();
    QVERIFY(config_->isValid());
    QVERIFY(folder_->isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config_->path()));
    qputenv("XDG_STATE_HOME", QFile::encodeName(config_->path()));
}

void FolderStampingTest::aFolderTreeIsStampedAndRestoredExactly() {
    const QStringList pictures = {
        Copy("kodak_dc210_mm_com.jpg", QStringLiteral("a.jpg")),
        Copy("fujifilm_ds7_1996_dtoonly.jpg", QStringLiteral("B.JPG")),
        Copy("bluesquare_xmp_dateonly.jpg", QStringLiteral("sub/c.jpeg")),
        Copy("gray_noexif.jpg", QStringLiteral("sub/deeper/d.jpg")),
    };
    const QString hidden = Copy("kodak_dc210_mm_com.jpg", QStringLiteral(".hidden/e.jpg"));
    const QString broken = Copy("broken_not_jpeg.jpg", QStringLiteral("broken.jpg"));
    const QString readOnly = Copy("kodak_dc210_mm_com.jpg", QStringLiteral("sub/read-only.jpg"));
    QVERIFY(QFile::setPermissions(readOnly, QFile::ReadOwner));
    const QByteArray hiddenBefore = Contents(hidden);
    const QByteArray readOnlyBefore = Contents(readOnly);
    std::vector<Coefficients> before;
    for (const QString &path : pictures) {
        QVERIFY2(!path.isEmpty(), "corpus copy");
        before.push_back(Read(path));
        QVERIFY(!before.back().values.empty());
    }

    MainWindow window;
    window.show();
    QList<int> operations;
    window.stampCommands()->setFolderChooser(
        [&](QWidget *, int32_t operation, const QString &, const mk::app::PictureFilter &) {
            operations.append(operation);
            return std::optional<FolderChoice>(FolderChoice{folder_->path(), true});
        });
    const QStringList failures = {broken + QStringLiteral(": not a JPEG file"),
                                  readOnly + QStringLiteral(": read-only")};

    Trigger(window, QStringLiteral("Stamp Fol&der..."));
    for (size_t i = 0; i < before.size(); ++i)
        QVERIFY2(!(Read(pictures[int(i)]) == before[i]), qPrintable(pictures[int(i)]));
    QCOMPARE(Contents(hidden), hiddenBefore);
    QCOMPARE(Contents(readOnly), readOnlyBefore);
    // In the order of the scan, each with the core's reason.
    QCOMPARE(window.errorList()->text().split('\n'), failures);
    QVERIFY(window.errorList()->isVisible());
    window.errorList()->hide();

    Trigger(window, QStringLiteral("Undo Stamp Folders..."));
    for (size_t i = 0; i < before.size(); ++i)
        QVERIFY2(Read(pictures[int(i)]) == before[i], qPrintable(pictures[int(i)]));
    QCOMPARE(Contents(hidden), hiddenBefore);
    QCOMPARE(Contents(readOnly), readOnlyBefore);
    // The list was emptied before the run and holds this run's failures:
    // the read-only picture was never stamped.
    QCOMPARE(window.errorList()->text().split('\n'),
             (QStringList{failures[0], readOnly + QStringLiteral(": has no stamp")}));
    QVERIFY(window.errorList()->isVisible());
    QCOMPARE(operations, (QList<int>{OP_STAMP, OP_UNDO}));

    // Without the failing files, nothing is listed and no list is shown.
    window.errorList()->hide();
    QVERIFY(QFile::remove(broken));
    QVERIFY(QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::WriteOwner));
    Trigger(window, QStringLiteral("Stamp Fol&der..."));
    QVERIFY(window.errorList()->isEmpty());
    QVERIFY(!window.errorList()->isVisible());
    QVERIFY(!(Read(readOnly) == Read(hidden)));
}

void FolderStampingTest::chosenFilesAreStampedAndRestoredExactly() {
    const QString first = Copy("kodak_dc210_mm_com.jpg", QStringLiteral("IMG_0001.JPG"));
    const QString second = Copy("gray_noexif.jpg", QStringLiteral("gray.jpg"));
    const QString notes = folder_->filePath(QStringLiteral("notes.txt"));
    QFile file(notes);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("not a picture");
    file.close();
    const Coefficients firstBefore = Read(first);
    const Coefficients secondBefore = Read(second);

    MainWindow window;
    window.show();
    window.stampCommands()->setFilesChooser([&](QWidget *, int32_t, const QString &) {
        return QStringList{first, notes, second};
    });
    Trigger(window, QStringLiteral("Stamp &Files..."));
    QVERIFY(!(Read(first) == firstBefore));
    QVERIFY(!(Read(second) == secondBefore));
    QCOMPARE(window.errorList()->text(), notes + QStringLiteral(": not a JPEG file"));
    Trigger(window, QStringLiteral("Undo Stamp Files..."));
    QVERIFY(Read(first) == firstBefore);
    QVERIFY(Read(second) == secondBefore);
    QCOMPARE(Contents(notes), QByteArray("not a picture"));
}

QTEST_MAIN(FolderStampingTest)
#include "folder_stamping_test.moc"
