// Stamping at about the cost of a lossless transcode: the source's
// coefficients are read once, only the MCUs around the stamp are decoded to
// pixels (from the coefficients in memory), painted and encoded again. The
// file written is byte for byte the one WriteStampedJpeg writes for the same
// paint on a decoded full picture.
#pragma once

#include <cstdint>
#include <functional>

#include "MK_Core.h"
#include "engine/block_arrays.h"
#include "engine/engine.h"

namespace mk::engine {

// What a stamp paints, asked for by the region stamp.
struct RegionPainter {
    // The rectangle the paint covers in a picture of that size, as
    // MK_ApplyOverlay_Proc reports it (left, top inclusive; right, bottom
    // one past the last painted pixel, clamped to the picture). Empty (left
    // greater than right or top greater than bottom) when nothing is painted.
    // Called once, on a thread of its own while the coefficients are read.
    std::function<MK_Rect(int32_t width, int32_t height)> paintedRect;
    // Paints into a bottom-up area of 4-byte pixels (blue, green, red, x)
    // whose top-left pixel is picture pixel (areaX, areaY); only pixels
    // inside the area are written, with the arithmetic of a full-picture
    // paint. Called for successive bands of rows, top to bottom, on a
    // thread of its own while the file is being written.
    std::function<void(uint8_t *area, int32_t areaX, int32_t areaY, int32_t areaWidth,
                       int32_t areaHeight, int32_t pictureWidth, int32_t pictureHeight)>
        paint;
    // Optional: called (on the painting thread) once every area has been
    // painted; what the paint needs may be let go then.
    std::function<void()> finished;
};

// The region stamp's own refusal: a picture whose full decode would not be
// reproduced by decoding a region (a progressive picture whose scans leave
// low coefficients unrefined, which the decoder smooths across blocks).
// Nothing is written; the caller stamps it from a full decode instead.
inline constexpr int32_t kNeedsFullDecode = -20;

// Writes `destination` as `source` stamped with the painter's paint; the
// destination is replaced atomically. 0, or -1 when a file cannot be opened
// or created, kNothingPainted when nothing is painted, -2 out of memory,
// -3 the library failed, kNeedsFullDecode. The source's coefficients live in `memory`
// when given (a batch's), else in memory of their own. `diskWait` is told
// when only the flush of the destination is left.
// With `restoreEarlier` the source carries a stamp of its own, which is
// taken off first, in memory (refused as UndoStampedJpeg refuses it): the
// file written is then the one an undo into the destination and a stamp of
// that would give, written once.
int32_t StampRegion(const char *source, const char *destination, const RegionPainter &painter,
                    int32_t keepUndo, char *errorText, CoefficientMemory *memory = nullptr,
                    const DiskWaitNotice &diskWait = {}, bool restoreEarlier = false);

}  // namespace mk::engine
