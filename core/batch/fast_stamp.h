// Stamping one picture with an overlay layer through the region stamp: only
// the pixels around the stamp are ever decoded.
#pragma once

#include <cstdint>

#include "MK_Core.h"

namespace mk::batch {

// Stamps `picture` into `destination` (which may be the same path) with
// the single `layer` (its prev and next links are not followed), whose
// geometry is in pixels for the picture's size; with
// keepUndo the former blocks go into a reverse marker. 0, or a negative
// engine code; -1 also when the layer paints nothing (nothing is written).
int32_t StampPicture(const char *picture, const char *destination, const OverlayLayer &layer,
                     bool keepUndo, char *errorText);

}  // namespace mk::batch
