// Stamping one picture with an overlay layer through the region stamp: only
// the pixels around the stamp are ever decoded.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>

#include "MK_Core.h"
#include "platform/font_catalogue.h"

namespace mk::batch {

// The font catalogue of a batch, read when the first stamp needs it and
// then shared by every stamp of the batch, on whichever worker it runs.
class BatchFonts {
  public:
    // Null when fontconfig's configuration cannot be loaded.
    const platform::FontCatalogue *Get();

  private:
    std::once_flag read_;
    std::optional<platform::FontCatalogue> catalogue_;
};

// Stamps `picture` into `destination` (which may be the same path) with
// the single `layer` (its prev and next links are not followed), whose
// geometry is in pixels for the picture's size; with keepUndo the former
// blocks go into a reverse marker. 0, or a negative
// engine code; -1 also when the layer paints nothing (nothing is written).
// With `fonts`, the layer is rendered with the batch's catalogue instead
// of one read for this picture alone.
int32_t StampPicture(const char *picture, const char *destination, const OverlayLayer &layer,
                     bool keepUndo, char *errorText, BatchFonts *fonts = nullptr);

}  // namespace mk::batch
