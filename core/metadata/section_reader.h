// JPEG section reader: walks the marker segments from the start-of-image
// marker up to the start-of-scan marker and hands the EXIF segment to the
// EXIF parser and APP12 "TimeDate=" items to the time-stamp handler. All
// results stay in the value returned by one read, so reads may run on
// several threads at once.
#pragma once

#include <time.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "metadata/exif_parser.h"

namespace mk::metadata {

// Entries the section table holds at most; one more marker aborts the read.
inline constexpr size_t kMaxSections = 1000;

// How a read ended. Every value but kOk is an abort, after which the file
// counts as having no picture date.
enum class ReadStatus {
    kOk,
    kCannotOpen,
    kNotJpeg,
    kTooManySections,
    kTooManyPaddingBytes,
    kInvalidMarker,
    kOutOfMemory,
    kPrematureEnd,
    kNoImage,
};

// The reason text an abort carries ("" for kOk). Never shown to the user.
const char *AbortReason(ReadStatus status);

// What the reader and the EXIF parser found in one file.
struct ImageInfo {
    DateTimeText dateTimeText = {};  // empty: no EXIF date text
    bool exifSeen = false;           // an EXIF segment went to the parser
    tm app12Time = {};               // APP12 time stamp, broken down in UTC
    bool app12TimePresent = false;
};

// One kept segment: its marker code and its length field (which counts the
// two length bytes). The payloads are not kept past their handler.
struct SectionEntry {
    int marker = 0;
    size_t size = 0;
};

struct SectionRead {
    ReadStatus status = ReadStatus::kOk;
    ImageInfo info;
    std::vector<SectionEntry> sections;
};

// Reads the head of the file at `path`; the compressed data is never read.
SectionRead ReadSections(const char *path);
// The same walk over a file image in memory.
SectionRead ReadSections(std::span<const uint8_t> bytes);

// The time stamp of an APP12 segment (length bytes included): the number
// after the first "TimeDate=" as seconds since 1970 broken down in UTC.
std::optional<tm> App12TimeDate(std::span<const uint8_t> segment);

}  // namespace mk::metadata
