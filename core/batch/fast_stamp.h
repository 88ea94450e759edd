// Stamping one picture with an overlay layer through the region stamp: only
// the pixels around the stamp are ever decoded.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>

#include "MK_Core.h"
#include "engine/block_arrays.h"
#include "engine/engine.h"
#include "overlay/overlay.h"
#include "platform/font_catalogue.h"

namespace mk::batch {

// What the stamps of a batch share, on whichever worker they run: the font
// catalogue, read when the first stamp needs it, and the memory of the
// coefficients and overlay bitmaps of the pictures already done.
class BatchResources {
  public:
    explicit BatchResources(size_t cores = std::max(1u, std::thread::hardware_concurrency()));

    // Null when fontconfig's configuration cannot be loaded.
    const platform::FontCatalogue *Fonts();
    engine::CoefficientMemory *Memory() { return &memory_; }
    overlay::BitmapMemory *Bitmaps() { return &bitmaps_; }

  private:
    std::once_flag read_;
    std::optional<platform::FontCatalogue> catalogue_;
    engine::CoefficientMemory memory_;
    overlay::BitmapMemory bitmaps_;
};

// Stamps `picture` into `destination` (which may be the same path) with
// the single `layer` (its prev and next links are not followed), whose
// geometry is in pixels for the picture's size; with keepUndo the former
// blocks go into a reverse marker. 0, or a negative
// engine code; -1 also when the layer paints nothing (nothing is written).
// With `batch`, the layer is rendered with the batch's catalogue instead
// of one read for this picture alone, and the coefficients live in memory
// of the batch's. `diskWait` is told when only the flush of the destination
// is left.
int32_t StampPicture(const char *picture, const char *destination, const OverlayLayer &layer,
                     bool keepUndo, char *errorText, BatchResources *batch = nullptr,
                     const engine::DiskWaitNotice &diskWait = {});

}  // namespace mk::batch
