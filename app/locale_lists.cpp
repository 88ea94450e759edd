// The Format page's lists, read through the core's locale calls: locale
// names mapped to the core's identifiers, the configured languages, the
// pictures and their samples, and the face for a script.
#include "locale_lists.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QLocale>

#include <algorithm>
#include <array>
#include <initializer_list>

#include "dialog_values.h"
#include "font_lists.h"

namespace mk::app {

namespace {

constexpr uint16_t kEnglishUnitedStates = 0x0409;

// A locale name taken apart: language in lower case, script in title case,
// region in upper case (two letters or three digits); script and region
// may be empty.
struct NameParts {
    QString language;
    QString script;
    QString region;
    bool operator==(const NameParts &) const = default;
};

bool AllLetters(const QString &text) {
    return std::all_of(text.begin(), text.end(), [](QChar c) {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
    });
}

bool AllDigits(const QString &text) {
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

// language[_territory][.codeset][@modifier] as POSIX names a locale, or a
// BCP 47 tag of language, script and region; variants and extensions are
// not taken.
std::optional<NameParts> SplitName(const QString &name) {
    QString text = name.trimmed();
    QString modifier;
    if (const qsizetype at = text.indexOf(u'@'); at >= 0) {
        modifier = text.mid(at + 1).toLower();
        text.truncate(at);
    }
    if (const qsizetype dot = text.indexOf(u'.'); dot >= 0) text.truncate(dot);
    QString separated = text;
    separated.replace(u'-', u'_');
    const QStringList parts = separated.split(u'_');
    if (parts.size() > 3) return std::nullopt;
    NameParts out;
    const QString &language = parts[0];
    if (language.size() < 2 || language.size() > 3 || !AllLetters(language)) return std::nullopt;
    out.language = language.toLower();
    for (qsizetype i = 1; i < parts.size(); ++i) {
        const QString &part = parts[i];
        if (i == 1 && part.size() == 4 && AllLetters(part) && parts.size() <= 3) {
            out.script = part.left(1).toUpper() + part.mid(1).toLower();
        } else if (out.region.isEmpty() && i == parts.size() - 1 &&
                   ((part.size() == 2 && AllLetters(part)) ||
                    (part.size() == 3 && AllDigits(part)))) {
            out.region = part.toUpper();
        } else {
            return std::nullopt;
        }
    }
    // The modifiers that name a script; others (euro, valencia) pick
    // nothing the lists differ in.
    if (out.script.isEmpty()) {
        if (modifier == QLatin1String("latin")) out.script = QStringLiteral("Latn");
        if (modifier == QLatin1String("cyrillic")) out.script = QStringLiteral("Cyrl");
    }
    return out;
}

// Qt's locale for the parts, when it knows the language; its script and
// region are the likely ones where the parts leave them out.
std::optional<QLocale> QtLocaleOf(const NameParts &parts) {
    QString name = parts.language;
    if (!parts.script.isEmpty()) name += u'_' + parts.script;
    if (!parts.region.isEmpty()) name += u'_' + parts.region;
    const QLocale locale(name);
    if (QLocale::languageToCode(locale.language()) != parts.language) return std::nullopt;
    return locale;
}

// The script the parts are written in: their own, else the likely one.
QString ScriptOf(const NameParts &parts) {
    if (!parts.script.isEmpty()) return parts.script;
    const auto locale = QtLocaleOf(parts);
    return locale ? QLocale::scriptToCode(locale->script()) : QString();
}

struct Entry {
    uint16_t localeId;
    NameParts parts;
};

std::vector<Entry> Entries(const QList<LocaleChoice> &locales) {
    std::vector<Entry> entries;
    for (const LocaleChoice &locale : locales) {
        if (const auto parts = SplitName(locale.tag)) entries.push_back({locale.localeId, *parts});
    }
    return entries;
}

// The language's main locale when Qt does not know the language: the one
// Windows takes for it, sublanguage 1.
uint16_t MainBySublanguage(const std::vector<Entry> &entries, const QString &language) {
    for (const Entry &entry : entries) {
        if (entry.parts.language == language && (entry.localeId >> 10) == 1) return entry.localeId;
    }
    return kNoLocale;
}

QStringList Pictures(uint16_t localeId, int32_t kind) {
    // 64 pictures of 63 bytes and their NULs, and the list's end.
    QByteArray buffer(64 * 64 + 1, '\0');
    const int32_t count = MK_LocalePictures(localeId, kind, buffer.data(), int32_t(buffer.size()));
    QStringList pictures;
    qsizetype used = 0;
    for (int32_t i = 0; i < count && used < buffer.size(); ++i) {
        const QByteArray picture(buffer.constData() + used);
        pictures.append(QString::fromUtf8(picture));
        used += picture.size() + 1;
    }
    return pictures;
}

void AppendUnique(QStringList &list, const QStringList &more, qsizetype limit) {
    for (const QString &picture : more) {
        if (list.size() >= limit) return;
        if (!list.contains(picture)) list.append(picture);
    }
}

QString Formatted(const MK_SystemTime &time, const DateFormatSpec &spec) {
    char output[256];
    MK_FormatDateTime(&time, &spec, output);
    output[sizeof output - 1] = '\0';
    return QString::fromUtf8(output);
}

}  // namespace

QList<LocaleChoice> KnownLocales() {
    QList<LocaleChoice> locales;
    const int32_t count = MK_LocaleCount();
    locales.reserve(count);
    for (int32_t i = 0; i < count; ++i) {
        MK_LocaleInfo info{};
        if (MK_LocaleGet(i, &info) != 0) continue;
        info.tag[sizeof info.tag - 1] = '\0';
        info.englishName[sizeof info.englishName - 1] = '\0';
        info.nativeName[sizeof info.nativeName - 1] = '\0';
        locales.append({info.localeId, info.charSet, QString::fromUtf8(info.tag),
                        QString::fromUtf8(info.englishName), QString::fromUtf8(info.nativeName)});
    }
    return locales;
}

std::optional<LocaleChoice> FindLocale(const QList<LocaleChoice> &locales, uint16_t localeId) {
    for (const LocaleChoice &locale : locales) {
        if (locale.localeId == localeId) return locale;
    }
    return std::nullopt;
}

QList<LocaleChoice> NamedLocales(const QList<LocaleChoice> &locales) {
    QList<LocaleChoice> named;
    for (const LocaleChoice &locale : locales) {
        if (!locale.englishName.isEmpty() && !locale.nativeName.isEmpty()) named.append(locale);
    }
    return named;
}

bool IsUserDefault(uint16_t localeId) {
    return localeId == 0 || localeId == 0x400 || localeId == 0x800;
}

uint16_t LocaleOfName(const QString &name, const QList<LocaleChoice> &locales) {
    const auto query = SplitName(name);
    if (!query) return kNoLocale;
    const std::vector<Entry> entries = Entries(locales);
    for (const Entry &entry : entries) {
        if (entry.parts == *query) return entry.localeId;
    }
    NameParts wanted = *query;
    if (wanted.region.isEmpty()) {
        // A bare language: the region its speakers most likely live in.
        const auto likely = QtLocaleOf(wanted);
        if (!likely) return MainBySublanguage(entries, wanted.language);
        wanted.region = QLocale::territoryToCode(likely->territory());
        if (wanted.region.isEmpty()) return MainBySublanguage(entries, wanted.language);
    }
    const QString script = ScriptOf(wanted);
    uint16_t found = kNoLocale;
    bool foundScript = false;
    for (const Entry &entry : entries) {
        if (entry.parts.language != wanted.language || entry.parts.region != wanted.region)
            continue;
        const QString entryScript = ScriptOf(entry.parts);
        // A script the name gives must be the locale's.
        if (!wanted.script.isEmpty() && !entryScript.isEmpty() && entryScript != wanted.script)
            continue;
        // The likely script first (sr_RS is Cyrillic), then the lowest
        // identifier, so that the answer does not depend on the order.
        const bool sameScript = !script.isEmpty() && entryScript == script;
        if (found == kNoLocale || (sameScript && !foundScript) ||
            (sameScript == foundScript && entry.localeId < found)) {
            found = entry.localeId;
            foundScript = sameScript;
        }
    }
    return found;
}

QList<uint16_t> ConfiguredLocales(const QProcessEnvironment &environment,
                                  const QStringList &uiLanguages,
                                  const QList<LocaleChoice> &locales) {
    // As the C library reads the categories: an empty variable is unset.
    const auto first = [&](std::initializer_list<const char *> names) {
        for (const char *name : names) {
            const QString value = environment.value(QString::fromLatin1(name));
            if (!value.isEmpty()) return value;
        }
        return QString();
    };
    QStringList names;
    names << first({"LC_ALL", "LC_TIME", "LANG"}) << first({"LC_ALL", "LC_MESSAGES", "LANG"});
    names << environment.value(QStringLiteral("LANGUAGE")).split(u':', Qt::SkipEmptyParts);
    names << uiLanguages;
    QList<uint16_t> configured;
    for (const QString &name : names) {
        const uint16_t localeId = LocaleOfName(name, locales);
        if (localeId != kNoLocale && !configured.contains(localeId)) configured.append(localeId);
    }
    return configured;
}

uint16_t UserDefaultLocale(const QList<uint16_t> &candidates) {
    // The core does not say which locale its default is; a locale whose
    // pictures and names give the same texts is taken for it.
    constexpr MK_SystemTime kProbe{2008, 4, 2, 15, 13, 45, 9, 0};
    const auto fingerprint = [&](uint16_t localeId) {
        QStringList all = Pictures(localeId, MK_PICTURES_SHORT_DATE);
        const QStringList longDates = Pictures(localeId, MK_PICTURES_LONG_DATE);
        all << QStringLiteral("|") << longDates << QStringLiteral("|")
            << Pictures(localeId, MK_PICTURES_TIME);
        // Day and month names, which pictures alone do not tell apart.
        if (!longDates.isEmpty()) all << DateSample(kProbe, localeId, longDates.front());
        return all;
    };
    const QStringList wanted = fingerprint(0);
    if (wanted.size() <= 2) return kNoLocale;
    QList<uint16_t> order = candidates;
    if (!order.contains(kEnglishUnitedStates)) order.append(kEnglishUnitedStates);
    for (uint16_t localeId : order) {
        if (!IsUserDefault(localeId) && fingerprint(localeId) == wanted) return localeId;
    }
    return kNoLocale;
}

QString LanguageName(const QList<LocaleChoice> &locales, uint16_t localeId) {
    if (const auto locale = FindLocale(locales, localeId); locale && !locale->englishName.isEmpty())
        return locale->englishName;
    if (IsUserDefault(localeId)) return QCoreApplication::translate("FormatPage", "User default");
    return QStringLiteral("0x%1").arg(localeId, 4, 16, QLatin1Char('0'));
}

LanguageList MakeLanguageList(const QList<uint16_t> &configured, uint16_t recordLocale,
                              const QList<LocaleChoice> &locales) {
    uint16_t shown = recordLocale;
    if (IsUserDefault(recordLocale)) {
        const uint16_t resolved = UserDefaultLocale(configured);
        if (resolved != kNoLocale) shown = resolved;
    }
    LanguageList list;
    for (uint16_t localeId : configured) {
        if (localeId == shown) list.selected = int(list.items.size());
        list.items.append({localeId, LanguageName(locales, localeId)});
    }
    if (list.selected < 0) {
        list.selected = int(list.items.size());
        list.items.append({shown, LanguageName(locales, shown)});
    }
    return list;
}

QStringList DatePictures(uint16_t localeId) {
    QStringList pictures;
    AppendUnique(pictures, Pictures(localeId, MK_PICTURES_SHORT_DATE), kDateListSize);
    AppendUnique(pictures, Pictures(localeId, MK_PICTURES_LONG_DATE), kDateListSize);
    return pictures;
}

QStringList TimePictures(uint16_t localeId) {
    QStringList pictures;
    AppendUnique(pictures, Pictures(localeId, MK_PICTURES_TIME), kTimeListSize - 1);
    return pictures;
}

QString DateSample(const MK_SystemTime &time, uint16_t localeId, const QString &picture) {
    DateFormatSpec spec{};
    spec.localeId = localeId;
    SetFieldText(spec.datePicture, sizeof spec.datePicture, picture);
    return Formatted(time, spec);
}

QString TimeSample(const MK_SystemTime &time, uint16_t localeId, const QString &picture) {
    DateFormatSpec spec{};
    spec.localeId = localeId;
    // Seconds are shown where the picture has them.
    spec.useSeconds = 1;
    SetFieldText(spec.timePicture, sizeof spec.timePicture, picture);
    QString text = Formatted(time, spec);
    // The stamp text puts a space between its date and time parts; the date
    // part is empty here.
    if (text.startsWith(u' ')) text.remove(0, 1);
    return text;
}

QString ListFace(uint8_t charSet, const QString &widgetFace) {
    // ANSI and "any" sets: Western text, which every face has.
    if (charSet == 0 || charSet == 1) return {};
    const QStringList families = FontFamilies(charSet);
    if (families.isEmpty() || families.contains(widgetFace, Qt::CaseInsensitive)) return {};
    QString face = MatchedFace(widgetFace, 400, 0, charSet);
    if (!families.contains(face, Qt::CaseInsensitive)) face = families.front();
    // The CJK sets share their families' Han characters, drawn in each
    // region's own forms: a Japanese list looks right in the JP face.
    const auto region = [charSet]() -> QString {
        switch (charSet) {
            case 128:
                return QStringLiteral("JP");
            case 129:
                return QStringLiteral("KR");
            case 134:
                return QStringLiteral("SC");
            case 136:
                return QStringLiteral("TC");
            default:
                return {};
        }
    }();
    static constexpr std::array<const char *, 7> kRegionWords{"JP", "KR", "SC", "TC",
                                                              "HK", "CN", "TW"};
    const qsizetype space = face.lastIndexOf(u' ');
    if (!region.isEmpty() && space > 0) {
        const QString word = face.mid(space + 1);
        const bool regional = std::any_of(kRegionWords.begin(), kRegionWords.end(),
                                          [&](const char *w) { return word == QLatin1String(w); });
        const QString sibling = face.left(space + 1) + region;
        if (regional && families.contains(sibling, Qt::CaseInsensitive)) return sibling;
    }
    return face;
}

}  // namespace mk::app
