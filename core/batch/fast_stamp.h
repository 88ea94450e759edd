// Stamping one picture with an overlay layer through the region stamp: only
// the pixels around the stamp are ever decoded.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "MK_Core.h"
#include "engine/block_arrays.h"
#include "engine/engine.h"
#include "overlay/overlay.h"
#include "platform/font_catalogue.h"

namespace mk::batch {

// A rendered overlay that several stamps may blend at once.
using SharedOverlay = std::shared_ptr<const OverlayHandle>;

// What the stamps of a batch share, on whichever worker they run: the font
// catalogue, read when the first stamp needs it, the memory of the
// coefficients and overlay bitmaps of the pictures already done, and the
// overlays rendered for the latest of them.
class BatchResources {
  public:
    explicit BatchResources(size_t cores = std::max(1u, std::thread::hardware_concurrency()));

    // Null when fontconfig's configuration cannot be loaded.
    const platform::FontCatalogue *Fonts();
    engine::CoefficientMemory *Memory() { return &memory_; }
    overlay::BitmapMemory *Bitmaps() { return &bitmaps_; }

    // The overlay of the single `layer` (its links are not followed) on a
    // width x height picture. A day's pictures from one camera share their
    // date and size, so the overlays of the last few pictures are kept and
    // one is rendered only for a layer and size not among them. Null when
    // nothing can be rendered.
    SharedOverlay Overlay(const OverlayLayer &layer, int32_t width, int32_t height);

  private:
    struct KeptOverlay {
        OverlayLayer layer;
        int32_t width;
        int32_t height;
        SharedOverlay overlay;
    };

    std::once_flag read_;
    std::optional<platform::FontCatalogue> catalogue_;
    engine::CoefficientMemory memory_;
    overlay::BitmapMemory bitmaps_;
    // After bitmaps_, so the kept overlays give their bitmaps back first.
    std::mutex overlaysLock_;
    std::vector<KeptOverlay> overlays_;  // the latest used last
};

// Stamps `picture` into `destination` (which may be the same path) with
// the single `layer` (its prev and next links are not followed), whose
// geometry is in pixels for the picture's size; with keepUndo the former
// blocks go into a reverse marker. 0, or a negative
// engine code; -1 also when the layer paints nothing (nothing is written).
// With `batch`, the layer is rendered with the batch's catalogue instead
// of one read for this picture alone, and the coefficients live in memory
// of the batch's. `diskWait` is told when only the flush of the destination
// is left. With `restoreEarlier`, the picture's own stamp is taken off in
// memory first; a picture that needs a full decode then gives
// kNeedsFullDecode, and nothing is written.
int32_t StampPicture(const char *picture, const char *destination, const OverlayLayer &layer,
                     bool keepUndo, char *errorText, BatchResources *batch = nullptr,
                     const engine::DiskWaitNotice &diskWait = {}, bool restoreEarlier = false);

}  // namespace mk::batch
