// Builders for the metadata tests: TIFF data laid out at explicit offsets,
// EXIF segments, marker segments and whole JPEG files.
#pragma once

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "test_support.h"

namespace mk::test {

// TIFF field types used by the tests.
inline constexpr uint16_t kAscii = 2;
inline constexpr uint16_t kShort = 3;
inline constexpr uint16_t kLong = 4;

struct TiffEntry {
    uint16_t tag;
    uint16_t format;
    uint32_t count;
    uint32_t value;  // inline value or value offset, written in the file's byte order
};

// TIFF data (from the byte-order mark on) built at explicit offsets; the
// buffer grows as needed and gaps are zero.
class Tiff {
  public:
    explicit Tiff(bool bigEndian, uint32_t ifd0 = 8) : big_(bigEndian) {
        Put8(0, big_ ? 'M' : 'I');
        Put8(1, big_ ? 'M' : 'I');
        Put16(2, 42);
        Put32(4, ifd0);
    }

    void Put8(size_t at, uint8_t v) {
        if (bytes_.size() <= at) bytes_.resize(at + 1);
        bytes_[at] = v;
    }
    void Put16(size_t at, uint16_t v) {
        Put8(at + (big_ ? 0 : 1), uint8_t(v >> 8));
        Put8(at + (big_ ? 1 : 0), uint8_t(v));
    }
    void Put32(size_t at, uint32_t v) {
        Put16(at + (big_ ? 0 : 2), uint16_t(v >> 16));
        Put16(at + (big_ ? 2 : 0), uint16_t(v));
    }
    // The text and a NUL byte.
    void Text(size_t at, const std::string &text) {
        for (size_t i = 0; i < text.size(); ++i) Put8(at + i, uint8_t(text[i]));
        Put8(at + text.size(), 0);
    }
    // Count, 12-byte entries, next-directory offset; returns the offset just past it.
    size_t Directory(size_t at, const std::vector<TiffEntry> &entries, uint32_t next = 0) {
        Put16(at, uint16_t(entries.size()));
        size_t p = at + 2;
        for (const TiffEntry &e : entries) {
            Put16(p, e.tag);
            Put16(p + 2, e.format);
            Put32(p + 4, e.count);
            Put32(p + 8, e.value);
            p += 12;
        }
        Put32(p, next);
        return p + 4;
    }
    void Truncate(size_t size) { bytes_.resize(size); }

    const Bytes &bytes() const { return bytes_; }

  private:
    bool big_;
    Bytes bytes_;
};

// An ASCII entry for a date whose text (20 bytes with its NUL) lies at `at`.
inline TiffEntry DateEntry(uint16_t tag, uint32_t at) { return {tag, kAscii, 20, at}; }

// The segment as the section table holds it: length bytes, "Exif\0\0", TIFF.
inline Bytes ExifSegment(const Bytes &tiff,
                         const std::string &header = std::string("Exif\0\0", 6)) {
    const size_t size = 2 + header.size() + tiff.size();
    Bytes out(size);
    out[0] = uint8_t(size >> 8);
    out[1] = uint8_t(size);
    std::copy(header.begin(), header.end(), out.begin() + 2);
    std::copy(tiff.begin(), tiff.end(), out.begin() + 2 + long(header.size()));
    return out;
}

// TIFF data with IFD0 holding DateTime (if not empty) and a pointer to an
// Exif IFD holding DateTimeOriginal and DateTimeDigitized (each if not empty).
inline Bytes DatedTiff(bool bigEndian, const std::string &dateTime, const std::string &original,
                       const std::string &digitized) {
    Tiff t(bigEndian);
    std::vector<TiffEntry> ifd0, exif;
    if (!dateTime.empty()) ifd0.push_back(DateEntry(0x0132, 200));
    ifd0.push_back({0x8769, kLong, 1, 100});
    if (!original.empty()) exif.push_back(DateEntry(0x9003, 240));
    if (!digitized.empty()) exif.push_back(DateEntry(0x9004, 280));
    t.Directory(8, ifd0);
    t.Directory(100, exif);
    t.Text(200, dateTime);
    t.Text(240, original);
    t.Text(280, digitized);
    t.Truncate(320);
    return t.bytes();
}

// 0xFF, the marker code, the length (payload + 2), the payload.
inline Bytes Segment(uint8_t marker, const Bytes &payload) {
    const size_t size = payload.size() + 2;
    Bytes out(size + 2);
    out[0] = 0xFF;
    out[1] = marker;
    out[2] = uint8_t(size >> 8);
    out[3] = uint8_t(size);
    std::copy(payload.begin(), payload.end(), out.begin() + 4);
    return out;
}
inline Bytes Segment(uint8_t marker, const std::string &payload) {
    return Segment(marker, Bytes(payload.begin(), payload.end()));
}

// An APP1 EXIF segment as it stands in a file.
inline Bytes ExifApp1(const Bytes &tiff) {
    Bytes payload{'E', 'x', 'i', 'f', 0, 0};
    payload.insert(payload.end(), tiff.begin(), tiff.end());
    return Segment(0xE1, payload);
}

inline Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes &p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A minimal frame, a scan header, a few bytes of scan data and EOI.
inline Bytes FrameAndScan() {
    return Concat({Segment(0xDB, Bytes(65, 0)), Segment(0xC0, Bytes{8, 0, 8, 0, 8, 1, 1, 0x11, 0}),
                   Segment(0xDA, Bytes{1, 1, 0, 0, 63, 0}), Bytes{0x12, 0x34, 0xFF, 0xD9}});
}

// SOI, the given segments, then FrameAndScan().
inline Bytes Jpeg(std::initializer_list<Bytes> segments) {
    Bytes out{0xFF, 0xD8};
    for (const Bytes &s : segments) out.insert(out.end(), s.begin(), s.end());
    const Bytes tail = FrameAndScan();
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

// An APP12 segment with a "TimeDate=" item.
inline Bytes App12WithTimeDate(const std::string &digits) {
    return Segment(0xEC, std::string("[picture info]\r\nTimeDate=") + digits + "\r\n");
}

}  // namespace mk::test
