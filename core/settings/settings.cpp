// The settings record: defaults and the conversion of its geometry to pixels.
#include <bit>
#include <cstring>

#include "MK_Core.h"
#include "settings/geometry.h"

static_assert(std::endian::native == std::endian::little,
              "the settings record is stored little-endian as it is in memory");

extern "C" MK_API int32_t MK_SettsLoadDefaults(Setts *settings) {
    if (settings == nullptr) return 0;
    std::memset(settings, 0, sizeof(Setts));
    // The size mark goes in as a 64-bit 721, so bytes 4 to 7 stay zero too.
    const uint64_t mark = MK_SETTS_SIZE;
    std::memcpy(settings, &mark, sizeof mark);
    settings->localeId = 1033;
    std::strcpy(settings->datePicture, "yyyy-MM-dd");
    settings->overlayKind = 1;
    settings->stampPosition = MK_POS_BOTTOM_RIGHT;
    settings->horizontalOffset = -200;
    settings->verticalOffset = -150;
    settings->fontSize = 500;
    std::strcpy(settings->fontFace, "Arial");
    settings->fontWeight = 400;
    settings->fontQuality = 1;
    settings->fontColor = 0x000080FF;
    settings->fontOpacity = 100;
    settings->backgroundOpacity = 10;
    settings->horizontalMargin = 50;
    settings->verticalMargin = 50;
    settings->backgroundColor = 0;
    settings->flags = FLAG_BACKGROUND | FLAG_DATE_FROM_EXIF | FLAG_FILETIME_CREATED |
                      FLAG_REVERSE_MARKER | FLAG_RESTAMP;
    return 0;
}

namespace mk::settings {

StampGeometry GeometryInPixels(const Setts &s, int32_t width, int32_t height) {
    // Offsets are used as their low 16 bits, signed.
    const auto h16 = static_cast<int16_t>(static_cast<uint32_t>(s.horizontalOffset) & 0xFFFF);
    const auto v16 = static_cast<int16_t>(static_cast<uint32_t>(s.verticalOffset) & 0xFFFF);
    if (s.flags & FLAG_PIXEL_UNITS)
        return {s.fontSize, h16, v16, s.horizontalMargin, s.verticalMargin};
    const int32_t longer = width > height ? width : height;
    const int32_t shorter = width > height ? height : width;
    // 64-bit products: 32-bit ones overflow on large pictures with large values;
    // every quotient truncates toward zero like the 32-bit arithmetic.
    auto scale = [](int64_t side, int64_t value) {
        return static_cast<int32_t>(side * value / 10000);
    };
    return {scale(shorter, static_cast<uint32_t>(s.fontSize)),
            static_cast<int16_t>(scale(longer, h16)), static_cast<int16_t>(scale(shorter, v16)),
            static_cast<uint16_t>(scale(longer, s.horizontalMargin)),
            static_cast<uint16_t>(scale(shorter, s.verticalMargin))};
}

}  // namespace mk::settings
