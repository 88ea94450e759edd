// Stamp date selection: the picture's own date when it is usable, else the
// file's modification time in local time, else all zero.
#include "metadata/stamp_date.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>

#include "metadata/section_reader.h"
#include "platform/files.h"

namespace mk::metadata {

namespace {

constexpr int kFirstNormalisedYear = 1970;
constexpr int kLastNormalisedYear = 3000;
// The last year a SYSTEMTIME may name; later ones do not format.
constexpr int64_t kLastRepresentableYear = 30827;

bool DateFromRead(const SectionRead &read, tm *date) {
    if (read.status != ReadStatus::kOk) return false;
    if (read.info.dateTimeText[0] != '\0') return ParseExifDateText(read.info.dateTimeText, date);
    // An APP12 time stamp counts only when there is no EXIF text at all.
    if (read.info.app12TimePresent) {
        *date = read.info.app12Time;
        return true;
    }
    return false;
}

// Day of week (Sunday 0) of a proleptic Gregorian date; the day may lie past
// the end of its month and is then counted on into the next.
int DayOfWeek(int64_t year, int month0, int day) {
    year += month0 / 12;
    int month = month0 % 12 + 1;
    if (month <= 2) --year;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yoe = year - era * 400;
    const int64_t mp = (month + 9) % 12;
    const int64_t doy = (153 * mp + 2) / 5 + day - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const int64_t days = era * 146097 + doe - 719468;  // days since 1970-01-01, a Thursday
    const int64_t wday = (days + 4) % 7;
    return static_cast<int>(wday < 0 ? wday + 7 : wday);
}

MK_SystemTime FileTime(const char *path) {
    MK_SystemTime result{};
    if (path == nullptr) return result;
    const platform::UniqueFd fd = platform::OpenRegularFile(path);
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0) return result;

    // The offset from UTC in force at that instant, daylight saving included.
    tm local{};
    const time_t seconds = st.st_mtim.tv_sec;
    if (localtime_r(&seconds, &local) == nullptr) return result;
    const int64_t year = int64_t(local.tm_year) + 1900;
    if (year < 0 || year > kLastRepresentableYear) return result;
    result.wYear = static_cast<uint16_t>(year);
    result.wMonth = static_cast<uint16_t>(local.tm_mon + 1);
    result.wDayOfWeek = static_cast<uint16_t>(local.tm_wday);
    result.wDay = static_cast<uint16_t>(local.tm_mday);
    result.wHour = static_cast<uint16_t>(local.tm_hour);
    result.wMinute = static_cast<uint16_t>(local.tm_min);
    result.wSecond = static_cast<uint16_t>(local.tm_sec);
    result.wMilliseconds = static_cast<uint16_t>(st.st_mtim.tv_nsec / 1000000);
    return result;
}

}  // namespace

bool ParseExifDateText(const char *text, tm *date) {
    if (text == nullptr || date == nullptr) return false;
    // The pattern reads a NUL-terminated copy of at most 19 characters.
    char copy[20] = {};
    std::strncpy(copy, text, sizeof copy - 1);
    int year, month, day, hour, minute, second;
    if (std::sscanf(copy, "%d:%d:%d%*c%d:%d:%d", &year, &month, &day, &hour, &minute, &second) != 6)
        return false;
    // Numbers so far out that the offsets below would overflow are no date.
    if (year < INT_MIN + 1900 || month == INT_MIN) return false;

    tm parsed{};
    parsed.tm_year = year - 1900;
    parsed.tm_mon = month - 1;
    parsed.tm_mday = day;
    parsed.tm_hour = hour;
    parsed.tm_min = minute;
    parsed.tm_sec = second;
    parsed.tm_wday = -1;
    parsed.tm_isdst = -1;

    if (year >= kFirstNormalisedYear && year <= kLastNormalisedYear) {
        tm normalised = parsed;
        // On failure mktime leaves the fields alone, so the day of week
        // stays -1; a successful call always sets it.
        mktime(&normalised);
        const int64_t resultYear = int64_t(normalised.tm_year) + 1900;
        if (normalised.tm_wday != -1 && resultYear >= kFirstNormalisedYear &&
            resultYear <= kLastNormalisedYear)
            parsed = normalised;
    }
    *date = parsed;
    return true;
}

bool ToSystemTime(const tm &date, MK_SystemTime *out) {
    if (date.tm_year < 0 || date.tm_hour < 0 || date.tm_hour > 23 || date.tm_mday < 1 ||
        date.tm_mday > 31 || date.tm_min < 0 || date.tm_min > 59 || date.tm_mon < 0 ||
        date.tm_mon > 11 || date.tm_sec < 0 || date.tm_sec > 59)
        return false;
    const int64_t year = int64_t(date.tm_year) + 1900;
    if (year > kLastRepresentableYear) return false;
    if (out == nullptr) return true;
    // Dates that were not normalised have no day of week yet.
    const int wday = date.tm_wday >= 0 && date.tm_wday <= 6
                         ? date.tm_wday
                         : DayOfWeek(year, date.tm_mon, date.tm_mday);
    *out = MK_SystemTime{};
    out->wYear = static_cast<uint16_t>(year);
    out->wMonth = static_cast<uint16_t>(date.tm_mon + 1);
    out->wDayOfWeek = static_cast<uint16_t>(wday);
    out->wDay = static_cast<uint16_t>(date.tm_mday);
    out->wHour = static_cast<uint16_t>(date.tm_hour);
    out->wMinute = static_cast<uint16_t>(date.tm_min);
    out->wSecond = static_cast<uint16_t>(date.tm_sec);
    out->wMilliseconds = 0;
    return true;
}

bool ReadPictureDate(const char *path, tm *date) {
    if (path == nullptr || date == nullptr) return false;
    return DateFromRead(ReadSections(path), date);
}

bool ReadPictureDate(std::span<const uint8_t> bytes, tm *date) {
    if (date == nullptr) return false;
    return DateFromRead(ReadSections(bytes), date);
}

MK_SystemTime SelectStampDate(const char *path, uint32_t flags) {
    if (flags & FLAG_DATE_FROM_EXIF) {
        tm date{};
        MK_SystemTime picture{};
        if (ReadPictureDate(path, &date) && ToSystemTime(date, &picture)) return picture;
    }
    return FileTime(path);
}

}  // namespace mk::metadata
