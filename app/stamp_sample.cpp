// The settings dialog's samples drawn through the core's overlay entries.
#include "stamp_sample.h"

#include <cstring>
#include <memory>

namespace mk::app {

namespace {

struct HandleCloser {
    void operator()(OverlayHandle *handle) const { MK_ApplyOverlay_Close(handle); }
};
using Handle = std::unique_ptr<OverlayHandle, HandleCloser>;

Handle RenderOne(const OverlayLayer &layer, int32_t width, int32_t height) {
    OverlayLayer copy = layer;
    copy.prev = nullptr;
    copy.next = nullptr;
    OverlayParams params{};
    params.layers = &copy;
    const int32_t size[2] = {width, height};
    OverlayHandle *handle = nullptr;
    MK_ApplyOverlay_Init(&params, size, &handle);
    return Handle(handle);
}

// The size of the layer's text bitmap (text and margins) at `fontSize`;
// false when nothing could be drawn.
bool MeasureText(OverlayLayer layer, int32_t fontSize, int32_t width, int32_t height,
                 int32_t *boxWidth, int32_t *boxHeight) {
    layer.fontSize = fontSize;
    // Only the text's size is wanted; the box is not drawn.
    layer.flags &= ~uint32_t{FLAG_BACKGROUND};
    const Handle handle = RenderOne(layer, width, height);
    if (handle == nullptr || handle->layerCount < 1) return false;
    const RenderedLayer &entry = handle->entries[0];
    if (entry.textPixels == nullptr) return false;
    *boxWidth = entry.textWidth;
    *boxHeight = entry.textHeight;
    return true;
}

// The largest font size the strip's text is fitted to.
constexpr int32_t kLargestFit = 57;

// Hundredths of a percent of `side`, truncating; 64-bit so that large
// values on large pictures do not overflow.
int32_t Scaled(int64_t side, int64_t value) { return static_cast<int32_t>(side * value / 10000); }

// Copies `text` into `field` (NUL-terminated), cut at a whole UTF-8
// character.
template <size_t N>
void CopyText(char (&field)[N], const char *text) {
    size_t n = std::strlen(text);
    if (n > N - 1) {
        n = N - 1;
        // Back off continuation bytes so no character is cut in two.
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    }
    std::memcpy(field, text, n);
    std::memset(field + n, 0, N - n);
}

}  // namespace

OverlayLayer LayerFromSetts(const Setts &record, const char *text) {
    OverlayLayer layer{};
    layer.kind = 1;
    CopyText(layer.text, text);
    layer.fontSize = record.fontSize;
    std::memcpy(layer.fontFace, record.fontFace, sizeof layer.fontFace);
    layer.fontFace[sizeof layer.fontFace - 1] = '\0';
    layer.fontWeight = record.fontWeight;
    layer.fontItalic = record.fontItalic;
    layer.fontCharSet = record.fontCharSet;
    layer.fontQuality = record.fontQuality;
    layer.fontColor = record.fontColor;
    layer.fontOpacity = record.fontOpacity;
    layer.backgroundOpacity = record.backgroundOpacity;
    layer.horizontalMargin = record.horizontalMargin;
    layer.verticalMargin = record.verticalMargin;
    layer.backgroundColor = record.backgroundColor;
    layer.stampPosition = record.stampPosition;
    // Offsets are used as their low 16 bits, signed.
    layer.horizontalOffset = static_cast<int16_t>(record.horizontalOffset & 0xFFFF);
    layer.verticalOffset = static_cast<int16_t>(record.verticalOffset & 0xFFFF);
    layer.flags = record.flags;
    return layer;
}

void StampText(const Setts &record, const MK_SystemTime &time, char (&text)[256]) {
    DateFormatSpec spec{};
    spec.useSeconds = record.useSeconds;
    spec.localeId = record.localeId;
    std::memcpy(spec.datePicture, record.datePicture, sizeof spec.datePicture);
    std::memcpy(spec.timePicture, record.timePicture, sizeof spec.timePicture);
    text[0] = '\0';
    MK_FormatDateTime(&time, &spec, text);
}

void ScaleToPicture(OverlayLayer &layer, int32_t width, int32_t height) {
    if ((layer.flags & FLAG_PIXEL_UNITS) != 0) return;
    const int32_t longer = width > height ? width : height;
    const int32_t shorter = width > height ? height : width;
    layer.fontSize = Scaled(shorter, static_cast<uint32_t>(layer.fontSize));
    layer.horizontalOffset = static_cast<int16_t>(Scaled(longer, layer.horizontalOffset));
    layer.verticalOffset = static_cast<int16_t>(Scaled(shorter, layer.verticalOffset));
    layer.horizontalMargin = static_cast<uint16_t>(Scaled(longer, layer.horizontalMargin));
    layer.verticalMargin = static_cast<uint16_t>(Scaled(shorter, layer.verticalMargin));
}

TextFit FitText(const OverlayLayer &layer, int32_t width, int32_t height) {
    TextFit fit{25, width, height};
    if (layer.text[0] == '\0') return fit;
    // The largest size from 1 to 57 at which the text fits, found by halving
    // the range: the text's box grows with the size, so this ends where a
    // search one size at a time from 25 would, after 6 or 7 drawings of the
    // text instead of up to 32 (the strip is drawn again on every keystroke).
    int32_t low = 1;
    int32_t high = kLargestFit;
    bool found = false;
    while (low <= high) {
        const int32_t size = low + (high - low) / 2;
        int32_t boxWidth = 0;
        int32_t boxHeight = 0;
        if (!MeasureText(layer, size, width, height, &boxWidth, &boxHeight)) {
            return {size, width, height};
        }
        if (boxWidth < width && boxHeight < height) {
            fit = {size, boxWidth, boxHeight};
            found = true;
            low = size + 1;
        } else {
            high = size - 1;
        }
    }
    if (!found) {
        // Nothing fits: the smallest size, as large as it comes out.
        int32_t boxWidth = 0;
        int32_t boxHeight = 0;
        if (!MeasureText(layer, 1, width, height, &boxWidth, &boxHeight)) return {1, width, height};
        fit = {1, boxWidth, boxHeight};
    }
    return fit;
}

OverlayLayer StripLayer(const OverlayLayer &layer, int32_t width, int32_t height) {
    OverlayLayer strip = layer;
    if ((strip.flags & FLAG_PIXEL_UNITS) == 0) {
        strip.horizontalMargin = static_cast<uint16_t>(Scaled(width, strip.horizontalMargin));
        strip.verticalMargin = static_cast<uint16_t>(Scaled(height, strip.verticalMargin));
    }
    const TextFit fit = FitText(strip, width, height);
    strip.fontSize = fit.fontSize;
    strip.stampPosition = MK_POS_TOP_LEFT;
    strip.horizontalOffset = static_cast<int16_t>((width - fit.boxWidth) >> 1);
    strip.verticalOffset = static_cast<int16_t>((height - fit.boxHeight) >> 1);
    return strip;
}

void Stamp(Pixels &picture, const OverlayLayer &layer) {
    const Handle handle = RenderOne(layer, picture.width, picture.height);
    MK_ApplyOverlay_Proc(picture.bytes.data(), picture.width, picture.height, handle.get(),
                         nullptr);
}

}  // namespace mk::app
