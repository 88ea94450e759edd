// The reverse marker: undo data carried in APP7 segments of a stamped
// picture. Each segment's payload starts with a 52-byte header (identifier,
// version, CRCs, total length, segment index, stamp rectangle, all integers
// little-endian) followed by a piece of a small JPEG stream that holds the
// picture's former blocks of the stamped area.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "engine/jpeg_support.h"

namespace mk::engine {

inline constexpr char kMarkerIdentifier[] = "TovuMirelkanzoar";
inline constexpr size_t kIdentifierSize = 16;
inline constexpr size_t kMarkerHeaderSize = 52;
inline constexpr size_t kMaxSegmentPayload = 60000;
inline constexpr size_t kSegmentData = kMaxSegmentPayload - kMarkerHeaderSize;  // 59948
inline constexpr int32_t kMarkerVersion = 100;

// Byte offsets of the header fields.
enum MarkerField : size_t {
    kFieldVersion = 16,
    kFieldMarkerCrc = 20,
    kFieldImageCrc = 24,
    kFieldTotalLength = 28,
    kFieldSegmentIndex = 32,
    kFieldRectLeft = 36,
    kFieldRectLowRow = 40,
    kFieldRectRight = 44,
    kFieldRectHighRow = 48,
};

uint32_t ReadLe32(const uint8_t *p);
void WriteLe32(uint8_t *p, uint32_t value);

// The stamp rectangle as stored: columns left..right, rows counted from the
// bottom of the picture (lowRow <= highRow), all edges included.
struct StampRect {
    int32_t left;
    int32_t lowRow;
    int32_t right;
    int32_t highRow;
};

// True when the rectangle is non-empty and lies inside a width x height picture.
bool RectInside(const StampRect &rect, JDIMENSION width, JDIMENSION height);

// The MCU-aligned rectangle of 8x8 blocks (of the most highly sampled
// component) that covers a stamp rectangle.
struct BlockRect {
    int32_t left;
    int32_t top;
    int32_t width;
    int32_t height;
};
BlockRect ComputeBlockRect(j_decompress_ptr info, const StampRect &rect);

// A component's share of a block rectangle.
struct ComponentBlocks {
    int32_t column;
    int32_t row;
    int32_t width;
    int32_t height;
};
ComponentBlocks ComponentPart(j_decompress_ptr info, int component, const BlockRect &blocks);

// True when the segment is an APP7 segment of at least 52 bytes carrying the
// marker identifier.
bool IsReverseMarkerSegment(const jpeg_marker_struct &segment);

// CRC-32 over every real block of every component, 128 bytes per block
// (64 little-endian 16-bit coefficients), component after component, rows
// top to bottom. May raise a library error.
uint32_t CoefficientCrc(j_decompress_ptr info, jvirt_barray_ptr *coefficients);

// Continues `crc` over `count` blocks of a row in the CoefficientCrc layout.
uint32_t CrcBlockRow(uint32_t crc, JBLOCKROW blocks, JDIMENSION count);

// Fills identifier, version, segment index 0 and markerCrc of `marker`
// (totalLength bytes, the other header fields filled) and writes it as APP7
// segments of at most 60000 bytes. The buffer is overwritten in the process.
// Returns the CRC of the marker bytes behind the image CRC field, which
// MarkerCrc needs once the image CRC is known.
uint32_t WriteReverseMarker(uint8_t *marker, size_t totalLength, j_compress_ptr destination);

// The marker CRC of a marker with this image CRC.
uint32_t MarkerCrc(uint32_t imageCrc, uint32_t tailCrc, size_t totalLength);

// How many APP7 segments a marker of totalLength bytes takes.
size_t MarkerSegmentCount(size_t totalLength);

// Overwrites the marker CRC and image CRC of every segment of a marker
// written from byte `markerOffset` of `file` (its FF byte), for an image CRC
// known only after the scan was written. False when a write failed.
bool PatchReverseMarkerCrcs(FILE *file, uint64_t markerOffset, size_t totalLength,
                            uint32_t imageCrc, uint32_t tailCrc);

// Assembles the marker from the saved segments of `info` into `marker`.
// Returns the length of the embedded JPEG stream (behind the 52-byte
// header) or -10, -2, -11 with the message in errorText.
int64_t LoadReverseMarker(j_decompress_ptr info, std::vector<uint8_t> *marker, char *errorText);

// Puts the former blocks of the reverse marker among the saved segments of
// `picture` back into its coefficients, after checking the marker and that
// the coefficients are exactly those the stamp wrote. `embedded` decodes
// the marker's stream (from `embeddedInput`; the caller has armed its
// recovery point) and is destroyed again; `marker` holds the assembled
// marker. 0, or kMarkerCorrupted, kPictureChanged, kDamaged (the decoder
// of the stream warned) or another negative code of LoadReverseMarker,
// with the message in errorText.
int32_t RestoreFormerBlocks(j_decompress_ptr picture, jvirt_barray_ptr *coefficients,
                            Decompressor *embedded, std::vector<uint8_t> *marker,
                            MemorySource *embeddedInput, char *errorText);

}  // namespace mk::engine
