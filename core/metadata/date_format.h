// Rendering of Windows date and time pictures (the GetDateFormat /
// GetTimeFormat picture language) with the names of ICU's locale data.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "MK_Core.h"

namespace mk::metadata {

// One piece of a Windows picture: a run of one element letter, or literal
// text (quotes already resolved).
struct PictureToken {
    char letter = 0;   // 0: literal text
    int count = 0;     // length of the letter run
    std::string text;  // the literal text, or the run as written
};

// Splits a Windows picture. Runs of a letter in `elements` become element
// tokens; everything else is literal. Text between single quotes is literal,
// and '' stands for one quote inside and outside quoted text. An unclosed
// quote runs to the end of the picture.
std::vector<PictureToken> TokenizePicture(std::string_view picture, std::string_view elements);

// The element letters of each picture kind: GetDateFormat knows only the
// date letters and GetTimeFormat only the time letters; the others stand as
// they are.
inline constexpr std::string_view kDateElements = "dMyg";
inline constexpr std::string_view kTimeElements = "hHmst";

// True when the date fields name a Gregorian day (years 1 to 30827).
bool IsValidDate(const MK_SystemTime &time);
// True when hour, minute, second and milliseconds are in range.
bool IsValidTime(const MK_SystemTime &time);
// Day of week (0 Sunday) of a valid date, computed from the date itself.
int DayOfWeek(int year, int month, int day);

// The date picture rendered in the locale, as UTF-8. Nothing when the locale
// is unknown or the date is not valid.
std::optional<std::string> FormatDate(uint32_t localeId, const MK_SystemTime &time,
                                      std::string_view picture);
// The time picture rendered in the locale. Without seconds the s/ss elements
// and the separators in front of them are left out.
std::optional<std::string> FormatTime(uint32_t localeId, const MK_SystemTime &time,
                                      std::string_view picture, bool withSeconds);

// The stamp text of MK_FormatDateTime: the date part, a space and the time
// part; empty when both together would not fit a 256-byte buffer.
std::string FormatDateTime(const MK_SystemTime &time, const DateFormatSpec &spec);

}  // namespace mk::metadata
