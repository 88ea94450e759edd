// Rendering of Windows date and time pictures (the GetDateFormat /
// GetTimeFormat picture language). Numbers are rendered here; names come
// from the locale module, loaded only for pictures that need them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "MK_Core.h"
#include "metadata/picture_tokens.h"

namespace mk::metadata {

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
