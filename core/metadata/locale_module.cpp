// The locale module: ICU's calendar names, UTF-8 repair and the locale list
// behind the MK_Locale* calls, handed to the core through one table.
#include "metadata/locale_module.h"

#include <unicode/dtfmtsym.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "metadata/locale_data.h"
#include "metadata/locale_names.h"
#include "platform/name_list.h"

namespace mk::metadata {
namespace {

std::string ToUtf8(const icu::UnicodeString &text) {
    std::string out;
    text.toUTF8String(out);
    return out;
}

template <size_t N>
bool Fill(std::array<std::string, N> &names, const icu::UnicodeString *source, int32_t count,
          int32_t first) {
    if (source == nullptr || count < first + static_cast<int32_t>(N)) return false;
    for (size_t i = 0; i < N; ++i) names[i] = ToUtf8(source[first + static_cast<int32_t>(i)]);
    return true;
}

std::optional<LocaleNames> LoadNames(uint32_t localeId) {
    const auto name = IcuLocaleForLcid(localeId);
    if (!name) return std::nullopt;
    UErrorCode status = U_ZERO_ERROR;
    // DateFormatSymbols without a calendar keyword are the Gregorian ones.
    const icu::DateFormatSymbols symbols(icu::Locale(name->c_str()), status);
    if (U_FAILURE(status)) return std::nullopt;
    using S = icu::DateFormatSymbols;
    LocaleNames n;
    int32_t count = 0;
    const icu::UnicodeString *list = symbols.getMonths(count, S::FORMAT, S::WIDE);
    if (!Fill(n.monthFormat, list, count, 0)) return std::nullopt;
    list = symbols.getMonths(count, S::STANDALONE, S::WIDE);
    if (!Fill(n.monthStandalone, list, count, 0)) return std::nullopt;
    list = symbols.getMonths(count, S::FORMAT, S::ABBREVIATED);
    if (!Fill(n.monthFormatAbbr, list, count, 0)) return std::nullopt;
    list = symbols.getMonths(count, S::STANDALONE, S::ABBREVIATED);
    if (!Fill(n.monthStandaloneAbbr, list, count, 0)) return std::nullopt;
    // ICU's weekday arrays start at index 1 (Sunday).
    list = symbols.getWeekdays(count, S::FORMAT, S::WIDE);
    if (!Fill(n.day, list, count, 1)) return std::nullopt;
    list = symbols.getWeekdays(count, S::FORMAT, S::ABBREVIATED);
    if (!Fill(n.dayAbbr, list, count, 1)) return std::nullopt;
    list = symbols.getAmPmStrings(count);
    if (list == nullptr || count < 2) return std::nullopt;
    n.am = ToUtf8(list[0]);
    n.pm = ToUtf8(list[1]);
    list = symbols.getEras(count);
    if (list == nullptr || count < 2) return std::nullopt;
    n.era = ToUtf8(list[1]);
    return n;
}

// Copies as much of `text` as fits and returns its whole size.
size_t CopyOut(const std::string &text, char *buffer, size_t size) {
    if (buffer != nullptr && text.size() <= size) std::memcpy(buffer, text.data(), text.size());
    return text.size();
}

void CopyTruncated(char *dest, size_t size, const std::string &text) {
    size_t n = std::min(text.size(), size - 1);
    // Never cut a UTF-8 sequence in two.
    while (n > 0 && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    std::memcpy(dest, text.data(), n);
    dest[n] = '\0';
}

int32_t KnowsLocale(uint32_t localeId) {
    try {
        return IcuLocaleForLcid(localeId) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

size_t Names(uint32_t localeId, char *buffer, size_t size) {
    try {
        const auto names = LoadNames(localeId);
        return names ? CopyOut(FlattenNames(*names), buffer, size) : 0;
    } catch (...) {
        return 0;
    }
}

size_t ValidUtf8(const char *text, size_t length, char *buffer, size_t size) {
    try {
        const std::string valid = ToUtf8(icu::UnicodeString::fromUTF8(
            icu::StringPiece(text, static_cast<int32_t>(std::min<size_t>(length, INT32_MAX)))));
        return CopyOut(valid, buffer, size);
    } catch (...) {
        return 0;
    }
}

int32_t LocaleCount() {
    try {
        return static_cast<int32_t>(InstalledLocales().size());
    } catch (...) {
        return 0;
    }
}

int32_t LocaleGet(int32_t index, MK_LocaleInfo *info) {
    if (info == nullptr || index < 0) return 1;
    try {
        const auto &list = InstalledLocales();
        if (static_cast<size_t>(index) >= list.size()) return 1;
        const auto &entry = list[static_cast<size_t>(index)];
        std::memset(info, 0, sizeof *info);
        info->localeId = entry.localeId;
        info->charSet = entry.charSet;
        CopyTruncated(info->tag, sizeof info->tag, entry.tag);
        CopyTruncated(info->englishName, sizeof info->englishName, entry.englishName);
        CopyTruncated(info->nativeName, sizeof info->nativeName, entry.nativeName);
        return 0;
    } catch (...) {
        return 1;
    }
}

int32_t LocalePicturesOf(uint16_t localeId, int32_t kind, char *buffer, int32_t size) {
    if (buffer == nullptr || size <= 0) return 0;
    buffer[0] = '\0';
    if (kind < MK_PICTURES_SHORT_DATE || kind > MK_PICTURES_TIME) return 0;
    try {
        const auto pictures = LocalePictures(localeId, static_cast<PictureKind>(kind));
        return mk::platform::WriteNameList(pictures, buffer, size);
    } catch (...) {
        buffer[0] = '\0';
        return 0;
    }
}

constexpr MK_LocaleModuleApi kApi{
    .knowsLocale = KnowsLocale,
    .names = Names,
    .validUtf8 = ValidUtf8,
    .localeCount = LocaleCount,
    .localeGet = LocaleGet,
    .localePictures = LocalePicturesOf,
};

}  // namespace
}  // namespace mk::metadata

extern "C" __attribute__((visibility("default"))) const MK_LocaleModuleApi *MK_LocaleModule(void) {
    return &mk::metadata::kApi;
}
