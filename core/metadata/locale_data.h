// Locale data shared by the date formatter and the settings dialog: the
// mapping of Windows locale identifiers to ICU locales, the installed
// locales, their date and time pictures in the Windows syntax and the
// character set of their script.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mk::metadata {

// The ICU locale name for a Windows locale identifier. 0, 0x400 (user
// default) and 0x800 (system default) give the user's default locale, or
// en_US when that is unset or the root locale. Nothing for identifiers ICU
// does not know or has no data for.
std::optional<std::string> IcuLocaleForLcid(uint32_t localeId);

struct LocaleEntry {
    uint16_t localeId = 0;
    uint8_t charSet = 0;
    std::string icuName;      // e.g. "en_US"
    std::string tag;          // BCP 47, e.g. "en-US"
    std::string englishName;  // e.g. "English (United States)"
    std::string nativeName;   // the name in the locale's own language
};

// Every installed locale that has a specific Windows identifier, once per
// identifier, sorted by English name. Built on first use, then read-only.
const std::vector<LocaleEntry> &InstalledLocales();

// The Windows character-set code for the script of an ICU locale.
uint8_t CharSetForLocale(const char *icuName);

enum class PictureKind { ShortDate, LongDate, Time };

// The locale's pictures of one kind in the Windows syntax, the preferred one
// first, each at most 63 bytes. Empty for an unknown locale.
std::vector<std::string> LocalePictures(uint32_t localeId, PictureKind kind);

// An ICU date/time pattern (UTF-8) converted element by element to a Windows
// picture; fields without a Windows element are dropped together with the
// separator in front of them.
std::string ConvertIcuPattern(std::string_view pattern);

}  // namespace mk::metadata
