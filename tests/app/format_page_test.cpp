// The Format page: the language list, the picture lists and their samples
// and faces, typing and choosing pictures, "None" and "Use Seconds", the
// "More" choice and the "Select Language" dialog; showing a record leaves
// it as it was.
#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRawFont>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <cstring>
#include <memory>

#include "MK_Core.h"
#include "dialog_values.h"
#include "language_dialog.h"
#include "locale_lists.h"
#include "sample_item_delegate.h"
#include "settings_dialog.h"
#include "settings_pages.h"

using mk::app::DialogValues;
using mk::app::FormatPage;
using mk::app::LanguageDialog;
using mk::app::SampleItemDelegate;

Q_DECLARE_METATYPE(Setts)

namespace {

constexpr uint16_t kGerman = 0x0407;
constexpr uint16_t kGreek = 0x0408;
constexpr uint16_t kEnglishUs = 0x0409;
constexpr uint16_t kJapanese = 0x0411;
constexpr uint16_t kRussian = 0x0419;

// Tuesday, 15 April 2008, 13:45:09.
constexpr MK_SystemTime kSample{2008, 4, 2, 15, 13, 45, 9, 0};

void SetText(char *field, size_t size, const char *text) {
    std::memset(field, 0, size);
    std::strncpy(field, text, size - 1);
}

Setts Record(uint16_t localeId, const char *date, const char *time, bool seconds) {
    Setts record;
    MK_SettsLoadDefaults(&record);
    record.localeId = localeId;
    record.useSeconds = seconds ? 1 : 0;
    SetText(record.datePicture, sizeof record.datePicture, date);
    SetText(record.timePicture, sizeof record.timePicture, time);
    return record;
}

// The page on a tab of its own, as the settings dialog holds it.
struct Fixture {
    explicit Fixture(const Setts &record) : values(mk::app::ValuesFromSetts(record)) {
        tabs = std::make_unique<QTabWidget>();
        page = new FormatPage(&values, kSample, tabs.get());
        tabs->addTab(page, QStringLiteral("Format"));
        tabs->move(40, 50);
        tabs->show();
        // Active, as when the user works in it: fields complete and take
        // keys only with the focus.
        tabs->activateWindow();
        active = QTest::qWaitForWindowActive(tabs.get());
    }
    Setts collected() const {
        Setts record;
        MK_SettsLoadDefaults(&record);
        mk::app::CollectValues(values, &record);
        return record;
    }
    DialogValues values;
    std::unique_ptr<QTabWidget> tabs;
    FormatPage *page;
    bool active = false;
};

QStringList ItemTexts(const QComboBox *box) {
    QStringList texts;
    for (int i = 0; i < box->count(); ++i) texts << box->itemText(i);
    return texts;
}

QList<uint16_t> ItemLocales(const QComboBox *box) {
    QList<uint16_t> ids;
    for (int i = 0; i < box->count(); ++i) ids << uint16_t(box->itemData(i).toUInt());
    return ids;
}

// What the list's delegate draws for an item: its text and face.
QStyleOptionViewItem Drawn(QComboBox *box, int row) {
    auto *delegate = qobject_cast<SampleItemDelegate *>(box->itemDelegate());
    QStyleOptionViewItem option;
    option.initFrom(box->view());
    delegate->initStyleOption(&option, box->model()->index(row, 0));
    return option;
}

// Picks an item of an open list with the mouse, as a user does.
void ClickItem(QComboBox *box, int row) {
    box->showPopup();
    QAbstractItemView *view = box->view();
    QTRY_VERIFY(view->isVisible());
    view->scrollTo(view->model()->index(row, 0));
    const QRect rect = view->visualRect(view->model()->index(row, 0));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rect.center());
    QTRY_VERIFY(!view->isVisible());
}

// Types the text key by key; characters no key of the test keyboard has
// arrive as an input method would send them.
void Type(QWidget *widget, const QString &text) {
    widget->setFocus();
    for (QChar c : text) {
        if (c.unicode() < 0x80) {
            QTest::keyClick(widget, char(c.unicode()));
        } else {
            QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
        }
    }
}

// Chooses the language list's last item, "More", from the keyboard.
void ChooseMore(FormatPage *page) {
    page->languageList()->setFocus();
    QTest::keyClick(page->languageList(), Qt::Key_End);
}

}  // namespace

class FormatPageTest : public QObject {
    Q_OBJECT

  private slots:
    void theLanguageListHoldsTheConfiguredLanguagesAndTheRecords_data();
    void theLanguageListHoldsTheConfiguredLanguagesAndTheRecords();
    void theListsOfferTheLocalesPicturesDrawnAsSamples_data();
    void theListsOfferTheLocalesPicturesDrawnAsSamples();
    void showingARecordLeavesItAsItWas_data();
    void showingARecordLeavesItAsItWas();
    void noneCollectsAnEmptyTimeAndDisablesSeconds();
    void typedPicturesAreCollectedAsTyped_data();
    void typedPicturesAreCollectedAsTyped();
    void choosingADatePictureWritesIt();
    void useSecondsFollowsTheBox();
    void more_data();
    void more();
    void reChoosingTheShownLanguageKeepsThePictures();
    void scriptsAreDrawnInAFaceThatHasThem_data();
    void scriptsAreDrawnInAFaceThatHasThem();
    void theSelectLanguageDialog();
    void moreOpensTheDialogAtTheTabsCorner();
    void aLanguageChosenInTheDialogReachesTheRecordAndTheFont();
};

void FormatPageTest::theLanguageListHoldsTheConfiguredLanguagesAndTheRecords_data() {
    QTest::addColumn<int>("record");
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<int>("selected");
    // main() configured English (United States) and German.
    QTest::newRow("configured") << int(kGerman)
                                << QStringList{"English (United States)", "German (Germany)",
                                               "More"}
                                << 1;
    QTest::newRow("not configured: added")
        << int(kRussian)
        << QStringList{"English (United States)", "German (Germany)", "Russian (Russia)", "More"}
        << 2;
    QTest::newRow("the user's default, which is English here")
        << 0x0400 << QStringList{"English (United States)", "German (Germany)", "More"} << 0;
}

void FormatPageTest::theLanguageListHoldsTheConfiguredLanguagesAndTheRecords() {
    QFETCH(int, record);
    QFETCH(QStringList, items);
    QFETCH(int, selected);
    Fixture f(Record(uint16_t(record), "yyyy-MM-dd", "HH:mm", false));
    QComboBox *language = f.page->languageList();
    QCOMPARE(ItemTexts(language), items);
    QCOMPARE(language->currentIndex(), selected);
    QCOMPARE(language->itemData(language->count() - 1).toInt(), 0xFFFF);
    QCOMPARE(ItemLocales(language).count(ItemLocales(language).at(selected)), 1);
}

void FormatPageTest::theListsOfferTheLocalesPicturesDrawnAsSamples_data() {
    QTest::addColumn<int>("locale");
    QTest::addColumn<QString>("datePicture");
    QTest::addColumn<QString>("dateSample");
    QTest::addColumn<QString>("timePicture");
    QTest::addColumn<QString>("timeSample");
    QTest::newRow("German") << int(kGerman) << "dd.MM.yyyy"
                            << "15.04.2008"
                            << "HH:mm:ss"
                            << "13:45:09";
    QTest::newRow("German long date") << int(kGerman) << "dddd, d. MMMM yyyy"
                                      << "Dienstag, 15. April 2008"
                                      << "H:mm:ss"
                                      << "13:45:09";
    QTest::newRow("English (United States)") << int(kEnglishUs) << "M/d/yyyy"
                                             << "4/15/2008"
                                             << "h:mm:ss tt"
                                             << "1:45:09 PM";
    QTest::newRow("Russian") << int(kRussian) << "d MMMM yyyy' г.'"
                             << "15 апреля 2008 г."
                             << "H:mm:ss"
                             << "13:45:09";
    QTest::newRow("Japanese") << int(kJapanese) << "yyyy'年'M'月'd'日'"
                              << "2008年4月15日"
                              << "H:mm:ss"
                              << "13:45:09";
}

void FormatPageTest::theListsOfferTheLocalesPicturesDrawnAsSamples() {
    QFETCH(int, locale);
    QFETCH(QString, datePicture);
    QFETCH(QString, dateSample);
    QFETCH(QString, timePicture);
    QFETCH(QString, timeSample);
    const auto id = uint16_t(locale);
    Fixture f(Record(id, "yyyy-MM-dd", "HH:mm", false));
    QComboBox *date = f.page->dateField();
    QComboBox *time = f.page->timeField();
    QVERIFY(date->isEditable());
    QVERIFY(time->isEditable());
    // The items' texts are the pictures, the short dates then the long ones.
    QCOMPARE(ItemTexts(date), mk::app::DatePictures(id));
    QCOMPARE(ItemTexts(time), QStringList{"None"} + mk::app::TimePictures(id));
    const int dateRow = ItemTexts(date).indexOf(datePicture);
    const int timeRow = ItemTexts(time).indexOf(timePicture);
    QVERIFY2(dateRow >= 0, qPrintable(ItemTexts(date).join(u'|')));
    QVERIFY2(timeRow >= 1, qPrintable(ItemTexts(time).join(u'|')));
    // ... drawn as the dialog's sample time in that picture.
    QCOMPARE(Drawn(date, dateRow).text, dateSample);
    QCOMPARE(Drawn(time, timeRow).text, timeSample);
    QCOMPARE(Drawn(time, 0).text, QStringLiteral("None"));
    for (int row = 0; row < date->count(); ++row) {
        QCOMPARE(Drawn(date, row).text, mk::app::DateSample(kSample, id, date->itemText(row)));
        QCOMPARE(Drawn(date, row).font, f.page->dateListFont());
    }
    for (int row = 1; row < time->count(); ++row)
        QCOMPARE(Drawn(time, row).text, mk::app::TimeSample(kSample, id, time->itemText(row)));
    // An open list is wide enough for its samples, whatever the pictures'
    // widths.
    for (QComboBox *box : {date, time}) {
        const QFontMetrics metrics(f.page->dateListFont());
        for (int row = 0; row < box->count(); ++row)
            QVERIFY(box->view()->minimumWidth() > metrics.horizontalAdvance(Drawn(box, row).text));
    }
    // The record's pictures, which the locale does not offer, stay in the
    // fields.
    QCOMPARE(date->currentText(), QStringLiteral("yyyy-MM-dd"));
    QCOMPARE(time->currentText(), QStringLiteral("HH:mm"));
}

void FormatPageTest::showingARecordLeavesItAsItWas_data() {
    QTest::addColumn<Setts>("record");
    QTest::addColumn<int>("charSet");
    Setts defaults;
    MK_SettsLoadDefaults(&defaults);
    QTest::newRow("defaults") << defaults << 0;
    QTest::newRow("German with quoted text")
        << Record(kGerman, "dd.MM.yyyy 'um'", "HH:mm:ss", true) << 0;
    QTest::newRow("Russian, no time") << Record(kRussian, "d MMMM yyyy' г.'", "", true) << 204;
    QTest::newRow("Japanese") << Record(kJapanese, "yyyy'年'M'月'd'日'", "H:mm", false) << 128;
    QTest::newRow("Greek") << Record(kGreek, "d/M/yyyy", "h:mm tt", false) << 161;
    QTest::newRow("the user's default") << Record(0, "yyyy-MM-dd", "HH:mm", false) << 0;
    QTest::newRow("the system's default") << Record(0x0800, "M/d/yyyy", "", true) << 0;
}

void FormatPageTest::showingARecordLeavesItAsItWas() {
    QFETCH(Setts, record);
    QFETCH(int, charSet);
    Fixture f(record);
    QSignalSpy changed(f.page, &FormatPage::changed);
    QSignalSpy charSets(f.page, &FormatPage::charSetChanged);
    f.page->refresh();
    Setts collected = f.collected();
    QVERIFY(std::memcmp(&collected, &record, sizeof record) == 0);
    QCOMPARE(changed.count(), 0);
    QCOMPARE(charSets.count(), 1);
    QCOMPARE(charSets.at(0).at(0).value<uint8_t>(), uint8_t(charSet));

    const QString time = QString::fromUtf8(record.timePicture);
    QCOMPARE(f.page->dateField()->currentText(), QString::fromUtf8(record.datePicture));
    QCOMPARE(f.page->timeField()->currentText(), time.isEmpty() ? QStringLiteral("None") : time);
    QCOMPARE(f.page->secondsBox()->isChecked(), (record.useSeconds & 1) != 0);
    QCOMPARE(f.page->secondsBox()->isEnabled(), !time.isEmpty());

    // Shown once more after another record: still the same.
    Fixture other(Record(kJapanese, "yyyy/MM/dd", "H:mm:ss", true));
    other.values = mk::app::ValuesFromSetts(record);
    other.page->refresh();
    collected = other.collected();
    QVERIFY(std::memcmp(&collected, &record, sizeof record) == 0);
}

void FormatPageTest::noneCollectsAnEmptyTimeAndDisablesSeconds() {
    Fixture f(Record(kGerman, "dd.MM.yyyy", "HH:mm:ss", true));
    QComboBox *time = f.page->timeField();
    QCheckBox *seconds = f.page->secondsBox();
    QSignalSpy changed(f.page, &FormatPage::changed);
    QVERIFY(seconds->isEnabled());

    ClickItem(time, 0);
    QCOMPARE(time->currentText(), QStringLiteral("None"));
    QCOMPARE(f.collected().timePicture[0], '\0');
    QVERIFY(!seconds->isEnabled());
    QCOMPARE(changed.count(), 1);

    const int row = time->findText(QStringLiteral("H:mm:ss"));
    QVERIFY(row >= 1);
    ClickItem(time, row);
    QCOMPARE(time->currentText(), QStringLiteral("H:mm:ss"));
    QCOMPARE(QByteArray(f.collected().timePicture), QByteArray("H:mm:ss"));
    QVERIFY(seconds->isEnabled());
    QCOMPARE(changed.count(), 2);
    // The box kept its state while it was off.
    QVERIFY(seconds->isChecked());
}

void FormatPageTest::typedPicturesAreCollectedAsTyped_data() {
    QTest::addColumn<bool>("date");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("collected");
    QTest::newRow("date with quoted text") << true << "yyyy-MM-dd 'at home'"
                                           << "yyyy-MM-dd 'at home'";
    QTest::newRow("date beginning like an offered picture") << true << "dd.MM"
                                                            << "dd.MM";
    QTest::newRow("date in another script") << true << "d MMMM yyyy' года'"
                                            << "d MMMM yyyy' года'";
    QTest::newRow("time beginning like an offered picture") << false << "HH:mm"
                                                            << "HH:mm";
    QTest::newRow("time with quoted text") << false << "HH:mm 'Uhr'"
                                           << "HH:mm 'Uhr'";
    QTest::newRow("time None") << false << "None"
                               << "";
    QTest::newRow("longer than the field") << true << QString(70, u'y') << QString(63, u'y');
}

void FormatPageTest::typedPicturesAreCollectedAsTyped() {
    QFETCH(bool, date);
    QFETCH(QString, typed);
    QFETCH(QString, collected);
    Fixture f(Record(kGerman, "dd.MM.yyyy", "HH:mm:ss", false));
    QVERIFY(f.active);
    QComboBox *field = date ? f.page->dateField() : f.page->timeField();
    QSignalSpy changed(f.page, &FormatPage::changed);
    field->lineEdit()->selectAll();
    Type(field->lineEdit(), typed);
    QTest::keyClick(field->lineEdit(), Qt::Key_Return);
    QVERIFY(changed.count() >= 1);
    const Setts record = f.collected();
    QCOMPARE(QString::fromUtf8(date ? record.datePicture : record.timePicture), collected);
    QCOMPARE(field->currentText(), typed.left(63));
    // Nothing was added to the list by Return.
    QCOMPARE(field->count(), date ? mk::app::DatePictures(kGerman).size()
                                  : mk::app::TimePictures(kGerman).size() + 1);
    QCOMPARE(f.page->secondsBox()->isEnabled(), date || !collected.isEmpty());
}

void FormatPageTest::choosingADatePictureWritesIt() {
    Fixture f(Record(kEnglishUs, "yyyy-MM-dd", "HH:mm", false));
    QComboBox *date = f.page->dateField();
    const int row = date->findText(QStringLiteral("dddd, MMMM d, yyyy"));
    QVERIFY(row >= 0);
    QSignalSpy changed(f.page, &FormatPage::changed);
    ClickItem(date, row);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(date->currentText(), QStringLiteral("dddd, MMMM d, yyyy"));
    QCOMPARE(QByteArray(f.collected().datePicture), QByteArray("dddd, MMMM d, yyyy"));
}

void FormatPageTest::useSecondsFollowsTheBox() {
    Fixture f(Record(kEnglishUs, "yyyy-MM-dd", "HH:mm:ss", false));
    QCheckBox *seconds = f.page->secondsBox();
    QSignalSpy changed(f.page, &FormatPage::changed);
    QTest::mouseClick(seconds, Qt::LeftButton, {}, QPoint(6, seconds->height() / 2));
    QVERIFY(seconds->isChecked());
    QCOMPARE(uint32_t{f.collected().useSeconds}, 1u);
    QTest::mouseClick(seconds, Qt::LeftButton, {}, QPoint(6, seconds->height() / 2));
    QCOMPARE(uint32_t{f.collected().useSeconds}, 0u);
    QCOMPARE(changed.count(), 2);
}

void FormatPageTest::more_data() {
    QTest::addColumn<int>("record");
    QTest::addColumn<int>("picked");  // -1: cancelled
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<int>("selected");
    QTest::newRow("already listed: selected")
        << int(kEnglishUs) << int(kGerman)
        << QStringList{"English (United States)", "German (Germany)", "More"} << 1;
    QTest::newRow("new: before More")
        << int(kEnglishUs) << int(kJapanese)
        << QStringList{"English (United States)", "German (Germany)", "Japanese (Japan)", "More"}
        << 2;
    QTest::newRow("new after the record's own")
        << int(kRussian) << int(kGreek)
        << QStringList{"English (United States)", "German (Germany)", "Russian (Russia)",
                       "Greek (Greece)", "More"}
        << 3;
    QTest::newRow("cancelled: the language before")
        << int(kGerman) << -1 << QStringList{"English (United States)", "German (Germany)", "More"}
        << 1;
}

void FormatPageTest::more() {
    QFETCH(int, record);
    QFETCH(int, picked);
    QFETCH(QStringList, items);
    QFETCH(int, selected);
    const Setts shown = Record(uint16_t(record), "yyyy-MM-dd 'x'", "HH:mm", true);
    Fixture f(shown);
    int asked = 0;
    QPoint corner;
    f.page->setLanguageChooser([&](QWidget *, const QPoint &topLeft) -> std::optional<uint16_t> {
        ++asked;
        corner = topLeft;
        if (picked < 0) return std::nullopt;
        return uint16_t(picked);
    });
    QSignalSpy changed(f.page, &FormatPage::changed);
    QSignalSpy charSets(f.page, &FormatPage::charSetChanged);
    ChooseMore(f.page);
    QCOMPARE(asked, 1);
    QCOMPARE(corner, f.tabs->mapToGlobal(QPoint(0, 0)));
    QComboBox *language = f.page->languageList();
    QCOMPARE(ItemTexts(language), items);
    QCOMPARE(language->currentIndex(), selected);

    if (picked < 0) {
        QCOMPARE(changed.count(), 0);
        QCOMPARE(charSets.count(), 0);
        const Setts collected = f.collected();
        QVERIFY(std::memcmp(&collected, &shown, sizeof shown) == 0);
        return;
    }
    const auto id = uint16_t(picked);
    QCOMPARE(language->itemData(selected).toUInt(), uint(id));
    QCOMPARE(f.page->listLocale(), id);
    // The lists are the new language's, its first date and time in the
    // fields and the record.
    const QStringList dates = mk::app::DatePictures(id);
    const QStringList times = mk::app::TimePictures(id);
    QCOMPARE(ItemTexts(f.page->dateField()), dates);
    QCOMPARE(f.page->dateField()->currentText(), dates.at(0));
    QCOMPARE(f.page->timeField()->currentText(), times.at(0));
    const Setts collected = f.collected();
    QCOMPARE(uint16_t{collected.localeId}, id);
    QCOMPARE(QString::fromUtf8(collected.datePicture), dates.at(0));
    QCOMPARE(QString::fromUtf8(collected.timePicture), times.at(0));
    QVERIFY(f.page->secondsBox()->isEnabled());
    QCOMPARE(changed.count(), 1);
    QCOMPARE(charSets.count(), 1);
    QCOMPARE(charSets.at(0).at(0).value<uint8_t>(),
             mk::app::FindLocale(mk::app::KnownLocales(), id)->charSet);
}

void FormatPageTest::reChoosingTheShownLanguageKeepsThePictures() {
    const Setts shown = Record(kGerman, "dd.MM.yyyy 'um'", "HH:mm", true);
    Fixture f(shown);
    f.page->setLanguageChooser(
        [](QWidget *, const QPoint &) -> std::optional<uint16_t> { return kGerman; });
    QSignalSpy changed(f.page, &FormatPage::changed);
    ChooseMore(f.page);
    QCOMPARE(f.page->languageList()->currentIndex(), 1);
    QCOMPARE(f.page->languageList()->count(), 3);
    // From the list: the selected item once more.
    ClickItem(f.page->languageList(), 1);
    QCOMPARE(changed.count(), 0);
    const Setts collected = f.collected();
    QVERIFY(std::memcmp(&collected, &shown, sizeof shown) == 0);
}

void FormatPageTest::scriptsAreDrawnInAFaceThatHasThem_data() {
    QTest::addColumn<int>("locale");
    QTest::addColumn<QString>("pageFace");
    QTest::newRow("Russian") << int(kRussian) << QString();
    QTest::newRow("Russian on a page whose face has no Cyrillic")
        << int(kRussian) << "DejaVu Math TeX Gyre";
    QTest::newRow("Greek") << int(kGreek) << QString();
    QTest::newRow("Japanese") << int(kJapanese) << QString();
}

void FormatPageTest::scriptsAreDrawnInAFaceThatHasThem() {
    QFETCH(int, locale);
    QFETCH(QString, pageFace);
    const auto id = uint16_t(locale);
    Fixture f(Record(id, "yyyy-MM-dd", "HH:mm", false));
    if (!pageFace.isEmpty()) {
        f.page->setFont(QFont(pageFace));
        f.page->refresh();
    }
    for (QComboBox *box : {f.page->dateField(), f.page->timeField()}) {
        const QFont font =
            box == f.page->dateField() ? f.page->dateListFont() : f.page->timeListFont();
        const QRawFont raw = QRawFont::fromFont(font);
        // The face asked for is the face drawn with, not a stand-in.
        QCOMPARE(raw.familyName(), QFontInfo(font).family());
        QString samples;
        for (int row = 0; row < box->count(); ++row) {
            const QStyleOptionViewItem drawn = Drawn(box, row);
            QCOMPARE(drawn.font, font);
            samples += drawn.text;
        }
        QVERIFY(!samples.isEmpty());
        for (uint c : samples.toUcs4()) {
            QVERIFY2(raw.supportsCharacter(c), qPrintable(QStringLiteral("%1 lacks U+%2")
                                                              .arg(raw.familyName())
                                                              .arg(c, 4, 16, QLatin1Char('0'))));
        }
        // The page's own face where it lacks the script: the check can fail.
        const QRawFont own = QRawFont::fromFont(box->font());
        const QList<uint> characters = samples.toUcs4();
        const bool ownLacks = std::any_of(characters.begin(), characters.end(),
                                          [&](uint c) { return !own.supportsCharacter(c); });
        if (ownLacks) QVERIFY(QFontInfo(font).family() != QFontInfo(box->font()).family());
        // The date lists spell month and day names; the time lists are
        // digits.
        if (box == f.page->dateField() && (id == kJapanese || !pageFace.isEmpty()))
            QVERIFY(ownLacks);
    }
}

void FormatPageTest::theSelectLanguageDialog() {
    const QList<mk::app::LocaleChoice> locales = mk::app::KnownLocales();
    {
        LanguageDialog dialog(locales, nullptr);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Select Language"));
        QListWidget *list = dialog.list();
        QCOMPARE(list->count(), mk::app::NamedLocales(locales).size());
        QStringList texts;
        for (int i = 0; i < list->count(); ++i) texts << list->item(i)->text();
        QStringList sorted = texts;
        std::sort(sorted.begin(), sorted.end());
        QCOMPARE(texts, sorted);
        QVERIFY(texts.contains(QStringLiteral("German (Germany) [Deutsch (Deutschland)]")));
        QVERIFY(texts.contains(QStringLiteral("Japanese (Japan) [日本語 (日本)]")));
        QVERIFY(texts.contains(QStringLiteral("Russian (Russia) [русский (Россия)]")));
        QVERIFY(!dialog.selectButton()->isEnabled());
        dialog.show();
        const int row = texts.indexOf(QStringLiteral("Japanese (Japan) [日本語 (日本)]"));
        list->setCurrentRow(row);
        QVERIFY(dialog.selectButton()->isEnabled());
        QTest::mouseClick(dialog.selectButton(), Qt::LeftButton);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.chosen(), std::optional<uint16_t>(kJapanese));
    }
    {
        LanguageDialog dialog(locales, nullptr);
        dialog.show();
        QListWidget *list = dialog.list();
        const int row = list->row(
            list->findItems(QStringLiteral("Greek (Greece) [Ελληνικά (Ελλάδα)]"), Qt::MatchExactly)
                .value(0));
        QVERIFY(row >= 0);
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        list->scrollToItem(list->item(row));
        QCoreApplication::processEvents();
        const QRect rect = list->visualItemRect(list->item(row));
        // A click, then a double click on the same item: the first click
        // only selects it.
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QVERIFY(dialog.isVisible());
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, rect.center());
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.chosen(), std::optional<uint16_t>(kGreek));
    }
    {
        LanguageDialog dialog(locales, nullptr);
        dialog.show();
        dialog.list()->setCurrentRow(3);
        for (QPushButton *button : dialog.findChildren<QPushButton *>()) {
            if (button->text() == QStringLiteral("Cancel"))
                QTest::mouseClick(button, Qt::LeftButton);
        }
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(dialog.chosen(), std::nullopt);
    }
}

void FormatPageTest::moreOpensTheDialogAtTheTabsCorner() {
    Fixture f(Record(kEnglishUs, "yyyy-MM-dd", "HH:mm", false));
    QPoint where;
    bool found = false;
    QTimer::singleShot(0, [&] {
        auto *dialog = qobject_cast<LanguageDialog *>(QApplication::activeModalWidget());
        if (dialog == nullptr) return;
        found = true;
        where = dialog->pos();
        QListWidget *list = dialog->list();
        list->setCurrentItem(
            list->findItems(QStringLiteral("Russian (Russia) [русский (Россия)]"), Qt::MatchExactly)
                .value(0));
        dialog->selectButton()->click();
    });
    // The page's own chooser: the real dialog.
    ChooseMore(f.page);
    QVERIFY(found);
    QCOMPARE(where, f.tabs->mapToGlobal(QPoint(0, 0)));
    QCOMPARE(f.page->languageList()->currentText(), QStringLiteral("Russian (Russia)"));
    QCOMPARE(uint16_t{f.collected().localeId}, kRussian);
}

void FormatPageTest::aLanguageChosenInTheDialogReachesTheRecordAndTheFont() {
    Setts record;
    MK_SettsLoadDefaults(&record);
    mk::app::SettingsDialog dialog(&record, nullptr);
    dialog.show();
    auto *page = dialog.findChild<FormatPage *>();
    page->setLanguageChooser(
        [](QWidget *, const QPoint &) -> std::optional<uint16_t> { return kJapanese; });
    ChooseMore(page);
    Setts collected = record;
    dialog.collect(&collected);
    QCOMPARE(uint16_t{collected.localeId}, kJapanese);
    QCOMPARE(collected.fontCharSet, 128);
    QCOMPARE(QString::fromUtf8(collected.datePicture), mk::app::DatePictures(kJapanese).at(0));
    // The stamp's face can write Japanese.
    const QRawFont face = QRawFont::fromFont(QFont(QString::fromUtf8(collected.fontFace)));
    QVERIFY2(face.supportsCharacter(U'年'), collected.fontFace);
}

int main(int argc, char **argv) {
    // The languages the user configured, wherever the tests run: English
    // (United States), which is also the core's default, and German.
    qunsetenv("LC_ALL");
    qunsetenv("LC_TIME");
    qunsetenv("LC_MESSAGES");
    qputenv("LANG", "en_US.UTF-8");
    qputenv("LANGUAGE", "de_DE");
    QApplication application(argc, argv);
    FormatPageTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "format_page_test.moc"
