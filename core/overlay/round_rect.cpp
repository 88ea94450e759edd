// Rounded-rectangle masks.
#include "overlay/round_rect.h"

#include <algorithm>

namespace mk::overlay {

std::vector<uint8_t> RoundRectMask(int32_t width, int32_t height, int32_t ellipseWidth,
                                   int32_t ellipseHeight) {
    if (width <= 0 || height <= 0) return {};
    std::vector<uint8_t> mask(static_cast<size_t>(width) * static_cast<size_t>(height), 255);
    const int64_t ew = std::clamp(ellipseWidth, 0, width);
    const int64_t eh = std::clamp(ellipseHeight, 0, height);
    if (ew < 2 || eh < 2) return mask;
    // In doubled coordinates the corner ellipse has its centre at (ew, eh)
    // and semi-axes ew and eh, and pixel c has its centre at 2c + 1; all
    // of it stays in integers.
    // The products reach the fourth power of the sides: 128 bits.
    using Wide = __int128;
    auto outside = [&](int64_t c, int64_t r) {
        const Wide dx = 2 * c + 1 - ew;
        const Wide dy = 2 * r + 1 - eh;
        const Wide w2 = Wide{ew} * ew;
        const Wide h2 = Wide{eh} * eh;
        return dx * dx * h2 + dy * dy * w2 > w2 * h2;
    };
    // Only the pixels before the ellipse's centre line belong to the corner;
    // the rest of the rectangle is straight.
    const int64_t cornerColumns = std::min<int64_t>(ew / 2, width);
    const int64_t cornerRows = std::min<int64_t>(eh / 2, height);
    for (int64_t r = 0; r < cornerRows; ++r) {
        for (int64_t c = 0; c < cornerColumns; ++c) {
            if (!outside(c, r)) continue;
            const int64_t right = width - 1 - c;
            const int64_t bottom = height - 1 - r;
            mask[static_cast<size_t>(r * width + c)] = 0;
            mask[static_cast<size_t>(r * width + right)] = 0;
            mask[static_cast<size_t>(bottom * width + c)] = 0;
            mask[static_cast<size_t>(bottom * width + right)] = 0;
        }
    }
    return mask;
}

}  // namespace mk::overlay
