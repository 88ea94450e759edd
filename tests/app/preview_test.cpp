// The settings dialog's previews against real stamps: the strip shows the
// pixels that stamping a plain picture of the strip's size with the same
// look would give, and the preview window shows the sample photograph as
// stamping that photograph's file would. Real stamps go through the core's
// batch entry and are read back with libjpeg's own decoder. Also the
// preview window's show and hide rules with the main window.
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "MK_Core.h"
#include "decoded_picture.h"
#include "main_window.h"
#include "preview_strip.h"
#include "preview_window.h"
#include "settings_dialog.h"
#include "stamp_sample.h"

using mk::app::MainWindow;
using mk::app::Pixels;
using mk::app::SettingsDialog;

namespace {

using mk::app::test::Decode;
using mk::app::test::Picture;

Picture FromImage(const QImage &image) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    Picture picture{rgb.width(), rgb.height(), {}};
    picture.rgb.resize(size_t(picture.width) * size_t(picture.height) * 3);
    for (int y = 0; y < picture.height; ++y) {
        std::memcpy(picture.rgb.data() + size_t(y) * size_t(picture.width) * 3,
                    rgb.constScanLine(y), size_t(picture.width) * 3);
    }
    return picture;
}

Picture FromPixels(const Pixels &pixels) { return FromImage(mk::app::ImageOf(pixels)); }

// A baseline JPEG of `picture` at quality 100 without chroma subsampling.
bool Encode(const Picture &picture, const QString &path) {
    FILE *file = std::fopen(QFile::encodeName(path).constData(), "wb");
    if (file == nullptr) return false;
    jpeg_compress_struct info{};
    jpeg_error_mgr error{};
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, file);
    info.image_width = JDIMENSION(picture.width);
    info.image_height = JDIMENSION(picture.height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 100, TRUE);
    for (int c = 0; c < 3; ++c) {
        info.comp_info[c].h_samp_factor = 1;
        info.comp_info[c].v_samp_factor = 1;
    }
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        auto *row = const_cast<JSAMPROW>(picture.at(0, int(info.next_scanline)));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return std::fclose(file) == 0;
}

// Gives the file the modification time `time` (local), so that a stamp
// of a picture without EXIF data shows that date.
bool SetModified(const QString &path, const MK_SystemTime &time) {
    std::tm local{};
    local.tm_year = time.wYear - 1900;
    local.tm_mon = time.wMonth - 1;
    local.tm_mday = time.wDay;
    local.tm_hour = time.wHour;
    local.tm_min = time.wMinute;
    local.tm_sec = time.wSecond;
    local.tm_isdst = -1;
    const std::time_t when = std::mktime(&local);
    const timespec times[2] = {{when, 0}, {when, 0}};
    return utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
}

// Stamps the file in place with `record` through the batch entry.
int32_t StampFile(const QString &path, const Setts &record) {
    std::string list = QFile::encodeName(path).toStdString();
    list.push_back('\0');
    list.push_back('\0');
    MK_FileReport report{};
    MK_ProcessFilesEx(
        nullptr, list.c_str(), list.c_str(), OP_STAMP, 0, &record,
        [](const MK_FileReport *r, void *data) -> int32_t {
            *static_cast<MK_FileReport *>(data) = *r;
            return 0;
        },
        nullptr, &report);
    return report.result;
}

// The rectangle of the pixels of `after` that differ from `before` by more
// than `threshold` in some channel.
QRect Changed(const Picture &before, const Picture &after, int threshold) {
    QRect changed;
    for (int y = 0; y < before.height; ++y) {
        for (int x = 0; x < before.width; ++x) {
            for (int c = 0; c < 3; ++c) {
                if (std::abs(int(before.at(x, y)[c]) - int(after.at(x, y)[c])) > threshold) {
                    changed |= QRect(x, y, 1, 1);
                    break;
                }
            }
        }
    }
    return changed;
}

struct Difference {
    int largest = 0;
    double mean = 0;
};

Difference Compare(const Picture &a, const Picture &b) {
    Difference difference;
    double sum = 0;
    for (size_t i = 0; i < a.rgb.size(); ++i) {
        const int d = std::abs(int(a.rgb[i]) - int(b.rgb[i]));
        difference.largest = std::max(difference.largest, d);
        sum += d;
    }
    difference.mean = a.rgb.empty() ? 0 : sum / double(a.rgb.size());
    return difference;
}

bool Near(const QRect &a, const QRect &b, int slack) {
    return std::abs(a.left() - b.left()) <= slack && std::abs(a.top() - b.top()) <= slack &&
           std::abs(a.right() - b.right()) <= slack && std::abs(a.bottom() - b.bottom()) <= slack;
}

Setts Defaults() {
    Setts record;
    MK_SettsLoadDefaults(&record);
    return record;
}

void SetText(char *field, size_t size, const char *text) {
    std::memset(field, 0, size);
    std::strncpy(field, text, size - 1);
}

}  // namespace

Q_DECLARE_METATYPE(Setts)

class PreviewTest : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void theStripShowsWhatStampingAPlainPictureGives_data();
    void theStripShowsWhatStampingAPlainPictureGives();
    void aLongerTextIsDrawnSmallerInTheStrip();
    void thePreviewShowsWhatStampingTheSampleFileGives_data();
    void thePreviewShowsWhatStampingTheSampleFileGives();
    void quickEditsEndOnTheLastEditsState();
    void uncheckingHidesAtOnceAndCheckingShowsAfterTheNextRender();
    void closingThePreviewUnchecksTheBox();
    void minimisingHidesThePreviewAndRestoringShowsItOnlyIfItWasShown();
    void closingTheDialogMidRenderEndsCleanly();

  private:
    QTemporaryDir config_;
};

void PreviewTest::init() {
    QVERIFY(config_.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config_.path()));
}

void PreviewTest::theStripShowsWhatStampingAPlainPictureGives_data() {
    QTest::addColumn<Setts>("record");
    QTest::newRow("defaults") << Defaults();
    Setts box = Defaults();
    box.flags |= FLAG_BACKGROUND | FLAG_ROUND_CORNERS;
    box.backgroundOpacity = 70;
    box.backgroundColor = 0x00402010;
    box.fontColor = 0x0000FFFF;
    box.fontOpacity = 80;
    box.horizontalMargin = 300;
    box.verticalMargin = 800;
    SetText(box.fontFace, sizeof box.fontFace, "DejaVu Serif");
    box.fontWeight = 700;
    box.fontItalic = 1;
    QTest::newRow("bold italic serif on a rounded box") << box;
    Setts time = Defaults();
    time.flags &= ~uint32_t{FLAG_BACKGROUND};
    SetText(time.datePicture, sizeof time.datePicture, "dd.MM.yyyy");
    SetText(time.timePicture, sizeof time.timePicture, "HH:mm");
    time.fontColor = 0x00FFFFFF;
    QTest::newRow("date and time, no box") << time;
}

void PreviewTest::theStripShowsWhatStampingAPlainPictureGives() {
    QFETCH(Setts, record);
    QWidget parent;
    Setts current = record;
    SettingsDialog dialog(&current, &parent);
    parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&parent));
    dialog.apply(record);
    const QImage strip = dialog.strip()->image();
    QVERIFY(!strip.isNull());
    const int width = strip.width();
    const int height = strip.height();

    // The plain picture: the strip's background, in 8 x 8 squares that
    // JPEG holds exactly, stamped with the strip's font size and place.
    Setts collected = current;
    dialog.collect(&collected);
    char text[256];
    mk::app::StampText(collected, dialog.sampleTime(), text);
    QVERIFY(text[0] != '\0');
    const OverlayLayer layer = mk::app::StripLayer(mk::app::LayerFromSetts(collected, text),
                                                   int32_t(width), int32_t(height));
    Setts stamp = collected;
    stamp.flags |= FLAG_PIXEL_UNITS;
    stamp.flags &= ~uint32_t{FLAG_DATE_FROM_EXIF};
    stamp.stampPosition = MK_POS_TOP_LEFT;
    stamp.fontSize = uint32_t(layer.fontSize);
    stamp.horizontalOffset = layer.horizontalOffset;
    stamp.verticalOffset = layer.verticalOffset;
    stamp.horizontalMargin = layer.horizontalMargin;
    stamp.verticalMargin = layer.verticalMargin;

    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("plain.jpg"));
    const Picture background = FromPixels(mk::app::StripBackground(width, height));
    QVERIFY(Encode(background, path));
    QCOMPARE(Compare(Decode(path), background).largest, 0);
    QVERIFY(SetModified(path, dialog.sampleTime()));
    QCOMPARE(StampFile(path, stamp), 0);
    const Picture stamped = Decode(path);
    const Picture shown = FromImage(strip);
    QCOMPARE(stamped.width, width);
    QCOMPARE(stamped.height, height);

    // Only the re-encoded blocks carry JPEG's rounding.
    const Difference difference = Compare(shown, stamped);
    QVERIFY2(difference.largest <= 12, qPrintable(QString::number(difference.largest)));
    QVERIFY2(difference.mean < 0.5, qPrintable(QString::number(difference.mean)));
    const QRect drawn = Changed(background, shown, 20);
    const QRect filed = Changed(background, stamped, 20);
    QVERIFY(!drawn.isEmpty());
    QVERIFY2(Near(drawn, filed, 1), qPrintable(QStringLiteral("%1,%2 %3x%4 / %5,%6 %7x%8")
                                                   .arg(drawn.x())
                                                   .arg(drawn.y())
                                                   .arg(drawn.width())
                                                   .arg(drawn.height())
                                                   .arg(filed.x())
                                                   .arg(filed.y())
                                                   .arg(filed.width())
                                                   .arg(filed.height())));
    // Fitted and centred: the text fills most of the strip's height, with
    // as much room on the left as on the right.
    if ((record.flags & FLAG_BACKGROUND) == 0) {
        QVERIFY2(drawn.height() > height / 3, qPrintable(QString::number(drawn.height())));
        QVERIFY(std::abs(drawn.left() - (width - 1 - drawn.right())) <= 2);
    }
}

void PreviewTest::aLongerTextIsDrawnSmallerInTheStrip() {
    QWidget parent;
    Setts current = Defaults();
    SettingsDialog dialog(&current, &parent);
    parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&parent));
    Setts record = Defaults();
    record.flags &= ~uint32_t{FLAG_BACKGROUND};
    record.fontColor = 0;

    auto drawn = [&](const char *picture) {
        SetText(record.datePicture, sizeof record.datePicture, picture);
        dialog.apply(record);
        return FromImage(dialog.strip()->image());
    };
    // The pattern itself is not what is measured: against the strip with
    // nothing on it. An empty picture draws nothing and is no failure.
    const Picture bare = drawn("");
    QCOMPARE(Compare(bare, FromPixels(dialog.stripBackground())).largest, 0);
    auto drawnHeight = [&](const char *picture) { return Changed(bare, drawn(picture), 20); };
    const QRect shortText = drawnHeight("yyyy");
    const QRect longText = drawnHeight("dddd, dd MMMM yyyy 'and some words more'");
    QVERIFY(!shortText.isEmpty());
    QVERIFY(!longText.isEmpty());
    QVERIFY2(longText.height() < shortText.height(),
             qPrintable(QStringLiteral("%1 / %2").arg(longText.height()).arg(shortText.height())));
}

void PreviewTest::thePreviewShowsWhatStampingTheSampleFileGives_data() {
    QTest::addColumn<Setts>("record");
    Setts defaults = Defaults();
    QTest::newRow("proportional, bottom right") << defaults;
    Setts top = Defaults();
    top.stampPosition = MK_POS_TOP_CENTER;
    top.fontSize = 1500;
    top.verticalOffset = 500;
    top.flags |= FLAG_BACKGROUND | FLAG_FULL_WIDTH;
    top.backgroundOpacity = 60;
    QTest::newRow("proportional, top centre, full width") << top;
    Setts pixels = Defaults();
    pixels.flags |= FLAG_PIXEL_UNITS;
    pixels.stampPosition = MK_POS_BOTTOM_LEFT;
    pixels.fontSize = 40;
    pixels.horizontalOffset = 12;
    pixels.verticalOffset = -7;
    pixels.horizontalMargin = 6;
    pixels.verticalMargin = 3;
    QTest::newRow("pixel units, bottom left") << pixels;
}

void PreviewTest::thePreviewShowsWhatStampingTheSampleFileGives() {
    QFETCH(Setts, record);
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    SettingsDialog *dialog = window.settingsDialog();
    dialog->apply(record);
    dialog->previewBox()->setChecked(true);
    auto *preview = window.previewWindow();
    QTRY_VERIFY_WITH_TIMEOUT(preview->isVisible() && !preview->image().isNull(), 10000);
    // The frame of the last state: wait for the renders to settle.
    QTest::qWait(300);
    const Picture shown = FromImage(preview->image());

    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("sample.jpg"));
    QVERIFY(QFile::copy(QStringLiteral(MK_SOURCE_DIR "/app/resources/sample.jpg"), path));
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    const Picture original = Decode(path);
    QCOMPARE(shown.width, original.width);
    QCOMPARE(shown.height, original.height);
    Setts stamp = record;
    dialog->collect(&stamp);
    stamp.flags &= ~uint32_t{FLAG_DATE_FROM_EXIF};
    QVERIFY(SetModified(path, dialog->sampleTime()));
    QCOMPARE(StampFile(path, stamp), 0);
    const Picture stamped = Decode(path);

    // The stamp lies where the file's stamp lies, give or take JPEG's
    // rounding in the blocks the file had encoded again.
    const QRect drawn = Changed(original, shown, 40);
    const QRect filed = Changed(original, stamped, 40);
    QVERIFY(!drawn.isEmpty());
    QVERIFY2(Near(drawn, filed, 2), qPrintable(QStringLiteral("%1,%2 %3x%4 / %5,%6 %7x%8")
                                                   .arg(drawn.x())
                                                   .arg(drawn.y())
                                                   .arg(drawn.width())
                                                   .arg(drawn.height())
                                                   .arg(filed.x())
                                                   .arg(filed.y())
                                                   .arg(filed.width())
                                                   .arg(filed.height())));
    QVERIFY2(Compare(shown, stamped).mean < 2.0,
             qPrintable(QString::number(Compare(shown, stamped).mean)));
}

void PreviewTest::quickEditsEndOnTheLastEditsState() {
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    SettingsDialog *dialog = window.settingsDialog();
    dialog->previewBox()->setChecked(true);
    Setts record = Defaults();
    for (int i = 0; i < 50; ++i) {
        record.fontSize = uint32_t(400 + 40 * i);
        dialog->apply(record);
    }
    auto *preview = window.previewWindow();
    QTRY_VERIFY_WITH_TIMEOUT(preview->isVisible(), 10000);
    QTest::qWait(500);
    // The last frame is the stamp of the last state.
    Setts collected = record;
    dialog->collect(&collected);
    char text[256];
    mk::app::StampText(collected, dialog->sampleTime(), text);
    const Pixels sample = mk::app::PixelsOf(preview->image());
    Pixels expected(sample.width, sample.height);
    int32_t width = 0;
    int32_t height = 0;
    QCOMPARE(MK_ReadJPEG(MK_SOURCE_DIR "/app/resources/sample.jpg", expected.bytes.data(), &width,
                         &height),
             0);
    OverlayLayer layer = mk::app::LayerFromSetts(collected, text);
    mk::app::ScaleToPicture(layer, width, height);
    mk::app::Stamp(expected, layer);
    QCOMPARE(Compare(FromImage(preview->image()), FromPixels(expected)).largest, 0);
}

void PreviewTest::uncheckingHidesAtOnceAndCheckingShowsAfterTheNextRender() {
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *box = window.settingsDialog()->previewBox();
    auto *preview = window.previewWindow();
    QVERIFY(!preview->isVisible());
    box->setChecked(true);
    QTRY_VERIFY_WITH_TIMEOUT(preview->isVisible(), 10000);
    QVERIFY(window.previewShown());
    QCOMPARE(preview->image().size(), QSize(400, 300));
    box->setChecked(false);
    QVERIFY(!preview->isVisible());
    QVERIFY(!window.previewShown());
    // A frame still on its way after unchecking does not bring it back.
    QTest::qWait(300);
    QVERIFY(!preview->isVisible());
    box->setChecked(true);
    QTRY_VERIFY_WITH_TIMEOUT(preview->isVisible(), 10000);
}

void PreviewTest::closingThePreviewUnchecksTheBox() {
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *box = window.settingsDialog()->previewBox();
    auto *preview = window.previewWindow();
    box->setChecked(true);
    QTRY_VERIFY_WITH_TIMEOUT(preview->isVisible(), 10000);
    preview->close();
    QVERIFY(!preview->isVisible());
    QVERIFY(!box->isChecked());
    QVERIFY(!window.previewShown());
}

void PreviewTest::minimisingHidesThePreviewAndRestoringShowsItOnlyIfItWasShown() {
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *box = window.settingsDialog()->previewBox();
    auto *preview = window.previewWindow();
    box->setChecked(true);
    QTRY_VERIFY_WITH_TIMEOUT(preview->isVisible(), 10000);
    window.setWindowState(Qt::WindowMinimized);
    QTRY_VERIFY(!preview->isVisible());
    QVERIFY(window.previewShown());
    window.setWindowState(Qt::WindowNoState);
    QTRY_VERIFY(preview->isVisible());

    box->setChecked(false);
    window.setWindowState(Qt::WindowMinimized);
    QTest::qWait(50);
    window.setWindowState(Qt::WindowNoState);
    QTest::qWait(100);
    QVERIFY(!preview->isVisible());
}

void PreviewTest::closingTheDialogMidRenderEndsCleanly() {
    // Many renders asked for, then the window goes at once: the render
    // thread ends before the dialog it calls back (the sanitizer builds
    // see any use after free), and leaves nothing held that a later
    // preview would wait for.
    for (int round = 0; round < 5; ++round) {
        auto window = std::make_unique<MainWindow>();
        window->show();
        window->settingsDialog()->previewBox()->setChecked(true);
        Setts record = Defaults();
        for (int i = 0; i < 20; ++i) {
            record.fontSize = uint32_t(1000 + 50 * i);
            window->settingsDialog()->apply(record);
        }
        QTest::qWait(5 * round);
        window.reset();
    }
    MainWindow window;
    window.show();
    window.settingsDialog()->previewBox()->setChecked(true);
    QTRY_VERIFY_WITH_TIMEOUT(window.previewWindow()->isVisible(), 10000);
}

QTEST_MAIN(PreviewTest)
#include "preview_test.moc"
