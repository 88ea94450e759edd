// Blending the overlay's bitmaps into an area of a picture.
#include "overlay/region.h"

#include <algorithm>
#include <cstddef>
#include <limits>

namespace mk::overlay {
namespace {

// Places a bitmap as MK_ApplyOverlay_Proc does on a width x height picture,
// grows `painted` by its rectangle and blends the part of it that lies in
// the area (and so in the picture).
void BlendBitmapIntoArea(const PictureArea &area, int32_t width, int32_t height,
                         const uint8_t *bitmap, int32_t bitmapWidth, int32_t bitmapHeight,
                         int32_t x, int32_t y, int32_t position, MK_Rect &painted) {
    int64_t left = x;
    int64_t top = y;
    const int64_t w = bitmapWidth;
    const int64_t h = bitmapHeight;
    if (position == MK_POS_TOP_CENTER || position == MK_POS_BOTTOM_CENTER) left += (width - w) / 2;
    if (position == MK_POS_TOP_RIGHT || position == MK_POS_BOTTOM_RIGHT) left += width - w;
    if (position == MK_POS_BOTTOM_LEFT || position == MK_POS_BOTTOM_CENTER ||
        position == MK_POS_BOTTOM_RIGHT)
        top += height - h;

    auto clamp32 = [](int64_t v) {
        return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                                        std::numeric_limits<int32_t>::max()));
    };
    painted.left = std::min(painted.left, clamp32(left));
    painted.top = std::min(painted.top, clamp32(top));
    painted.right = std::max(painted.right, clamp32(left + w));
    painted.bottom = std::max(painted.bottom, clamp32(top + h));
    if (area.pixels == nullptr) return;

    // Only the part of the bitmap that lies on the area of the picture is
    // visited.
    const int64_t areaLeft = std::max<int64_t>(area.x, 0);
    const int64_t areaTop = std::max<int64_t>(area.y, 0);
    const int64_t areaRight = std::min<int64_t>(int64_t{area.x} + area.width, width);
    const int64_t areaBottom = std::min<int64_t>(int64_t{area.y} + area.height, height);
    const int64_t c0 = std::max<int64_t>(0, areaLeft - left);
    const int64_t c1 = std::min<int64_t>(w, areaRight - left);
    const int64_t r0 = std::max<int64_t>(0, areaTop - top);
    const int64_t r1 = std::min<int64_t>(h, areaBottom - top);
    if (c0 >= c1 || r0 >= r1) return;

    auto blend = [](uint8_t *dst, const uint8_t *src) {
        const double a = src[3] / 255.0;
        for (int k = 0; k < 3; ++k) dst[k] = static_cast<uint8_t>(src[k] * a + dst[k] * (1 - a));
    };
    // Area column of bitmap column c.
    const int64_t shift = left - area.x;
    for (int64_t r = r0; r < r1; ++r) {
        // Both are stored bottom-up: bitmap row r from the top is memory row
        // h - 1 - r, area row ay is memory row area.height - 1 - ay.
        const uint8_t *src = bitmap + static_cast<size_t>((h - 1 - r) * w) * 4;
        const int64_t ay = top + r - area.y;
        uint8_t *dst = area.pixels + static_cast<size_t>((area.height - 1 - ay) * area.width) * 4;
        int64_t c = c0;
        for (; c + 4 <= c1; c += 4) {
            blend(dst + (shift + c) * 4, src + c * 4);
            blend(dst + (shift + c + 1) * 4, src + (c + 1) * 4);
            blend(dst + (shift + c + 2) * 4, src + (c + 2) * 4);
            blend(dst + (shift + c + 3) * 4, src + (c + 3) * 4);
        }
        for (; c < c1; ++c) blend(dst + (shift + c) * 4, src + c * 4);
    }
}

}  // namespace

MK_Rect BlendLayers(const OverlayHandle *handle, const PictureArea &area, int32_t width,
                    int32_t height) {
    MK_Rect rect{width, height, 0, 0};
    if (handle == nullptr || handle->entries == nullptr) return rect;
    for (int32_t i = 0; i < handle->layerCount; ++i) {
        const RenderedLayer &entry = handle->entries[i];
        if (entry.boxPixels != nullptr && entry.boxWidth > 0 && entry.boxHeight > 0)
            BlendBitmapIntoArea(area, width, height, entry.boxPixels, entry.boxWidth,
                                entry.boxHeight, entry.boxX, entry.boxY, entry.position, rect);
        if (entry.textPixels != nullptr && entry.textWidth > 0 && entry.textHeight > 0)
            BlendBitmapIntoArea(area, width, height, entry.textPixels, entry.textWidth,
                                entry.textHeight, entry.x, entry.y, entry.position, rect);
        rect.left = std::max(rect.left, 0);
        rect.top = std::max(rect.top, 0);
        rect.right = std::min(rect.right, width - 1);
        rect.bottom = std::min(rect.bottom, height - 1);
    }
    return rect;
}

}  // namespace mk::overlay
