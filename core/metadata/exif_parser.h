// EXIF parser: finds the text of the date a picture was taken in the TIFF
// structure of an EXIF APP1 segment. Every offset read from the segment is
// checked against its end before it is used; malformed parts are skipped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace mk::metadata {

// Bounds-checked, byte-order-aware view of untrusted bytes. Offsets and
// lengths are 64-bit and compared without any sum that could wrap.
class ByteView {
  public:
    ByteView(std::span<const uint8_t> bytes, bool bigEndian) : bytes_(bytes), big_(bigEndian) {}

    uint64_t size() const { return bytes_.size(); }
    // True when [offset, offset + length) lies inside the view.
    bool Contains(uint64_t offset, uint64_t length) const {
        return offset <= bytes_.size() && length <= bytes_.size() - offset;
    }
    std::optional<uint16_t> U16(uint64_t offset) const;
    std::optional<uint32_t> U32(uint64_t offset) const;
    // The byte at `offset`; the caller has checked Contains(offset, 1).
    uint8_t At(uint64_t offset) const { return bytes_[static_cast<size_t>(offset)]; }

  private:
    std::span<const uint8_t> bytes_;
    bool big_;
};

// The date text of one read: at most 19 characters, NUL-terminated.
using DateTimeText = char[20];

// Tags the parser acts on.
inline constexpr uint16_t kTagExifIfd = 0x8769;
inline constexpr uint16_t kTagInteropIfd = 0xA005;
inline constexpr uint16_t kTagDateTimeOriginal = 0x9003;
inline constexpr uint16_t kTagDateTime = 0x0132;
inline constexpr uint16_t kTagDateTimeDigitized = 0x9004;

// Directories are followed at most this many levels below IFD0.
inline constexpr int kMaxExifDepth = 4;
// Directories walked per segment at most. Real files have about five; the
// cap keeps a segment whose entries all point back at their own directory
// from multiplying the walk by the entry count at every level.
inline constexpr unsigned kMaxExifDirectories = 1000;

struct ExifWalkStats {
    unsigned directoriesWalked = 0;
};

// Parses one APP1 segment as held in the section table: the two length bytes,
// then "Exif\0\0", then the TIFF data. Updates `text` by the tag rules
// (DateTimeOriginal replaces, DateTime and DateTimeDigitized only fill a
// text that does not start with a digit). Never fails; returns what it walked.
ExifWalkStats ParseExifSegment(std::span<const uint8_t> segment, DateTimeText &text);

}  // namespace mk::metadata
