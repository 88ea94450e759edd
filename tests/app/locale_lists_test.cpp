// The Format page's lists without widgets: locale names and environments
// mapped to the locales the user configured, the language list with the
// record's locale and the user's default, the pictures a locale offers and
// the samples they give, and the face a script's list is drawn in.
#include <QFont>
#include <QGuiApplication>
#include <QRawFont>
#include <QTest>

#include <cstring>

#include "MK_Core.h"
#include "locale_lists.h"

using mk::app::ConfiguredLocales;
using mk::app::DatePictures;
using mk::app::DateSample;
using mk::app::KnownLocales;
using mk::app::ListFace;
using mk::app::LocaleChoice;
using mk::app::LocaleOfName;
using mk::app::MakeLanguageList;
using mk::app::TimePictures;
using mk::app::TimeSample;
using mk::app::UserDefaultLocale;

using Ids = QList<uint16_t>;
Q_DECLARE_METATYPE(Ids)

namespace {

constexpr uint16_t kGerman = 0x0407;
constexpr uint16_t kGreek = 0x0408;
constexpr uint16_t kEnglishUs = 0x0409;
constexpr uint16_t kFrench = 0x040C;
constexpr uint16_t kJapanese = 0x0411;
constexpr uint16_t kPortugueseBrazil = 0x0416;
constexpr uint16_t kRussian = 0x0419;
constexpr uint16_t kChineseChina = 0x0804;
constexpr uint16_t kChineseTaiwan = 0x0404;
constexpr uint16_t kEnglishUk = 0x0809;
constexpr uint16_t kSerbianLatinSerbia = 0x241A;
constexpr uint16_t kSerbianCyrillicSerbia = 0x281A;

// Tuesday, 15 April 2008, 13:45:09.
constexpr MK_SystemTime kSample{2008, 4, 2, 15, 13, 45, 9, 0};

QProcessEnvironment EnvironmentOf(const QStringList &settings) {
    QProcessEnvironment environment;
    for (const QString &setting : settings) {
        const qsizetype equals = setting.indexOf(u'=');
        environment.insert(setting.left(equals), setting.mid(equals + 1));
    }
    return environment;
}

// The core's own list of a locale's pictures.
QStringList CorePictures(uint16_t localeId, int32_t kind) {
    QByteArray buffer(8192, '\0');
    const int32_t count = MK_LocalePictures(localeId, kind, buffer.data(), int32_t(buffer.size()));
    QStringList pictures;
    const char *next = buffer.constData();
    for (int32_t i = 0; i < count; ++i) {
        pictures << QString::fromUtf8(next);
        next += std::strlen(next) + 1;
    }
    return pictures;
}

}  // namespace

class LocaleListsTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void configuredLocales_data();
    void configuredLocales();
    void localeNames_data();
    void localeNames();
    void theRecordsLocaleIsSelectedAndAddedWhenMissing_data();
    void theRecordsLocaleIsSelectedAndAddedWhenMissing();
    void theUserDefaultIsTheLocaleTheCoreFormatsWith();
    void theListsHoldTheLocalesPictures_data();
    void theListsHoldTheLocalesPictures();
    void samples_data();
    void samples();
    void theDateListTakesAtMostSixtyFourPictures();
    void aScriptsListIsDrawnInAFaceThatHasIt_data();
    void aScriptsListIsDrawnInAFaceThatHasIt();

  private:
    QList<LocaleChoice> locales_;
};

void LocaleListsTest::initTestCase() {
    locales_ = KnownLocales();
    QVERIFY(locales_.size() > 100);
}

void LocaleListsTest::configuredLocales_data() {
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<QStringList>("uiLanguages");
    QTest::addColumn<Ids>("expected");
    QTest::newRow("LANG alone") << QStringList{"LANG=de_DE.UTF-8"} << QStringList{} << Ids{kGerman};
    QTest::newRow("LC_TIME before LANG, which still names the messages")
        << QStringList{"LANG=en_US.UTF-8", "LC_TIME=de_DE.UTF-8"} << QStringList{}
        << Ids{kGerman, kEnglishUs};
    QTest::newRow("LC_MESSAGES after the time locale")
        << QStringList{"LANG=en_US.UTF-8", "LC_MESSAGES=ru_RU.UTF-8"} << QStringList{}
        << Ids{kEnglishUs, kRussian};
    QTest::newRow("LC_ALL over every category")
        << QStringList{"LC_ALL=fr_FR.UTF-8", "LC_TIME=de_DE.UTF-8", "LC_MESSAGES=ru_RU",
                       "LANG=en_US.UTF-8"}
        << QStringList{} << Ids{kFrench};
    QTest::newRow("LANGUAGE list, a bare language among them")
        << QStringList{"LANG=de_DE.UTF-8", "LANGUAGE=fr:en_GB"} << QStringList{}
        << Ids{kGerman, kFrench, kEnglishUk};
    QTest::newRow("empty variables count as unset")
        << QStringList{"LC_ALL=", "LC_TIME=", "LANG=ja_JP.UTF-8", "LANGUAGE="} << QStringList{}
        << Ids{kJapanese};
    QTest::newRow("C") << QStringList{"LANG=C"} << QStringList{"C"} << Ids{};
    QTest::newRow("POSIX and C.UTF-8")
        << QStringList{"LC_ALL=POSIX", "LANG=C.UTF-8", "LANGUAGE=C:POSIX"} << QStringList{}
        << Ids{};
    QTest::newRow("nothing set") << QStringList{} << QStringList{} << Ids{};
    QTest::newRow("junk")
        << QStringList{"LANG=klingon", "LC_TIME=/usr/share/locale",
                       "LANGUAGE=::xx_YY:de__DE:_DE:de_:123:d:de_DE_DE:en_US_POSIX"}
        << QStringList{"", "x-klingon"} << Ids{};
    QTest::newRow("junk beside a good name")
        << QStringList{"LANG=12_34", "LANGUAGE=zz:ru_RU.KOI8-R:qq_QQ"} << QStringList{}
        << Ids{kRussian};
    QTest::newRow("each once") << QStringList{"LANG=de_DE.UTF-8", "LC_TIME=de_DE",
                                              "LANGUAGE=de_DE:de:de_DE@euro"}
                               << QStringList{"de-DE", "de", "de-Latn-DE"} << Ids{kGerman};
    QTest::newRow("the system's languages last")
        << QStringList{"LANG=ru_RU.UTF-8"} << QStringList{"en-GB", "en-Latn-GB", "pt"}
        << Ids{kRussian, kEnglishUk, kPortugueseBrazil};
}

void LocaleListsTest::configuredLocales() {
    QFETCH(QStringList, environment);
    QFETCH(QStringList, uiLanguages);
    QFETCH(Ids, expected);
    QCOMPARE(ConfiguredLocales(EnvironmentOf(environment), uiLanguages, locales_), expected);
}

void LocaleListsTest::localeNames_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("expected");
    QTest::newRow("POSIX with code set") << "de_DE.UTF-8" << int(kGerman);
    QTest::newRow("POSIX with code set and modifier") << "de_DE.ISO-8859-15@euro" << int(kGerman);
    QTest::newRow("BCP 47") << "en-US" << int(kEnglishUs);
    QTest::newRow("letter case") << "EN_us" << int(kEnglishUs);
    QTest::newRow("bare language: its main locale") << "ja" << int(kJapanese);
    QTest::newRow("bare Portuguese is Brazil's") << "pt" << int(kPortugueseBrazil);
    QTest::newRow("Simplified Chinese of China") << "zh_CN.UTF-8" << int(kChineseChina);
    QTest::newRow("the script the region writes") << "zh_TW" << int(kChineseTaiwan);
    QTest::newRow("Serbian of Serbia is Cyrillic") << "sr_RS" << int(kSerbianCyrillicSerbia);
    QTest::newRow("the latin modifier") << "sr_RS@latin" << int(kSerbianLatinSerbia);
    QTest::newRow("script in the tag") << "sr-Latn-RS" << int(kSerbianLatinSerbia);
    QTest::newRow("a script the locale is not written in") << "de-Cyrl-DE" << 0;
    QTest::newRow("a region the core has no locale for") << "de_AQ" << 0;
    QTest::newRow("unknown language") << "xx_YY" << 0;
    QTest::newRow("C") << "C" << 0;
    QTest::newRow("POSIX") << "POSIX" << 0;
    QTest::newRow("C.UTF-8") << "C.UTF-8" << 0;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("variant") << "de-DE-1996" << 0;
}

void LocaleListsTest::localeNames() {
    QFETCH(QString, name);
    QFETCH(int, expected);
    QCOMPARE(int(LocaleOfName(name, locales_)), expected);
}

void LocaleListsTest::theRecordsLocaleIsSelectedAndAddedWhenMissing_data() {
    QTest::addColumn<Ids>("configured");
    QTest::addColumn<int>("record");
    QTest::addColumn<Ids>("listed");
    QTest::addColumn<int>("selected");
    QTest::newRow("among the configured") << Ids{kEnglishUs, kGerman, kFrench} << int(kGerman)
                                          << Ids{kEnglishUs, kGerman, kFrench} << 1;
    QTest::newRow("added at the end")
        << Ids{kEnglishUs, kGerman} << int(kRussian) << Ids{kEnglishUs, kGerman, kRussian} << 2;
    QTest::newRow("nothing configured") << Ids{} << int(kJapanese) << Ids{kJapanese} << 0;
    QTest::newRow("unknown to the core, kept")
        << Ids{kGerman} << 0x1234 << Ids{kGerman, 0x1234} << 1;
}

void LocaleListsTest::theRecordsLocaleIsSelectedAndAddedWhenMissing() {
    QFETCH(Ids, configured);
    QFETCH(int, record);
    QFETCH(Ids, listed);
    QFETCH(int, selected);
    const auto list = MakeLanguageList(configured, uint16_t(record), locales_);
    Ids ids;
    for (const auto &item : list.items) ids << item.localeId;
    QCOMPARE(ids, listed);
    QCOMPARE(list.selected, selected);
    QCOMPARE(list.items.at(0).text, mk::app::LanguageName(locales_, listed.at(0)));
    // Known locales by their English names, others by their identifiers.
    for (const auto &item : list.items) {
        if (item.localeId == kGerman) QCOMPARE(item.text, QStringLiteral("German (Germany)"));
        if (item.localeId == kRussian) QCOMPARE(item.text, QStringLiteral("Russian (Russia)"));
        if (item.localeId == 0x1234) QCOMPARE(item.text, QStringLiteral("0x1234"));
    }
}

void LocaleListsTest::theUserDefaultIsTheLocaleTheCoreFormatsWith() {
    // main() set the environment before the core read it: its default is
    // German. English first among the candidates must not be taken for it.
    QCOMPARE(UserDefaultLocale({kEnglishUs, kGerman, kFrench}), kGerman);
    QCOMPARE(UserDefaultLocale({kFrench}), mk::app::kNoLocale);
    for (const uint16_t record : {0x0000, 0x0400, 0x0800}) {
        const auto list = MakeLanguageList({kEnglishUs, kGerman}, record, locales_);
        QCOMPARE(list.items.size(), 2);
        QCOMPARE(list.selected, 1);
        // Not configured: shown as what the core makes of it.
        const auto alone = MakeLanguageList({kFrench}, record, locales_);
        QCOMPARE(alone.items.size(), 2);
        QCOMPARE(alone.items.at(1).localeId, uint16_t(record));
        QCOMPARE(alone.selected, 1);
    }
}

void LocaleListsTest::theListsHoldTheLocalesPictures_data() {
    QTest::addColumn<int>("locale");
    QTest::addColumn<QString>("datePicture");
    QTest::addColumn<QString>("longDatePicture");
    QTest::addColumn<QString>("timePicture");
    QTest::newRow("German") << int(kGerman) << "dd.MM.yyyy"
                            << "dddd, d. MMMM yyyy"
                            << "HH:mm:ss";
    QTest::newRow("English (United States)") << int(kEnglishUs) << "M/d/yyyy"
                                             << "dddd, MMMM d, yyyy"
                                             << "h:mm:ss tt";
    QTest::newRow("Russian") << int(kRussian) << "dd.MM.yyyy"
                             << "d MMMM yyyy' г.'"
                             << "H:mm:ss";
    QTest::newRow("Japanese") << int(kJapanese) << "yyyy/MM/dd"
                              << "yyyy'年'M'月'd'日'"
                              << "H:mm:ss";
}

void LocaleListsTest::theListsHoldTheLocalesPictures() {
    QFETCH(int, locale);
    QFETCH(QString, datePicture);
    QFETCH(QString, longDatePicture);
    QFETCH(QString, timePicture);
    const auto id = uint16_t(locale);
    const QStringList dates = DatePictures(id);
    const QStringList times = TimePictures(id);
    QVERIFY2(dates.contains(datePicture), qPrintable(dates.join(u'|')));
    QVERIFY2(dates.contains(longDatePicture), qPrintable(dates.join(u'|')));
    QVERIFY2(times.contains(timePicture), qPrintable(times.join(u'|')));
    // Short dates before long ones, in the core's order.
    QVERIFY(dates.indexOf(datePicture) < dates.indexOf(longDatePicture));
    QCOMPARE(dates,
             CorePictures(id, MK_PICTURES_SHORT_DATE) + CorePictures(id, MK_PICTURES_LONG_DATE));
    QCOMPARE(times, CorePictures(id, MK_PICTURES_TIME));
    QVERIFY(!times.contains(QString()));
}

void LocaleListsTest::samples_data() {
    QTest::addColumn<int>("locale");
    QTest::addColumn<bool>("date");
    QTest::addColumn<QString>("picture");
    QTest::addColumn<QString>("expected");
    QTest::newRow("German short date") << int(kGerman) << true << "dd.MM.yyyy"
                                       << "15.04.2008";
    QTest::newRow("German long date") << int(kGerman) << true << "dddd, d. MMMM yyyy"
                                      << "Dienstag, 15. April 2008";
    QTest::newRow("US short date") << int(kEnglishUs) << true << "M/d/yyyy"
                                   << "4/15/2008";
    QTest::newRow("US long date") << int(kEnglishUs) << true << "dddd, MMMM d, yyyy"
                                  << "Tuesday, April 15, 2008";
    QTest::newRow("quoted text") << int(kGerman) << true << "yyyy-MM-dd 'at home'"
                                 << "2008-04-15 at home";
    QTest::newRow("Russian long date") << int(kRussian) << true << "d MMMM yyyy' г.'"
                                       << "15 апреля 2008 г.";
    QTest::newRow("Japanese long date") << int(kJapanese) << true << "yyyy'年'M'月'd'日'dddd"
                                        << "2008年4月15日火曜日";
    QTest::newRow("German time, no space in front") << int(kGerman) << false << "HH:mm:ss"
                                                    << "13:45:09";
    QTest::newRow("US time with seconds") << int(kEnglishUs) << false << "h:mm:ss tt"
                                          << "1:45:09 PM";
    QTest::newRow("US time without seconds") << int(kEnglishUs) << false << "h:mm tt"
                                             << "1:45 PM";
    QTest::newRow("Greek designator") << int(kGreek) << false << "h:mm:ss tt"
                                      << "1:45:09 μ.μ.";
    QTest::newRow("a date picture gives no time") << int(kGerman) << true << "HH:mm"
                                                  << "HH:mm";
}

void LocaleListsTest::samples() {
    QFETCH(int, locale);
    QFETCH(bool, date);
    QFETCH(QString, picture);
    QFETCH(QString, expected);
    const QString sample = date ? DateSample(kSample, uint16_t(locale), picture)
                                : TimeSample(kSample, uint16_t(locale), picture);
    QCOMPARE(sample, expected);
}

void LocaleListsTest::theDateListTakesAtMostSixtyFourPictures() {
    for (const LocaleChoice &locale : locales_) {
        const QStringList dates = DatePictures(locale.localeId);
        const QStringList times = TimePictures(locale.localeId);
        QVERIFY(dates.size() <= mk::app::kDateListSize);
        QVERIFY(times.size() < mk::app::kTimeListSize);
        QCOMPARE(QSet<QString>(dates.begin(), dates.end()).size(), dates.size());
        for (const QString &picture : dates + times) QVERIFY(picture.toUtf8().size() <= 63);
    }
}

void LocaleListsTest::aScriptsListIsDrawnInAFaceThatHasIt_data() {
    QTest::addColumn<int>("locale");
    QTest::addColumn<QString>("widgetFace");
    QTest::addColumn<bool>("widgetFaceKept");
    QTest::newRow("German in a Western face") << int(kGerman) << "DejaVu Sans" << true;
    QTest::newRow("Russian in a face that has Cyrillic") << int(kRussian) << "DejaVu Sans" << true;
    QTest::newRow("Russian in a face without Cyrillic")
        << int(kRussian) << "DejaVu Math TeX Gyre" << false;
    QTest::newRow("Greek") << int(kGreek) << "DejaVu Sans" << true;
    QTest::newRow("Japanese") << int(kJapanese) << "DejaVu Sans" << false;
    QTest::newRow("Chinese") << int(kChineseChina) << "Liberation Sans" << false;
}

void LocaleListsTest::aScriptsListIsDrawnInAFaceThatHasIt() {
    QFETCH(int, locale);
    QFETCH(QString, widgetFace);
    QFETCH(bool, widgetFaceKept);
    const auto choice = mk::app::FindLocale(locales_, uint16_t(locale));
    QVERIFY(choice.has_value());
    const QString face = ListFace(choice->charSet, widgetFace);
    QCOMPARE(face.isEmpty(), widgetFaceKept);
    const QString used = face.isEmpty() ? widgetFace : face;
    const QRawFont font = QRawFont::fromFont(QFont(used));
    QCOMPARE(font.familyName(), used);
    QString samples;
    const auto id = uint16_t(locale);
    for (const QString &picture : DatePictures(id)) samples += DateSample(kSample, id, picture);
    for (const QString &picture : TimePictures(id)) samples += TimeSample(kSample, id, picture);
    QVERIFY(!samples.isEmpty());
    const QList<uint> characters = samples.toUcs4();
    for (uint c : characters) {
        QVERIFY2(
            font.supportsCharacter(c),
            qPrintable(QStringLiteral("%1 lacks U+%2").arg(used).arg(c, 4, 16, QLatin1Char('0'))));
    }
    // The check tells faces apart: the widget's face, where it was not
    // kept, lacks some character of the samples.
    if (!widgetFaceKept) {
        const QRawFont widget = QRawFont::fromFont(QFont(widgetFace));
        QVERIFY(std::any_of(characters.begin(), characters.end(),
                            [&](uint c) { return !widget.supportsCharacter(c); }));
    }
    // Japanese in the Japanese forms of its family.
    if (locale == kJapanese) QVERIFY2(face.endsWith(QStringLiteral(" JP")), qPrintable(face));
    if (locale == kChineseChina) QVERIFY2(face.endsWith(QStringLiteral(" SC")), qPrintable(face));
}

int main(int argc, char **argv) {
    // The core's user default follows the environment it first reads: German
    // here, wherever the tests run.
    qputenv("LC_ALL", "de_DE.UTF-8");
    qunsetenv("LC_MESSAGES");
    qunsetenv("LANGUAGE");
    QGuiApplication application(argc, argv);
    LocaleListsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "locale_lists_test.moc"
