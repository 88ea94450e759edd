// The overlay renderer's internals: fitting the character height to a
// wanted cell height, rendering one layer into its bitmaps and blending a
// bitmap into a picture.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "MK_Core.h"
#include "overlay/font_match.h"
#include "overlay/region.h"
#include "overlay/text_raster.h"
#include "platform/buffer_pool.h"

namespace mk::overlay {

// The character height whose cell height is `target`, found by the walk the
// stamp settings were tuned with: steps of target / 6 from target, the step
// halved on every change of direction, at most 99 measurements, the first at
// target + target / 6. `cellHeightAt(h)` returns the cell height at
// character height h, or nullopt when the font cannot be made at h, which
// ends the walk. The result is the last height tried.
template <typename Measure>
int32_t FitCharHeight(int32_t target, Measure &&cellHeightAt) {
    int64_t step = target / 6;
    int64_t direction = 1;
    int64_t h = target;
    if (step == 0) return target;
    for (int i = 0; i < 99; ++i) {
        const int64_t next = h + direction * step;
        // A height past the 32-bit range is one no font can be made at.
        if (next > std::numeric_limits<int32_t>::max()) break;
        h = next;
        const std::optional<int32_t> cell = cellHeightAt(static_cast<int32_t>(h));
        if (!cell) break;
        if (*cell == target) break;
        const int32_t newDirection = *cell < target ? 1 : -1;
        if (newDirection != direction) step >>= 1;
        if (step == 0 && newDirection == -1) step = 1;
        if (2 * step > h) step = h >> 1;
        direction = newDirection;
        if (step == 0) break;
    }
    return static_cast<int32_t>(h);
}

inline size_t CapacityOf(const std::vector<uint8_t> &buffer) { return buffer.capacity(); }

// The pixel memory of finished overlays, for the next of a batch.
using BitmapMemory = platform::BufferPool<std::vector<uint8_t>, CapacityOf>;

// `bytes` of pixel memory, from `memory` where it holds a buffer that large
// (its bytes then are what its last user left), else new.
std::vector<uint8_t> BitmapStorage(BitmapMemory *memory, size_t bytes);

// A bitmap of 4-byte pixels (blue, green, red, alpha), rows bottom-up.
struct LayerBitmap {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> pixels;
};

struct LayerBitmaps {
    std::optional<LayerBitmap> text;
    std::optional<LayerBitmap> box;
    int32_t boxX = 0;
    int32_t boxY = 0;
    int32_t charHeight = 0;  // the fitted character height
};

// Renders a text layer with the matched font for a picture `pictureWidth`
// wide; the catalogue's best match stands in when the match names no
// installed face. Empty text, a font that cannot be opened or measured, or bitmaps
// too large to hold give no bitmaps.
// The bitmaps' memory comes from `memory` where one is given.
LayerBitmaps RenderTextLayer(const OverlayLayer &layer, const FontMatch &font, int32_t pictureWidth,
                             const FtLibrary &library, const platform::FontCatalogue &catalogue,
                             BitmapMemory *memory = nullptr);

// MK_ApplyOverlay_Init with a font catalogue read before, which may be
// shared by calls on several threads; null reads one for this call. With
// `memory`, the bitmaps are made in its buffers and go back to it when the
// handle is closed (it must outlive the handle).
// Returns the handle (null when nothing could be rendered at all).
OverlayHandle *RenderOverlay(const OverlayParams &params, const int32_t size[2],
                             const platform::FontCatalogue *catalogue,
                             BitmapMemory *memory = nullptr);

// Blends the bitmap, placed by the position code on a width x height
// picture, into the part of `area` that it covers (nothing when the area's
// pixels are null) and grows `painted` by the bitmap's aligned rectangle.
void BlendBitmap(const PictureArea &area, int32_t width, int32_t height, const uint8_t *bitmap,
                 int32_t bitmapWidth, int32_t bitmapHeight, int32_t x, int32_t y, int32_t position,
                 MK_Rect &painted);

// The same into the whole bottom-up picture.
inline void BlendBitmap(uint8_t *picture, int32_t width, int32_t height, const uint8_t *bitmap,
                        int32_t bitmapWidth, int32_t bitmapHeight, int32_t x, int32_t y,
                        int32_t position, MK_Rect &painted) {
    BlendBitmap(PictureArea{picture, 0, 0, width, height}, width, height, bitmap, bitmapWidth,
                bitmapHeight, x, y, position, painted);
}

}  // namespace mk::overlay
