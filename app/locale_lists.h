// What the Format page lists, without widgets: the locales the core knows,
// the languages the user has configured in the environment, the pictures
// a locale offers and the samples they give, and the face its script is
// drawn in.
#pragma once

#include <QList>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

#include "MK_Core.h"

namespace mk::app {

// No locale: a name that maps to none, a default that cannot be told.
inline constexpr uint16_t kNoLocale = 0;

// A locale the core knows, as MK_LocaleGet describes it.
struct LocaleChoice {
    uint16_t localeId = 0;
    uint8_t charSet = 0;
    QString tag;
    QString englishName;
    QString nativeName;
};

// Every locale the core knows, in its order (by English name).
QList<LocaleChoice> KnownLocales();
// The known locale with that identifier.
std::optional<LocaleChoice> FindLocale(const QList<LocaleChoice> &locales, uint16_t localeId);
// The locales whose English and native names are both known.
QList<LocaleChoice> NamedLocales(const QList<LocaleChoice> &locales);

// 0, 0x400 and 0x800 stand for the user's default locale.
bool IsUserDefault(uint16_t localeId);

// The locale a POSIX locale name ("de_DE.UTF-8", "sr_RS@latin") or a BCP 47
// tag ("de-DE") names, or kNoLocale. A bare language ("de") names its main
// locale; "C", "POSIX" and anything that is not a locale name name none.
uint16_t LocaleOfName(const QString &name, const QList<LocaleChoice> &locales);

// The languages the user has configured, each once: the time locale
// (LC_ALL, else LC_TIME, else LANG), the message locale (LC_ALL, else
// LC_MESSAGES, else LANG), the LANGUAGE list, then `uiLanguages` (the
// system locale's, as Qt reports them). Names that map to no known locale
// are left out.
QList<uint16_t> ConfiguredLocales(const QProcessEnvironment &environment,
                                  const QStringList &uiLanguages,
                                  const QList<LocaleChoice> &locales);

// The locale the core formats with when a record names the user's default:
// the first of `candidates`, then en-US, whose pictures are all the ones
// the core gives for the default; kNoLocale when none are.
uint16_t UserDefaultLocale(const QList<uint16_t> &candidates);

// The language list: the configured locales and the record's own, which
// is added at the end when it is not among them (the user's default is
// shown as the locale the core takes for it). `selected` is the record's.
struct LanguageItem {
    uint16_t localeId = 0;
    QString text;
};
struct LanguageList {
    QList<LanguageItem> items;
    int selected = -1;
};
LanguageList MakeLanguageList(const QList<uint16_t> &configured, uint16_t recordLocale,
                              const QList<LocaleChoice> &locales);
// The English name of a known locale, else its identifier in hexadecimal.
QString LanguageName(const QList<LocaleChoice> &locales, uint16_t localeId);

// The date list's pictures: the short date pictures, then the long ones,
// each once, at most 64 in all.
QStringList DatePictures(uint16_t localeId);
// The time list's pictures, at most 63 (the list's first entry is "None").
QStringList TimePictures(uint16_t localeId);
inline constexpr int kDateListSize = 64;
inline constexpr int kTimeListSize = 64;

// The sample time formatted by a date picture alone, or a time picture
// alone (with its seconds when it has them), in the locale; empty when the
// core gives nothing.
QString DateSample(const MK_SystemTime &time, uint16_t localeId, const QString &picture);
QString TimeSample(const MK_SystemTime &time, uint16_t localeId, const QString &picture);

// The face a list of the character set is drawn in: empty when the widget's
// own face (`widgetFace`, the face it really uses) has the set's script or no
// installed face has; otherwise the face the stamp would be given for the
// set, or for the CJK sets its sibling named for the set's region ("... JP"
// for Japanese) when that is installed.
QString ListFace(uint8_t charSet, const QString &widgetFace);

}  // namespace mk::app
