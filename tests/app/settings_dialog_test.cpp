// The settings dialog: a record applied and collected again comes back
// whole; the pages show the record's values in its unit; the background
// box's check boxes and enable rules; the face and style lists.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>
#include <QTest>

#include <cstring>

#include "MK_Core.h"
#include "color_button.h"
#include "font_lists.h"
#include "number_spin_box.h"
#include "settings_dialog.h"
#include "settings_pages.h"

using mk::app::BackgroundPage;
using mk::app::ColorButton;
using mk::app::ExtraPage;
using mk::app::FontPage;
using mk::app::FormatPage;
using mk::app::NumberSpinBox;
using mk::app::PositionPage;
using mk::app::SettingsDialog;

Q_DECLARE_METATYPE(Setts)

namespace {

constexpr uint32_t kEveryFlag = FLAG_BACKGROUND | FLAG_ROUND_CORNERS | FLAG_FULL_WIDTH |
                                FLAG_DATE_FROM_EXIF | FLAG_FILETIME_CREATED | FLAG_PIXEL_UNITS |
                                FLAG_REVERSE_MARKER | FLAG_RESTAMP | FLAG_ALLOW_READONLY |
                                FLAG_ROTATE;

Setts Defaults() {
    Setts record;
    MK_SettsLoadDefaults(&record);
    return record;
}

void SetText(char *field, size_t size, const char *text) {
    std::memset(field, 0, size);
    std::strncpy(field, text, size - 1);
}

// Values no default has: negative and odd offsets, colours, opacities, a
// bold italic face, seconds, another locale and time picture.
Setts OddRecord(uint32_t flags) {
    Setts record = Defaults();
    record.flags = flags;
    record.useSeconds = 1;
    record.localeId = 0x0407;
    SetText(record.datePicture, sizeof record.datePicture, "dd.MM.yyyy 'um'");
    SetText(record.timePicture, sizeof record.timePicture, "HH:mm:ss");
    record.stampPosition = MK_POS_TOP_CENTER;
    record.horizontalOffset = (flags & FLAG_PIXEL_UNITS) != 0 ? -1234 : -9999;
    record.verticalOffset = 777;
    record.fontSize = (flags & FLAG_PIXEL_UNITS) != 0 ? 33 : 1234;
    SetText(record.fontFace, sizeof record.fontFace, "DejaVu Serif");
    record.fontWeight = 700;
    record.fontItalic = 1;
    record.fontCharSet = 0;
    record.fontQuality = 4;
    record.fontColor = 0x00123456;
    record.fontOpacity = 37;
    record.backgroundOpacity = 0;
    record.horizontalMargin = 9999;
    record.verticalMargin = 1;
    record.backgroundColor = 0x00FEDCBA;
    return record;
}

// A record whose every field the dialog writes differs from `record`'s,
// with the same size mark and reserved bytes.
Setts Scrambled(const Setts &record) {
    Setts other;
    std::memset(&other, 0xA5, sizeof other);
    other.recordSize = record.recordSize;
    std::memcpy(other.reserved, record.reserved, sizeof other.reserved);
    return other;
}

template <typename T>
T *Find(QWidget *root, const QString &text) {
    for (T *widget : root->findChildren<T *>()) {
        if (widget->text() == text) return widget;
    }
    return nullptr;
}

// The record is packed: its wider fields are compared as copies, since
// QCOMPARE would bind references to addresses that may be misaligned.

// A click on the box's indicator, as a user toggles it.
void Click(QCheckBox *box) {
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
}

QLineEdit *EditOf(NumberSpinBox *box) { return box->findChild<QLineEdit *>(); }

// The page's number fields in the order they were made.
QList<NumberSpinBox *> Fields(QWidget *page) { return page->findChildren<NumberSpinBox *>(); }

}  // namespace

class SettingsDialogTest : public QObject {
    Q_OBJECT

  private slots:
    void applyingThenCollectingGivesTheRecordBack_data();
    void applyingThenCollectingGivesTheRecordBack();
    void roundedCornersWithFullWidthCollectsWithoutRoundedCorners();
    void applyChangesTheEditedSettingsButCollectsOnlyOnRequest();
    void pagesShowTheValuesInTheRecordsUnit();
    void pixelUnitsStepByOneAndFive();
    void fullWidthAndRoundedCornersExcludeEachOther();
    void enableOffDisablesThePageButItself();
    void editsReachTheCollectedRecord();
    void theFaceListSelectsTheStoredFaceAndListsItsStyles();
    void choosingAFaceTakesItsFirstStyle();
    void aFaceThatIsNotInstalledStaysInTheRecord();
    void anotherCharacterSetTakesTheFaceTheStampWouldUse();
    void theTimePictureNoneCollectsEmptyAndDisablesSeconds();
};

void SettingsDialogTest::applyingThenCollectingGivesTheRecordBack_data() {
    QTest::addColumn<Setts>("record");
    QTest::newRow("defaults") << Defaults();
    QTest::newRow("every flag but rounded corners") << OddRecord(kEveryFlag & ~FLAG_ROUND_CORNERS);
    QTest::newRow("rounded corners, no flag of the file settings")
        << OddRecord(FLAG_BACKGROUND | FLAG_ROUND_CORNERS);
    QTest::newRow("no flag at all") << OddRecord(0);
    QTest::newRow("pixel units") << OddRecord(FLAG_PIXEL_UNITS | FLAG_BACKGROUND);
    Setts arial = Defaults();
    arial.fontWeight = 700;
    QTest::newRow("a face that is not installed, bold") << arial;
}

void SettingsDialogTest::applyingThenCollectingGivesTheRecordBack() {
    QFETCH(Setts, record);
    // Made over one record, then given another: both ways of showing one.
    Setts edited = Defaults();
    edited.fontSize = 2222;
    SettingsDialog dialog(&edited, nullptr);
    dialog.apply(record);
    Setts collected = Scrambled(record);
    dialog.collect(&collected);
    QVERIFY(std::memcmp(&collected, &record, sizeof record) == 0);

    Setts fresh = record;
    SettingsDialog made(&fresh, nullptr);
    Setts again = Scrambled(record);
    made.collect(&again);
    QVERIFY(std::memcmp(&again, &record, sizeof record) == 0);
}

void SettingsDialogTest::roundedCornersWithFullWidthCollectsWithoutRoundedCorners() {
    Setts record = OddRecord(kEveryFlag);
    Setts edited = Defaults();
    SettingsDialog dialog(&edited, nullptr);
    dialog.apply(record);
    auto *page = dialog.findChild<BackgroundPage *>();
    QVERIFY(Find<QCheckBox>(page, "Full width")->isChecked());
    QVERIFY(!Find<QCheckBox>(page, "Rounded corners")->isChecked());
    Setts collected = Scrambled(record);
    dialog.collect(&collected);
    QCOMPARE(uint32_t{collected.flags}, kEveryFlag & ~FLAG_ROUND_CORNERS);
    record.flags &= ~FLAG_ROUND_CORNERS;
    QVERIFY(std::memcmp(&collected, &record, sizeof record) == 0);
}

void SettingsDialogTest::applyChangesTheEditedSettingsButCollectsOnlyOnRequest() {
    Setts edited = Defaults();
    SettingsDialog dialog(&edited, nullptr);
    const Setts odd = OddRecord(FLAG_BACKGROUND);
    dialog.apply(odd);
    QVERIFY(std::memcmp(&edited, &odd, sizeof odd) == 0);
    // Typing changes the dialog's values, not the record.
    auto *size = Fields(dialog.findChild<FontPage *>()).at(0);
    EditOf(size)->selectAll();
    QTest::keyClicks(size, QStringLiteral("20"));
    QCOMPARE(int32_t{edited.fontSize}, int32_t{odd.fontSize});
    Setts collected = edited;
    dialog.collect(&collected);
    QCOMPARE(int32_t{collected.fontSize}, 2000);
}

void SettingsDialogTest::pagesShowTheValuesInTheRecordsUnit() {
    Setts record = OddRecord(FLAG_BACKGROUND);
    SettingsDialog dialog(&record, nullptr);
    auto *position = dialog.findChild<PositionPage *>();
    QCOMPARE(position->findChild<QComboBox *>()->currentText(), QStringLiteral("Top-Center"));
    QCOMPARE(EditOf(Fields(position).at(0))->text(), QStringLiteral("-99.99"));
    QCOMPARE(EditOf(Fields(position).at(1))->text(), QStringLiteral("7.77"));
    QVERIFY(Find<QLabel>(position, "%") != nullptr);
    QVERIFY(Find<QLabel>(position, "pxs") == nullptr);
    auto *font = dialog.findChild<FontPage *>();
    QCOMPARE(EditOf(Fields(font).at(0))->text(), QStringLiteral("12.34"));
    QCOMPARE(EditOf(Fields(font).at(1))->text(), QStringLiteral("37"));
    QVERIFY(Find<QCheckBox>(font, "Use anti-aliasing")->isChecked());
    QCOMPARE(font->findChild<ColorButton *>()->color(), 0x00123456u);
    auto *background = dialog.findChild<BackgroundPage *>();
    QCOMPARE(EditOf(Fields(background).at(0))->text(), QStringLiteral("99.99"));
    QCOMPARE(EditOf(Fields(background).at(1))->text(), QStringLiteral("0.01"));
    QCOMPARE(EditOf(Fields(background).at(2))->text(), QStringLiteral("0"));
    auto *format = dialog.findChild<FormatPage *>();
    QCOMPARE(format->findChildren<QLineEdit *>().at(0)->text(), QStringLiteral("dd.MM.yyyy 'um'"));
    QVERIFY(Find<QCheckBox>(format, "Use Seconds")->isChecked());

    Setts pixels = OddRecord(FLAG_PIXEL_UNITS | FLAG_BACKGROUND);
    dialog.apply(pixels);
    QCOMPARE(EditOf(Fields(position).at(0))->text(), QStringLiteral("-1234"));
    QCOMPARE(EditOf(Fields(font).at(0))->text(), QStringLiteral("33"));
    QCOMPARE(EditOf(Fields(background).at(0))->text(), QStringLiteral("9999"));
    QVERIFY(Find<QLabel>(position, "pxs") != nullptr);
    QVERIFY(Find<QLabel>(position, "%") == nullptr);
    QVERIFY(Find<QLabel>(font, "pxs") != nullptr);
    QVERIFY(Find<QLabel>(background, "pxs") != nullptr);
}

void SettingsDialogTest::pixelUnitsStepByOneAndFive() {
    Setts record = OddRecord(FLAG_PIXEL_UNITS | FLAG_BACKGROUND);
    SettingsDialog dialog(&record, nullptr);
    dialog.show();
    NumberSpinBox *size = Fields(dialog.findChild<FontPage *>()).at(0);
    NumberSpinBox *offset = Fields(dialog.findChild<PositionPage *>()).at(1);
    NumberSpinBox *margin = Fields(dialog.findChild<BackgroundPage *>()).at(1);
    size->stepBy(1);
    offset->stepBy(1);
    margin->stepBy(1);
    Setts collected = record;
    dialog.collect(&collected);
    QCOMPARE(int32_t{collected.fontSize}, 34);
    QCOMPARE(int32_t{collected.verticalOffset}, 780);
    QCOMPARE(int{collected.verticalMargin}, 5);
}

void SettingsDialogTest::fullWidthAndRoundedCornersExcludeEachOther() {
    Setts record = Defaults();
    record.flags |= FLAG_ROUND_CORNERS;
    SettingsDialog dialog(&record, nullptr);
    dialog.show();
    auto *page = dialog.findChild<BackgroundPage *>();
    dialog.tabs()->setCurrentWidget(page);
    QCheckBox *full = Find<QCheckBox>(page, "Full width");
    QCheckBox *round = Find<QCheckBox>(page, "Rounded corners");
    NumberSpinBox *horizontal = Fields(page).at(0);
    QVERIFY(round->isChecked());
    QVERIFY(horizontal->isEnabled());

    Click(full);
    QVERIFY(full->isChecked());
    QVERIFY(!round->isChecked());
    QVERIFY(!horizontal->isEnabled());
    QVERIFY(!Find<QLabel>(page, "Left && Right:")->isEnabled());
    QVERIFY(Fields(page).at(1)->isEnabled());
    Setts collected = record;
    dialog.collect(&collected);
    QCOMPARE(collected.flags & (FLAG_FULL_WIDTH | FLAG_ROUND_CORNERS), FLAG_FULL_WIDTH);

    Click(round);
    QVERIFY(round->isChecked());
    QVERIFY(!full->isChecked());
    QVERIFY(horizontal->isEnabled());
    dialog.collect(&collected);
    QCOMPARE(collected.flags & (FLAG_FULL_WIDTH | FLAG_ROUND_CORNERS), FLAG_ROUND_CORNERS);

    Click(round);
    dialog.collect(&collected);
    QCOMPARE(collected.flags & (FLAG_FULL_WIDTH | FLAG_ROUND_CORNERS), 0u);
}

void SettingsDialogTest::enableOffDisablesThePageButItself() {
    Setts record = Defaults();
    SettingsDialog dialog(&record, nullptr);
    dialog.show();
    auto *page = dialog.findChild<BackgroundPage *>();
    dialog.tabs()->setCurrentWidget(page);
    QCheckBox *enable = Find<QCheckBox>(page, "Enable");
    QVERIFY(enable->isChecked());
    Click(enable);
    QVERIFY(!enable->isChecked());
    QVERIFY(enable->isEnabled());
    for (NumberSpinBox *field : Fields(page)) QVERIFY(!field->isEnabled());
    for (QCheckBox *box : page->findChildren<QCheckBox *>()) {
        if (box != enable) QVERIFY2(!box->isEnabled(), qPrintable(box->text()));
    }
    QVERIFY(!page->findChild<ColorButton *>()->isEnabled());
    for (const char *label : {"Left && Right:", "Top && Bottom:", "Color", "% opacity"}) {
        QVERIFY2(!Find<QLabel>(page, label)->isEnabled(), label);
    }
    Setts collected = record;
    dialog.collect(&collected);
    QCOMPARE(collected.flags & FLAG_BACKGROUND, 0u);

    Click(enable);
    for (NumberSpinBox *field : Fields(page)) QVERIFY(field->isEnabled());
    QVERIFY(page->findChild<ColorButton *>()->isEnabled());
}

void SettingsDialogTest::editsReachTheCollectedRecord() {
    Setts record = Defaults();
    SettingsDialog dialog(&record, nullptr);
    dialog.show();
    auto *position = dialog.findChild<PositionPage *>();
    dialog.tabs()->setCurrentWidget(position);
    auto *location = position->findChild<QComboBox *>();
    location->setCurrentIndex(0);
    emit location->activated(0);
    NumberSpinBox *horizontal = Fields(position).at(0);
    EditOf(horizontal)->selectAll();
    QTest::keyClicks(horizontal, QStringLiteral("150"));

    auto *font = dialog.findChild<FontPage *>();
    dialog.tabs()->setCurrentWidget(font);
    NumberSpinBox *opacity = Fields(font).at(1);
    EditOf(opacity)->selectAll();
    QTest::keyClicks(opacity, QStringLiteral("250"));
    Click(Find<QCheckBox>(font, "Use anti-aliasing"));

    auto *extra = dialog.findChild<ExtraPage *>();
    dialog.tabs()->setCurrentWidget(extra);
    Click(Find<QCheckBox>(extra, "Save \"undo stamp\" info"));
    Click(Find<QCheckBox>(extra, "Process read-only files"));

    auto *format = dialog.findChild<FormatPage *>();
    dialog.tabs()->setCurrentWidget(format);
    QLineEdit *date = format->findChildren<QLineEdit *>().at(0);
    date->selectAll();
    QTest::keyClicks(date, QStringLiteral("yyyy/MM/dd"));

    Setts collected = record;
    dialog.collect(&collected);
    QCOMPARE(collected.stampPosition, MK_POS_TOP_LEFT);
    QCOMPARE(int32_t{collected.horizontalOffset}, 10000);
    QCOMPARE(EditOf(horizontal)->text(), QStringLiteral("100.00"));
    QCOMPARE(collected.fontOpacity, 100);
    QCOMPARE(EditOf(opacity)->text(), QStringLiteral("100"));
    QCOMPARE(collected.fontQuality, 4);
    QCOMPARE(collected.flags & FLAG_REVERSE_MARKER, 0u);
    QCOMPARE(collected.flags & FLAG_ALLOW_READONLY, FLAG_ALLOW_READONLY);
    QCOMPARE(QByteArray(collected.datePicture), QByteArray("yyyy/MM/dd"));
    // Everything else is as it was.
    Setts expected = record;
    expected.stampPosition = MK_POS_TOP_LEFT;
    expected.horizontalOffset = 10000;
    expected.fontOpacity = 100;
    expected.fontQuality = 4;
    expected.flags = (record.flags & ~FLAG_REVERSE_MARKER) | FLAG_ALLOW_READONLY;
    SetText(expected.datePicture, sizeof expected.datePicture, "yyyy/MM/dd");
    QVERIFY(std::memcmp(&collected, &expected, sizeof expected) == 0);
}

void SettingsDialogTest::theFaceListSelectsTheStoredFaceAndListsItsStyles() {
    Setts record = OddRecord(FLAG_BACKGROUND);
    SetText(record.fontFace, sizeof record.fontFace, "DejaVu Sans");
    SettingsDialog dialog(&record, nullptr);
    auto *page = dialog.findChild<FontPage *>();
    const QList<QComboBox *> lists = page->findChildren<QComboBox *>();
    QComboBox *faces = lists.at(0);
    QComboBox *styles = lists.at(1);
    // The face itself, not the longer names that begin with it.
    QCOMPARE(faces->currentText(), QStringLiteral("DejaVu Sans"));
    QVERIFY(faces->findText(QStringLiteral("DejaVu Sans Mono")) >= 0);
    QCOMPARE(styles->currentText(), QStringLiteral("Bold Italic"));
    QStringList names;
    for (int i = 0; i < styles->count(); ++i) names << styles->itemText(i);
    QCOMPARE(names, (QStringList{"Regular", "Italic", "Bold", "Bold Italic"}));
}

void SettingsDialogTest::choosingAFaceTakesItsFirstStyle() {
    Setts record = OddRecord(FLAG_BACKGROUND);
    SettingsDialog dialog(&record, nullptr);
    auto *page = dialog.findChild<FontPage *>();
    QComboBox *faces = page->findChildren<QComboBox *>().at(0);
    QComboBox *styles = page->findChildren<QComboBox *>().at(1);
    const int mono = faces->findText(QStringLiteral("Liberation Mono"));
    QVERIFY(mono >= 0);
    faces->setCurrentIndex(mono);
    emit faces->activated(mono);
    QCOMPARE(styles->currentText(), QStringLiteral("Regular"));
    Setts collected = record;
    dialog.collect(&collected);
    QCOMPARE(QByteArray(collected.fontFace), QByteArray("Liberation Mono"));
    QCOMPARE(int32_t{collected.fontWeight}, 400);
    QCOMPARE(collected.fontItalic, 0);

    const int italic = styles->findText(QStringLiteral("Italic"));
    styles->setCurrentIndex(italic);
    emit styles->activated(italic);
    dialog.collect(&collected);
    QCOMPARE(int32_t{collected.fontWeight}, 400);
    QCOMPARE(collected.fontItalic, 1);
}

void SettingsDialogTest::aFaceThatIsNotInstalledStaysInTheRecord() {
    Setts record = Defaults();  // "Arial", not among the test fonts
    QVERIFY(mk::app::FindFace(mk::app::FontFamilies(0), "Arial") < 0);
    SettingsDialog dialog(&record, nullptr);
    QComboBox *faces = dialog.findChild<FontPage *>()->findChildren<QComboBox *>().at(0);
    QCOMPARE(faces->currentIndex(), -1);
    QVERIFY(faces->placeholderText().startsWith(QStringLiteral("Arial")));
    Setts collected = Scrambled(record);
    dialog.collect(&collected);
    QCOMPARE(QByteArray(collected.fontFace), QByteArray("Arial"));
}

void SettingsDialogTest::anotherCharacterSetTakesTheFaceTheStampWouldUse() {
    Setts record = Defaults();
    SettingsDialog dialog(&record, nullptr);
    constexpr uint8_t kCyrillic = 204;
    dialog.changeCharSet(kCyrillic);
    Setts collected = record;
    dialog.collect(&collected);
    QCOMPARE(collected.fontCharSet, kCyrillic);
    const QString face = QString::fromUtf8(collected.fontFace);
    QVERIFY(face != QStringLiteral("Arial"));
    const QStringList cyrillic = mk::app::FontFamilies(kCyrillic);
    QVERIFY2(cyrillic.contains(face), qPrintable(face));
    QComboBox *faces = dialog.findChild<FontPage *>()->findChildren<QComboBox *>().at(0);
    QCOMPARE(faces->currentText(), face);
    QCOMPARE(faces->count(), cyrillic.size());
}

void SettingsDialogTest::theTimePictureNoneCollectsEmptyAndDisablesSeconds() {
    Setts record = OddRecord(FLAG_BACKGROUND);
    SettingsDialog dialog(&record, nullptr);
    dialog.show();
    auto *format = dialog.findChild<FormatPage *>();
    QLineEdit *time = format->findChildren<QLineEdit *>().at(1);
    QCheckBox *seconds = Find<QCheckBox>(format, "Use Seconds");
    QVERIFY(seconds->isEnabled());
    time->selectAll();
    QTest::keyClicks(time, QStringLiteral("None"));
    QVERIFY(!seconds->isEnabled());
    Setts collected = record;
    dialog.collect(&collected);
    QCOMPARE(collected.timePicture[0], '\0');
    time->selectAll();
    QTest::keyClicks(time, QStringLiteral("HH:mm"));
    QVERIFY(seconds->isEnabled());
    dialog.collect(&collected);
    QCOMPARE(QByteArray(collected.timePicture), QByteArray("HH:mm"));
}

QTEST_MAIN(SettingsDialogTest)
#include "settings_dialog_test.moc"
