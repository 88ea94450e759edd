// Blending a rendered overlay into an area of a picture rather than the
// whole of it, and knowing the rectangle it paints from the picture's size
// alone, so a stamp needs only the pixels around itself.
#pragma once

#include <cstdint>

#include "MK_Core.h"

namespace mk::overlay {

// A bottom-up area of 4-byte pixels (blue, green, red, x) whose top-left
// pixel is picture pixel (x, y); pixels null for an area that is only
// measured, never painted.
struct PictureArea {
    uint8_t *pixels;
    int32_t x, y, width, height;
};

// Blends every entry of the handle (box, then text) into the part of the
// area that the bitmaps cover, with the arithmetic and placement of
// MK_ApplyOverlay_Proc on a width x height picture, and returns the
// rectangle Proc reports: {width, height, 0, 0} when nothing is painted.
MK_Rect BlendLayers(const OverlayHandle *handle, const PictureArea &area, int32_t width,
                    int32_t height);

// The rectangle the handle paints on a width x height picture.
inline MK_Rect PaintedRect(const OverlayHandle *handle, int32_t width, int32_t height) {
    return BlendLayers(handle, PictureArea{nullptr, 0, 0, 0, 0}, width, height);
}

}  // namespace mk::overlay
