// MK_FormatDateTime: the Windows date and time picture language rendered
// with the day and month names, designators and eras of ICU's locale data.
#include "metadata/date_format.h"

#include <unicode/dtfmtsym.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "metadata/locale_data.h"

namespace mk::metadata {
namespace {

// A part must fit the 256-byte buffer GetDateFormat/GetTimeFormat are given.
constexpr size_t kMaxPart = 255;
constexpr size_t kOutputSize = 256;

std::string ToUtf8(const icu::UnicodeString &text) {
    std::string out;
    text.toUTF8String(out);
    return out;
}

// Ill-formed UTF-8 in a picture becomes U+FFFD, so the text is UTF-8.
std::string ValidUtf8(std::string_view text) {
    return ToUtf8(icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size()))));
}

struct LocaleNames {
    std::array<std::string, 12> monthFormat;      // genitive where the language has one
    std::array<std::string, 12> monthStandalone;  // nominative
    std::array<std::string, 12> monthFormatAbbr;
    std::array<std::string, 12> monthStandaloneAbbr;
    std::array<std::string, 7> day;  // Sunday first
    std::array<std::string, 7> dayAbbr;
    std::string am, pm;
    std::string era;  // the Common Era, abbreviated
};

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

// No names, for a picture of numbers only; nothing when the locale is
// unknown, as with LoadNames.
std::optional<LocaleNames> NumbersOnly(uint32_t localeId) {
    if (!IcuLocaleForLcid(localeId)) return std::nullopt;
    return LocaleNames{};
}

void AppendNumber(std::string &out, unsigned value, int digits) {
    std::string text = std::to_string(value);
    if (static_cast<int>(text.size()) < digits)
        out.append(static_cast<size_t>(digits) - text.size(), '0');
    out += text;
}

// The first character (code point) of a designator, for the t element.
std::string FirstCharacter(const std::string &text) {
    const icu::UnicodeString u = icu::UnicodeString::fromUTF8(text);
    if (u.isEmpty()) return {};
    return ToUtf8(icu::UnicodeString(u.char32At(0)));
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
    static constexpr std::array<int, 12> kDays{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[static_cast<size_t>(month - 1)];
}

}  // namespace

std::vector<PictureToken> TokenizePicture(std::string_view picture, std::string_view elements) {
    std::vector<PictureToken> tokens;
    auto literal = [&tokens](std::string_view text) {
        if (tokens.empty() || tokens.back().letter != 0) tokens.push_back({});
        tokens.back().text += text;
    };
    size_t i = 0;
    while (i < picture.size()) {
        const char c = picture[i];
        if (c == '\'') {
            if (i + 1 < picture.size() && picture[i + 1] == '\'') {
                literal("'");
                i += 2;
                continue;
            }
            const size_t start = ++i;
            std::string text;
            while (i < picture.size()) {
                if (picture[i] == '\'') {
                    if (i + 1 < picture.size() && picture[i + 1] == '\'') {
                        text += '\'';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                text += picture[i++];
            }
            // Even an empty quoted text ends a letter run ("d''d" is two days).
            if (i > start) literal(text);
            continue;
        }
        if (elements.find(c) != std::string_view::npos) {
            size_t j = i;
            while (j < picture.size() && picture[j] == c) ++j;
            tokens.push_back({c, static_cast<int>(j - i), std::string(picture.substr(i, j - i))});
            i = j;
            continue;
        }
        literal(picture.substr(i, 1));
        ++i;
    }
    return tokens;
}

bool IsValidDate(const MK_SystemTime &t) {
    if (t.wYear < 1 || t.wYear > 30827 || t.wMonth < 1 || t.wMonth > 12) return false;
    return t.wDay >= 1 && t.wDay <= DaysInMonth(t.wYear, t.wMonth);
}

bool IsValidTime(const MK_SystemTime &t) {
    return t.wHour <= 23 && t.wMinute <= 59 && t.wSecond <= 59 && t.wMilliseconds <= 999;
}

int DayOfWeek(int year, int month, int day) {
    // Sakamoto's method for the proleptic Gregorian calendar.
    static constexpr std::array<int, 12> kOffset{0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    if (month < 3) year -= 1;
    return (year + year / 4 - year / 100 + year / 400 + kOffset[static_cast<size_t>(month - 1)] +
            day) %
           7;
}

std::optional<std::string> FormatDate(uint32_t localeId, const MK_SystemTime &time,
                                      std::string_view picture) {
    if (!IsValidDate(time)) return std::nullopt;
    const auto tokens = TokenizePicture(ValidUtf8(picture), kDateElements);
    // Numbers need no names: the locale's calendar data is loaded only for
    // day and month names and the era, and the locale is checked either way.
    const bool named = std::any_of(tokens.begin(), tokens.end(), [](const PictureToken &t) {
        return (t.letter == 'd' && t.count > 2) || (t.letter == 'M' && t.count > 2) ||
               t.letter == 'g';
    });
    const auto names = named ? LoadNames(localeId) : NumbersOnly(localeId);
    if (!names) return std::nullopt;
    // As on Windows, a month name next to a day number takes the genitive
    // (format-context) form: "4 июля", but "июль 2011".
    const bool genitive = std::any_of(tokens.begin(), tokens.end(), [](const PictureToken &t) {
        return t.letter == 'd' && t.count <= 2;
    });
    const auto month = static_cast<size_t>(time.wMonth - 1);
    const auto weekday = static_cast<size_t>(DayOfWeek(time.wYear, time.wMonth, time.wDay));
    std::string out;
    for (const auto &t : tokens) {
        switch (t.letter) {
            case 'd':
                if (t.count <= 2)
                    AppendNumber(out, time.wDay, t.count);
                else
                    out += t.count == 3 ? names->dayAbbr[weekday] : names->day[weekday];
                break;
            case 'M':
                if (t.count <= 2)
                    AppendNumber(out, time.wMonth, t.count);
                else if (t.count == 3)
                    out += genitive ? names->monthFormatAbbr[month]
                                    : names->monthStandaloneAbbr[month];
                else
                    out += genitive ? names->monthFormat[month] : names->monthStandalone[month];
                break;
            case 'y':
                if (t.count <= 2)
                    AppendNumber(out, time.wYear % 100u, t.count);
                else
                    AppendNumber(out, time.wYear, 4);
                break;
            case 'g':
                out += names->era;
                break;
            default:
                out += t.text;
                break;
        }
    }
    return out;
}

std::optional<std::string> FormatTime(uint32_t localeId, const MK_SystemTime &time,
                                      std::string_view picture, bool withSeconds) {
    if (!IsValidTime(time)) return std::nullopt;
    const auto tokens = TokenizePicture(ValidUtf8(picture), kTimeElements);
    const bool named = std::any_of(tokens.begin(), tokens.end(),
                                   [](const PictureToken &t) { return t.letter == 't'; });
    const auto names = named ? LoadNames(localeId) : NumbersOnly(localeId);
    if (!names) return std::nullopt;
    const std::string &designator = time.wHour < 12 ? names->am : names->pm;
    const unsigned hour12 = time.wHour % 12 == 0 ? 12u : time.wHour % 12u;
    const auto digits = [](const PictureToken &t) { return std::min(t.count, 2); };
    std::string out;
    // End of the text of the last element: the seconds take back the
    // separator written since then.
    size_t lastElementEnd = 0;
    for (const auto &t : tokens) {
        switch (t.letter) {
            case 'h':
                AppendNumber(out, hour12, digits(t));
                break;
            case 'H':
                AppendNumber(out, time.wHour, digits(t));
                break;
            case 'm':
                AppendNumber(out, time.wMinute, digits(t));
                break;
            case 's':
                if (withSeconds)
                    AppendNumber(out, time.wSecond, digits(t));
                else
                    out.resize(lastElementEnd);
                break;
            case 't':
                out += t.count == 1 ? FirstCharacter(designator) : designator;
                break;
            default:
                out += t.text;
                continue;
        }
        lastElementEnd = out.size();
    }
    return out;
}

std::string FormatDateTime(const MK_SystemTime &time, const DateFormatSpec &spec) {
    const std::string_view datePicture(spec.datePicture,
                                       strnlen(spec.datePicture, sizeof spec.datePicture));
    const std::string_view timePicture(spec.timePicture,
                                       strnlen(spec.timePicture, sizeof spec.timePicture));
    std::string date;
    if (!datePicture.empty()) date = FormatDate(spec.localeId, time, datePicture).value_or("");
    std::string timeText;
    if (!timePicture.empty())
        timeText =
            FormatTime(spec.localeId, time, timePicture, (spec.useSeconds & 1u) != 0).value_or("");
    if (date.size() > kMaxPart) date.clear();
    if (timeText.size() > kMaxPart) timeText.clear();
    if (date.size() + timeText.size() + 2 >= kOutputSize) return {};
    if (timeText.empty()) return date;
    return date + ' ' + timeText;
}

}  // namespace mk::metadata

extern "C" MK_API intptr_t MK_FormatDateTime(const MK_SystemTime *time, const DateFormatSpec *spec,
                                             char *output) {
    if (output == nullptr) return 0;
    output[0] = '\0';
    if (time == nullptr || spec == nullptr) return 0;
    try {
        const std::string text = mk::metadata::FormatDateTime(*time, *spec);
        std::memcpy(output, text.c_str(), text.size() + 1);
    } catch (...) {
        output[0] = '\0';
    }
    return 0;
}
