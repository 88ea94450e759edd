// Fuzz target of the metadata reader: the section walk with the EXIF parser
// and the APP12 handler over the input as a file, the EXIF parser and the
// APP12 handler over the input as one segment, and the date selection steps
// that follow a read.
#include <cstddef>
#include <cstdint>
#include <span>

#include "metadata/exif_parser.h"
#include "metadata/section_reader.h"
#include "metadata/stamp_date.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using namespace mk::metadata;
    const std::span<const uint8_t> bytes(data, size);

    tm date{};
    MK_SystemTime stamp{};
    if (ReadPictureDate(bytes, &date)) ToSystemTime(date, &stamp);

    DateTimeText text = {};
    ParseExifSegment(bytes, text);
    if (ParseExifDateText(text, &date)) ToSystemTime(date, &stamp);
    App12TimeDate(bytes);
    return 0;
}
