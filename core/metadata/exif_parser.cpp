// EXIF parser: a recursive walk over the directories of the TIFF data with a
// depth limit, bounds checks on every offset and a cap on the work per segment.
#include "metadata/exif_parser.h"

#include <cstring>

namespace mk::metadata {

std::optional<uint16_t> ByteView::U16(uint64_t offset) const {
    if (!Contains(offset, 2)) return std::nullopt;
    const uint8_t *p = bytes_.data() + offset;
    return big_ ? uint16_t(p[0] << 8 | p[1]) : uint16_t(p[1] << 8 | p[0]);
}

std::optional<uint32_t> ByteView::U32(uint64_t offset) const {
    if (!Contains(offset, 4)) return std::nullopt;
    const uint8_t *p = bytes_.data() + offset;
    if (big_) return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
    return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

namespace {

// Size in bytes of one component of each TIFF field type; 0 has no size of
// its own (its value is the four inline bytes).
constexpr uint8_t kFormatSize[13] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
constexpr uint16_t kMaxFormat = 12;

constexpr size_t kEntrySize = 12;

class Walker {
  public:
    Walker(ByteView tiff, DateTimeText &text) : tiff_(tiff), text_(text) {}

    // Directory layout: count N (2), N entries of 12 bytes, next offset (4).
    void Directory(uint64_t offset, int depth) {
        if (depth > kMaxExifDepth) return;
        if (stats_.directoriesWalked >= kMaxExifDirectories) return;
        const auto count = tiff_.U16(offset);
        if (!count) return;
        const uint64_t entries = offset + 2;
        const uint64_t end = entries + kEntrySize * *count;
        if (!tiff_.Contains(entries, kEntrySize * *count)) return;
        ++stats_.directoriesWalked;

        for (uint64_t entry = entries; entry < end; entry += kEntrySize) Entry(entry, depth);

        const auto next = tiff_.U32(end);
        if (next && *next != 0 && tiff_.Contains(*next, 1)) Directory(*next, depth + 1);
    }

    ExifWalkStats stats() const { return stats_; }

  private:
    // Entry layout: tag (2), format (2), component count (4), value or
    // value offset (4).
    void Entry(uint64_t entry, int depth) {
        const uint16_t tag = *tiff_.U16(entry);
        const uint16_t format = *tiff_.U16(entry + 2);
        const uint32_t components = *tiff_.U32(entry + 4);
        if (format > kMaxFormat) return;

        // At most 2^32 * 8, so the product fits in 64 bits.
        const uint64_t size = uint64_t(components) * kFormatSize[format];
        uint64_t value = entry + 8;
        if (size > 4) {
            value = *tiff_.U32(entry + 8);
            if (!tiff_.Contains(value, size)) return;
        }

        switch (tag) {
            case kTagExifIfd:
            case kTagInteropIfd: {
                // The four bytes lie inside: inline in the entry, or part of
                // a value of more than four bytes checked above.
                const uint32_t sub = *tiff_.U32(value);
                if (tiff_.Contains(sub, 1)) Directory(sub, depth + 1);
                break;
            }
            case kTagDateTimeOriginal:
                CopyDate(value);
                break;
            case kTagDateTime:
            case kTagDateTimeDigitized:
                if (!IsDigit(text_[0])) CopyDate(value);
                break;
            default:
                break;
        }
    }

    static bool IsDigit(char c) { return c >= '0' && c <= '9'; }

    // Up to 19 bytes, ending at a NUL byte or at the end of the TIFF data;
    // the format and count of the entry are not looked at.
    void CopyDate(uint64_t value) {
        std::memset(text_, 0, sizeof(DateTimeText));
        for (size_t i = 0; i + 1 < sizeof(DateTimeText); ++i) {
            if (!tiff_.Contains(value + i, 1)) break;
            const uint8_t c = tiff_.At(value + i);
            if (c == 0) break;
            text_[i] = static_cast<char>(c);
        }
    }

    ByteView tiff_;
    DateTimeText &text_;
    ExifWalkStats stats_;
};

}  // namespace

ExifWalkStats ParseExifSegment(std::span<const uint8_t> segment, DateTimeText &text) {
    // Segment layout: length (2), "Exif\0\0" (6), TIFF data from offset 8:
    // byte order "II" or "MM" (2), 42 (2), offset of IFD0 (4).
    static constexpr uint8_t kExifHeader[6] = {'E', 'x', 'i', 'f', 0, 0};
    constexpr size_t kTiffStart = 8;
    if (segment.size() < kTiffStart + 8) return {};
    if (std::memcmp(segment.data() + 2, kExifHeader, sizeof kExifHeader) != 0) return {};

    const std::span<const uint8_t> tiffBytes = segment.subspan(kTiffStart);
    bool bigEndian;
    if (tiffBytes[0] == 'I' && tiffBytes[1] == 'I') {
        bigEndian = false;
    } else if (tiffBytes[0] == 'M' && tiffBytes[1] == 'M') {
        bigEndian = true;
    } else {
        return {};
    }
    const ByteView tiff(tiffBytes, bigEndian);
    if (*tiff.U16(2) != 42) return {};

    Walker walker(tiff, text);
    walker.Directory(*tiff.U32(4), 0);
    return walker.stats();
}

}  // namespace mk::metadata
