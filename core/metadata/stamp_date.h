// Choosing the date a picture is stamped with and making the stamp text.
#pragma once

#include <time.h>

#include <cstdint>
#include <span>

#include "MK_Core.h"

namespace mk::metadata {

// The picture's own date (EXIF text, else an APP12 "TimeDate=" item) as a
// broken-down local time; false when the file has none or cannot be read.
// Each call keeps its state to itself, so calls may run on several threads.
bool ReadPictureDate(const char *path, tm *date);
// The same for a file image in memory.
bool ReadPictureDate(std::span<const uint8_t> bytes, tm *date);

// Parses EXIF date text ("YYYY:MM:DD HH:MM:SS", any one character between
// date and time) and normalises it as mktime does in local time for the
// years 1970 to 3000; outside them, or when that fails, the parsed fields
// stay as they are. False unless all six numbers are found.
bool ParseExifDateText(const char *text, tm *date);

// True when the broken-down time is a usable stamp date (year 1900 or later,
// month, day, hour, minute and second in range, no leap second); then
// `out` holds it as a SYSTEMTIME.
bool ToSystemTime(const tm &date, MK_SystemTime *out);

// The date to stamp: the picture's own date when FLAG_DATE_FROM_EXIF is set
// and it is usable, else the file's modification time in local time, else
// all zero.
MK_SystemTime SelectStampDate(const char *path, uint32_t flags);

// Selects the date of `path` and formats it into `text` (256 bytes).
void MakeStampText(const char *path, uint32_t flags, const DateFormatSpec *spec, char *text);

}  // namespace mk::metadata
