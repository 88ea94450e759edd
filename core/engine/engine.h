// The JPEG engine's internal interface: decoding to pixel buffers, the
// stamped-image writer, the reverse marker (undo data in APP7 segments) and
// undo. Every call returns 0 or a negative engine code (below) and writes a
// one-line message into an optional 256-byte errorText buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace mk::engine {

class CoefficientMemory;

// Engine result codes.
enum : int32_t {
    kOk = 0,
    kCannotOpen = -1,
    kNoMemory = -2,
    kLibraryFailed = -3,
    kNotJpeg = -4,
    kPrematureEnd = -5,
    kBadMarkerLength = -6,
    // The decoder warned while reading the picture: its data is damaged, and
    // the coefficients it recovered are not the file's.
    kDamaged = -7,
    // A picture the decoder reads but the encoder cannot take (a zero in a
    // quantisation table, for one).
    kUnsupported = -8,
    // Writing the destination failed, for want of space or otherwise.
    kWriteFailed = -9,
    kNoSpace = -13,
    // The stamp paints nothing on this picture; nothing was written.
    kNothingPainted = -14,
    kNoReverseMarker = -10,
    kMarkerCorrupted = -11,
    kPictureChanged = -12,
};

// Size of the error text buffers handed to the engine.
constexpr size_t kErrorTextSize = 256;

// Called when writing a file has no work left for the processor, only the
// wait for the disk (the flush before the rename), and the operation's large
// buffers have been let go: a batch starts its next file then.
using DiskWaitNotice = std::function<void()>;

// Decodes (or with pixels null only measures) a picture into a bottom-up
// blue-green-red-x buffer of width x height x 4 bytes.
int32_t ReadJpegFile(const char *path, void *pixels, int32_t *width, int32_t *height,
                     char *errorText);
int32_t DecodeJpegMemory(const void *data, size_t length, void *pixels, int32_t *width,
                         int32_t *height, char *errorText);

// Writes `destination` as `source` with the blocks under the rectangle
// replaced by those of the painted pixels. Rows of the rectangle are counted
// from the bottom of the picture. The destination is replaced atomically.
int32_t WriteStampedJpeg(const char *source, const char *destination, const void *pixels,
                         int32_t rectLeft, int32_t rectLowRow, int32_t rectRight,
                         int32_t rectHighRow, int32_t keepUndo, char *errorText);

// 0 when the file holds a reverse marker before its first SOS, -10 when not,
// other negative codes when its markers cannot be read.
int32_t ProbeReverseMarker(const char *path, char *errorText);

// Restores the unstamped picture from a stamped source into destination
// (atomically; the destination is untouched on every refusal). The
// picture's coefficients live in `memory` when given (a batch's).
int32_t UndoStampedJpeg(const char *source, const char *destination, char *errorText,
                        const DiskWaitNotice &diskWait = {}, CoefficientMemory *memory = nullptr);

// CRC-32 of ISO-HDLC / zlib / PNG.
uint32_t Crc32(const void *data, size_t length);
uint32_t Crc32Update(uint32_t crc, const void *data, size_t length);
// The CRC of A followed by B from the CRCs of A and of B (`lengthB` bytes).
uint32_t Crc32Combine(uint32_t crcA, uint32_t crcB, uint64_t lengthB);

}  // namespace mk::engine
