// Converting the stamp geometry of a settings record to pixels for one
// picture; shared by stamping and the preview.
#pragma once

#include <cstdint>

#include "MK_Core.h"

namespace mk::settings {

struct StampGeometry {
    int32_t fontHeight;
    int16_t horizontalOffset;
    int16_t verticalOffset;
    uint16_t horizontalMargin;
    uint16_t verticalMargin;
};

// With FLAG_PIXEL_UNITS the stored values (offsets: their low 16 bits,
// signed); otherwise hundredths of a percent of the longer side (horizontal
// values) or the shorter side (font height and vertical values).
StampGeometry GeometryInPixels(const Setts &settings, int32_t width, int32_t height);

// The DateFormatSpec view of bytes 4 to 137 of the record.
inline const DateFormatSpec *DateFormatOf(const Setts &settings) {
    return reinterpret_cast<const DateFormatSpec *>(reinterpret_cast<const uint8_t *>(&settings) +
                                                    4);
}

}  // namespace mk::settings
