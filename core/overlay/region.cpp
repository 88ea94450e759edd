// Blending the overlay's layers into an area of a picture, bitmap by bitmap
// with the overlay's own blend.
#include "overlay/region.h"

#include <algorithm>

#include "overlay/overlay.h"

namespace mk::overlay {

MK_Rect BlendLayers(const OverlayHandle *handle, const PictureArea &area, int32_t width,
                    int32_t height) {
    MK_Rect rect{width, height, 0, 0};
    if (handle == nullptr || handle->entries == nullptr) return rect;
    for (int32_t i = 0; i < handle->layerCount; ++i) {
        const RenderedLayer &entry = handle->entries[i];
        if (entry.boxPixels != nullptr && entry.boxWidth > 0 && entry.boxHeight > 0)
            BlendBitmap(area, width, height, entry.boxPixels, entry.boxWidth, entry.boxHeight,
                        entry.boxX, entry.boxY, entry.position, rect);
        if (entry.textPixels != nullptr && entry.textWidth > 0 && entry.textHeight > 0)
            BlendBitmap(area, width, height, entry.textPixels, entry.textWidth, entry.textHeight,
                        entry.x, entry.y, entry.position, rect);
        rect.left = std::max(rect.left, 0);
        rect.top = std::max(rect.top, 0);
        rect.right = std::min(rect.right, width - 1);
        rect.bottom = std::min(rect.bottom, height - 1);
    }
    return rect;
}

}  // namespace mk::overlay
