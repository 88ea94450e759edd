// The stamp as the settings dialog shows it: the overlay layer a settings
// record describes, the record's proportional values turned into a
// picture's pixels, the strip's text fitted into the strip, and the layer
// blended into a picture. Everything goes through the core's public overlay,
// font and date entries, so a sample is drawn exactly as a stamp would be.
// No Qt here: the preview's render thread uses it too.
#pragma once

#include <cstdint>
#include <vector>

#include "MK_Core.h"

namespace mk::app {

// A picture in the core's pixel layout: 4 bytes per pixel (blue, green,
// red, unused), rows bottom-up.
struct Pixels {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> bytes;

    Pixels() = default;
    Pixels(int32_t w, int32_t h) : width(w), height(h), bytes(size_t(w) * size_t(h) * 4) {}
};

// The text layer of `record` with `text` (UTF-8, cut to fit the layer at a
// whole character); geometry as stored, not yet in pixels.
OverlayLayer LayerFromSetts(const Setts &record, const char *text);

// The stamp text of `record` for `time`: its date/time pictures and locale.
void StampText(const Setts &record, const MK_SystemTime &time, char (&text)[256]);

// Turns proportional geometry (hundredths of a percent) into pixels of a
// width x height picture, as stamping a file of that size does: horizontal
// values of the longer side, the font size and vertical values of the
// shorter. A layer in pixel units is left as it is.
void ScaleToPicture(OverlayLayer &layer, int32_t width, int32_t height);

// The largest font size from 1 to 57 at which the layer's text with its
// margins fits strictly inside width x height, and the size of that text
// box (size 1 and its box when nothing fits). An empty text gives size 25
// and the whole area; a font that cannot be drawn ends the search with the
// whole area.
struct TextFit {
    int32_t fontSize;
    int32_t boxWidth;
    int32_t boxHeight;
};
TextFit FitText(const OverlayLayer &layer, int32_t width, int32_t height);

// The strip's layer: margins in proportional units taken of the strip's own
// sides, the text fitted and centred.
OverlayLayer StripLayer(const OverlayLayer &layer, int32_t width, int32_t height);

// Blends the layer into the picture (MK_ApplyOverlay_Init, _Proc, _Close).
void Stamp(Pixels &picture, const OverlayLayer &layer);

}  // namespace mk::app
