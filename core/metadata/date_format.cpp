// MK_FormatDateTime: the Windows date and time picture language rendered
// with the day and month names, designators and eras of ICU's locale data,
// which the locale module gives when a picture names them.
#include "metadata/date_format.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "metadata/locale_access.h"

namespace mk::metadata {
namespace {

// A part must fit the 256-byte buffer GetDateFormat/GetTimeFormat are given.
constexpr size_t kMaxPart = 255;
constexpr size_t kOutputSize = 256;

// No names, for a picture of numbers only; nothing when the locale is
// unknown, as with NamesOf.
std::optional<LocaleNames> NumbersOnly(uint32_t localeId) {
    if (!KnowsLocale(localeId)) return std::nullopt;
    return LocaleNames{};
}

void AppendNumber(std::string &out, unsigned value, int digits) {
    std::string text = std::to_string(value);
    if (static_cast<int>(text.size()) < digits)
        out.append(static_cast<size_t>(digits) - text.size(), '0');
    out += text;
}

// The first character (code point) of a designator, for the t element. The
// designators come from ICU's data, so they are valid UTF-8.
std::string FirstCharacter(const std::string &text) {
    if (text.empty()) return {};
    const auto lead = static_cast<unsigned char>(text[0]);
    const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    return text.substr(0, length);
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
    static constexpr std::array<int, 12> kDays{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[static_cast<size_t>(month - 1)];
}

}  // namespace

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
    const auto text = ValidUtf8(picture);
    if (!text) return std::nullopt;
    const auto tokens = TokenizePicture(*text, kDateElements);
    // Numbers need no names: the locale's calendar data is loaded only for
    // day and month names and the era, and the locale is checked either way.
    const bool named = std::any_of(tokens.begin(), tokens.end(), [](const PictureToken &t) {
        return (t.letter == 'd' && t.count > 2) || (t.letter == 'M' && t.count > 2) ||
               t.letter == 'g';
    });
    const auto names = named ? NamesOf(localeId) : NumbersOnly(localeId);
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
    const auto text = ValidUtf8(picture);
    if (!text) return std::nullopt;
    const auto tokens = TokenizePicture(*text, kTimeElements);
    const bool named = std::any_of(tokens.begin(), tokens.end(),
                                   [](const PictureToken &t) { return t.letter == 't'; });
    const auto names = named ? NamesOf(localeId) : NumbersOnly(localeId);
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
