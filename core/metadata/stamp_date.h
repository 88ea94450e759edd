// Choosing the date a picture is stamped with and making the stamp text.
#pragma once

#include <time.h>

#include <cstdint>

#include "MK_Core.h"

namespace mk::metadata {

// The picture's own date (EXIF text, else an APP12 "TimeDate=" item) as a
// broken-down local time; false when the file has none or cannot be read.
// Each call keeps its state to itself, so calls may run on several threads.
bool ReadPictureDate(const char *path, tm *date);

// The date to stamp: the picture's own date when FLAG_DATE_FROM_EXIF is set
// and it is usable, else the file's modification time in local time, else
// all zero.
MK_SystemTime SelectStampDate(const char *path, uint32_t flags);

// Selects the date of `path` and formats it into `text` (256 bytes).
void MakeStampText(const char *path, uint32_t flags, const DateFormatSpec *spec, char *text);

}  // namespace mk::metadata
