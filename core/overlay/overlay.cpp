// The overlay renderer: MK_ApplyOverlay_Init renders every layer of the
// description into bitmaps held by the handle, MK_ApplyOverlay_Proc blends
// them into a picture and MK_ApplyOverlay_Close frees them.
#include "overlay/overlay.h"

#include "overlay/round_rect.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_set>

namespace mk::overlay {

namespace {

// The handle the caller sees is the public part of this record, which owns
// every pixel array the entries point to.
struct HandleStorage : OverlayHandle {
    HandleStorage() = default;
    HandleStorage(const HandleStorage &) = delete;
    HandleStorage &operator=(const HandleStorage &) = delete;
    ~HandleStorage() {
        if (memory != nullptr)
            for (std::vector<uint8_t> &buffer : buffers) memory->Give(std::move(buffer));
    }

    std::vector<RenderedLayer> entryList;
    std::vector<std::vector<uint8_t>> buffers;
    BitmapMemory *memory = nullptr;  // where the buffers go back to
};

// Bitmaps larger than this (1 GiB of pixels) are not attempted.
constexpr int64_t kMaxBitmapPixels = int64_t{1} << 28;

constexpr uint8_t kAntialiasedQuality = 4;

uint8_t Blue(uint32_t color) { return static_cast<uint8_t>((color >> 16) & 0xFF); }
uint8_t Green(uint32_t color) { return static_cast<uint8_t>((color >> 8) & 0xFF); }
uint8_t Red(uint32_t color) { return static_cast<uint8_t>(color & 0xFF); }

// The bitmap pixel (blue, green, red, alpha in memory order) of a coverage
// value. Opacities above 100 percent are taken as 100, so the alpha stays a
// byte.
uint32_t PixelOf(uint32_t color, uint8_t opacity, uint32_t coverage) {
    const uint32_t percent = std::min<uint32_t>(opacity, 100);
    const uint8_t bytes[4] = {Blue(color), Green(color), Red(color),
                              static_cast<uint8_t>(coverage * percent / 100)};
    uint32_t pixel;
    std::memcpy(&pixel, bytes, 4);
    return pixel;
}

// A coverage image, rows top-down, to colour and alpha, rows bottom-up.
LayerBitmap Colourise(const CoverageImage &coverage, uint32_t color, uint8_t opacity,
                      BitmapMemory *memory) {
    // The pixel of each coverage value, worked out once: the coverage is the
    // mean of a white-on-black pixel's blue, green and red, which are all
    // equal here.
    std::array<uint32_t, 256> pixels;
    for (uint32_t value = 0; value < 256; ++value) pixels[value] = PixelOf(color, opacity, value);
    LayerBitmap out;
    out.width = coverage.width;
    out.height = coverage.height;
    out.pixels =
        BitmapStorage(memory, static_cast<size_t>(out.width) * static_cast<size_t>(out.height) * 4);
    for (int32_t r = 0; r < coverage.height; ++r) {
        const uint8_t *src = coverage.pixels.data() + static_cast<size_t>(r) * coverage.width;
        uint8_t *dst =
            out.pixels.data() + static_cast<size_t>(coverage.height - 1 - r) * out.width * 4;
        for (int32_t c = 0; c < coverage.width; ++c)
            std::memcpy(dst + static_cast<size_t>(c) * 4, &pixels[src[c]], 4);
    }
    return out;
}

// A bitmap of one colour and alpha all over.
LayerBitmap Fill(int32_t width, int32_t height, uint32_t color, uint8_t opacity,
                 BitmapMemory *memory) {
    const uint32_t pixel = PixelOf(color, opacity, 255);
    LayerBitmap out;
    out.width = width;
    out.height = height;
    out.pixels =
        BitmapStorage(memory, static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
    uint8_t *row = out.pixels.data();
    const size_t rowBytes = static_cast<size_t>(width) * 4;
    for (int32_t c = 0; c < width; ++c) std::memcpy(row + static_cast<size_t>(c) * 4, &pixel, 4);
    for (int32_t r = 1; r < height; ++r) std::memcpy(row + r * rowBytes, row, rowBytes);
    return out;
}

std::string LayerText(const OverlayLayer &layer) {
    return std::string(layer.text, ::strnlen(layer.text, sizeof layer.text));
}

// The face to draw the matched description with. A description that names
// no catalogue face (nothing of the character set is installed) gets
// fontconfig's closest scalable face, emboldened or slanted where that face
// lacks the wanted style.
std::optional<TextFace> OpenMatchedFace(const FontMatch &font, const FtLibrary &library,
                                        const platform::FontCatalogue &catalogue) {
    if (font.face) return TextFace::Open(library, font.face->file, font.face->index);
    const std::string family(font.logFont.lfFaceName,
                             ::strnlen(font.logFont.lfFaceName, sizeof font.logFont.lfFaceName));
    const std::optional<platform::FontFace> nearest =
        catalogue.BestMatch(family, font.logFont.lfWeight, font.logFont.lfItalic != 0);
    if (!nearest) return std::nullopt;
    SyntheticStyle synthetic;
    synthetic.bold = font.logFont.lfWeight >= 600 && nearest->weight < 600;
    synthetic.italic = font.logFont.lfItalic != 0 && !nearest->italic;
    return TextFace::Open(library, nearest->file, nearest->index, synthetic);
}

bool FitsBitmap(int64_t width, int64_t height) {
    return width > 0 && height > 0 && width <= std::numeric_limits<int32_t>::max() &&
           height <= std::numeric_limits<int32_t>::max() && width * height <= kMaxBitmapPixels;
}

}  // namespace

std::vector<uint8_t> BitmapStorage(BitmapMemory *memory, size_t bytes) {
    std::vector<uint8_t> storage;
    if (memory != nullptr)
        if (std::optional<std::vector<uint8_t>> kept = memory->Take(bytes))
            storage = std::move(*kept);
    // Within its capacity, so a kept buffer is not moved.
    storage.resize(bytes);
    return storage;
}

LayerBitmaps RenderTextLayer(const OverlayLayer &layer, const FontMatch &font, int32_t pictureWidth,
                             const FtLibrary &library, const platform::FontCatalogue &catalogue,
                             BitmapMemory *memory) {
    LayerBitmaps out;
    const std::u32string text = DecodeUtf8(LayerText(layer));
    if (text.empty()) return out;
    std::optional<TextFace> face = OpenMatchedFace(font, library, catalogue);
    if (!face) return out;

    const int32_t target = layer.fontSize;
    const int32_t h = FitCharHeight(target, [&](int32_t height) -> std::optional<int32_t> {
        if (!face->SetCharHeight(height)) return std::nullopt;
        return face->cellHeight();
    });
    out.charHeight = h;
    if (!face->SetCharHeight(h)) return out;
    const std::optional<int32_t> tw = face->TextWidth(text);
    if (!tw) return out;
    const int32_t th = face->cellHeight();
    const int32_t mh = layer.horizontalMargin;
    const int32_t mv = layer.verticalMargin;

    const int64_t width = int64_t{*tw} + 2 * int64_t{mh};
    const int64_t height = int64_t{th} + 2 * int64_t{mv};
    if (!FitsBitmap(width, height)) return out;
    const size_t coverageBytes = static_cast<size_t>(width) * static_cast<size_t>(height);
    CoverageImage coverage(static_cast<int32_t>(width), static_cast<int32_t>(height),
                           BitmapStorage(memory, coverageBytes));
    face->Draw(text, coverage, mh, mv, layer.fontQuality == kAntialiasedQuality);
    out.text = Colourise(coverage, layer.fontColor, layer.fontOpacity, memory);
    if (memory != nullptr) memory->Give(std::move(coverage.pixels));

    if (layer.flags & FLAG_BACKGROUND) {
        const bool fullWidth = (layer.flags & FLAG_FULL_WIDTH) != 0;
        const int64_t boxWidth = fullWidth ? pictureWidth : width;
        if (FitsBitmap(boxWidth, height)) {
            const auto boxW = static_cast<int32_t>(boxWidth);
            const auto boxH = static_cast<int32_t>(height);
            if ((layer.flags & FLAG_ROUND_CORNERS) && !fullWidth) {
                CoverageImage box(boxW, boxH);
                const auto r = static_cast<int32_t>(0.2 * static_cast<double>(height));
                box.pixels = RoundRectMask(box.width, box.height, r, r);
                out.box = Colourise(box, layer.backgroundColor, layer.backgroundOpacity, memory);
            } else {
                // Full coverage everywhere: the pixel of coverage 255.
                out.box = Fill(boxW, boxH, layer.backgroundColor, layer.backgroundOpacity, memory);
            }
            out.boxX = fullWidth ? 0 : layer.horizontalOffset;
            out.boxY = layer.verticalOffset;
        }
    }
    return out;
}

namespace {

// The bitmap's pixel over the picture's by its alpha, each colour cut to an
// integer towards zero.
inline uint8_t BlendValue(uint8_t over, uint8_t under, double alpha) {
    return static_cast<uint8_t>(over * alpha + under * (1 - alpha));
}

inline void BlendPixel(uint8_t *under, const uint8_t *over) {
    const double alpha = over[3] / 255.0;
    for (int k = 0; k < 3; ++k) under[k] = BlendValue(over[k], under[k], alpha);
}

// Results of blending one bitmap pixel over every background value, for
// long runs of that pixel; the same arithmetic as BlendPixel, so the same
// bytes.
class BlendTable {
  public:
    static constexpr int64_t kWorthwhileRun = 64;

    void Prepare(const uint8_t *over) {
        if (valid_ && std::memcmp(over, key_, 4) == 0) return;
        std::memcpy(key_, over, 4);
        const double alpha = over[3] / 255.0;
        for (int k = 0; k < 3; ++k)
            for (int under = 0; under < 256; ++under)
                values_[k][under] = BlendValue(over[k], static_cast<uint8_t>(under), alpha);
        valid_ = true;
    }
    // Over `count` pixels. All three values are looked up before any is
    // stored: the bytes may alias the table as far as the compiler knows.
    void Apply(uint8_t *under, int64_t count) const {
        for (int64_t i = 0; i < count; ++i, under += 4) {
            const uint8_t blue = values_[0][under[0]];
            const uint8_t green = values_[1][under[1]];
            const uint8_t red = values_[2][under[2]];
            under[0] = blue;
            under[1] = green;
            under[2] = red;
        }
    }

  private:
    bool valid_ = false;
    uint8_t key_[4] = {};
    uint8_t values_[3][256] = {};
};

// How many of the `most` pixels from `pixel` on equal the first. Long runs
// are measured a block of pixels at a time against the first repeated.
int64_t RunLength(const uint8_t *pixel, int64_t most) {
    constexpr int64_t kBlock = 16;
    uint8_t pattern[kBlock * 4];
    int64_t run = 1;
    while (run < most && run < kBlock && std::memcmp(pixel, pixel + run * 4, 4) == 0) ++run;
    if (run < kBlock) return run;
    for (int64_t i = 0; i < kBlock; ++i) std::memcpy(pattern + i * 4, pixel, 4);
    while (run + kBlock <= most && std::memcmp(pixel + run * 4, pattern, sizeof pattern) == 0)
        run += kBlock;
    while (run < most && std::memcmp(pixel, pixel + run * 4, 4) == 0) ++run;
    return run;
}

}  // namespace

void BlendBitmap(const PictureArea &area, int32_t width, int32_t height, const uint8_t *bitmap,
                 int32_t bitmapWidth, int32_t bitmapHeight, int32_t x, int32_t y, int32_t position,
                 MK_Rect &painted) {
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

    // Area column of bitmap column c.
    const int64_t shift = left - area.x;
    BlendTable table;
    for (int64_t r = r0; r < r1; ++r) {
        // Both are stored bottom-up: bitmap row r from the top is memory row
        // h - 1 - r, area row ay is memory row area.height - 1 - ay.
        const uint8_t *src = bitmap + static_cast<size_t>((h - 1 - r) * w) * 4;
        const int64_t ay = top + r - area.y;
        uint8_t *dst = area.pixels + static_cast<size_t>((area.height - 1 - ay) * area.width) * 4;
        for (int64_t c = c0; c < c1;) {
            // Runs of one pixel value are common (the clear background, a
            // box's fill) and are blended at once.
            const uint8_t *pixel = src + c * 4;
            const int64_t run = RunLength(pixel, c1 - c);
            uint8_t *out = dst + (shift + c) * 4;
            c += run;
            // Alpha 0 and 255 give the background and the bitmap exactly.
            if (pixel[3] == 0) continue;
            if (pixel[3] == 255) {
                for (int64_t i = 0; i < run; ++i) std::memcpy(out + i * 4, pixel, 3);
            } else if (run >= BlendTable::kWorthwhileRun) {
                table.Prepare(pixel);
                table.Apply(out, run);
            } else {
                for (int64_t i = 0; i < run; ++i) BlendPixel(out + i * 4, pixel);
            }
        }
    }
}

}  // namespace mk::overlay

namespace {

using mk::overlay::HandleStorage;

// The layers from the head of the list, each once: a list whose links run
// in a circle is cut where it comes back.
std::vector<const OverlayLayer *> LayersFromHead(const OverlayLayer *any) {
    std::unordered_set<const OverlayLayer *> seen;
    const OverlayLayer *head = any;
    seen.insert(head);
    while (head->prev != nullptr && seen.insert(head->prev).second) head = head->prev;
    std::vector<const OverlayLayer *> layers;
    seen.clear();
    for (const OverlayLayer *layer = head; layer != nullptr && seen.insert(layer).second;
         layer = layer->next)
        layers.push_back(layer);
    return layers;
}

// What rendering needs for every layer of one Init call: FreeType's state
// is the call's own; the font catalogue is the caller's or the call's own.
struct RenderContext {
    std::optional<mk::overlay::FtLibrary> library;
    const mk::platform::FontCatalogue *shared = nullptr;
    std::optional<mk::platform::FontCatalogue> own;
    const mk::platform::FontCatalogue *catalogue() const { return own ? &*own : shared; }
};

void RenderEntry(const OverlayLayer &layer, int32_t pictureWidth, RenderContext &context,
                 RenderedLayer &entry, HandleStorage &storage) {
    entry.x = layer.horizontalOffset;
    entry.y = layer.verticalOffset;
    entry.position = layer.stampPosition;
    if (layer.kind != 1) return;
    if (!context.library) {
        context.library = mk::overlay::FtLibrary::Create();
        if (!context.library) return;
        if (context.shared == nullptr) context.own = mk::platform::FontCatalogue::Installed();
    }
    mk::overlay::FontWish wish;
    wish.weight = layer.fontWeight;
    wish.italic = layer.fontItalic;
    wish.charSet = layer.fontCharSet;
    wish.family.assign(layer.fontFace, ::strnlen(layer.fontFace, sizeof layer.fontFace));
    const mk::platform::FontCatalogue none;
    const mk::platform::FontCatalogue &catalogue =
        context.catalogue() != nullptr ? *context.catalogue() : none;
    mk::overlay::FontMatch font = mk::overlay::SeekFont(catalogue, wish);
    font.logFont.lfQuality = layer.fontQuality;
    mk::overlay::LayerBitmaps bitmaps = mk::overlay::RenderTextLayer(
        layer, font, pictureWidth, *context.library, catalogue, storage.memory);
    if (bitmaps.text) {
        storage.buffers.push_back(std::move(bitmaps.text->pixels));
        entry.textPixels = storage.buffers.back().data();
        entry.textWidth = bitmaps.text->width;
        entry.textHeight = bitmaps.text->height;
    }
    if (bitmaps.box) {
        storage.buffers.push_back(std::move(bitmaps.box->pixels));
        entry.boxPixels = storage.buffers.back().data();
        entry.boxWidth = bitmaps.box->width;
        entry.boxHeight = bitmaps.box->height;
        entry.boxX = bitmaps.boxX;
        entry.boxY = bitmaps.boxY;
    }
}

}  // namespace

namespace mk::overlay {

OverlayHandle *RenderOverlay(const OverlayParams &params, const int32_t size[2],
                             const platform::FontCatalogue *catalogue, BitmapMemory *memory) {
    if (params.layers == nullptr || size == nullptr) return nullptr;
    try {
        const std::vector<const OverlayLayer *> layers = LayersFromHead(params.layers);
        auto storage = std::make_unique<HandleStorage>();
        storage->memory = memory;
        storage->entryList.resize(layers.size());
        storage->layerCount = static_cast<int32_t>(layers.size());
        storage->entries = storage->entryList.data();
        RenderContext context;
        context.shared = catalogue;
        for (size_t i = 0; i < layers.size(); ++i) {
            RenderedLayer &entry = storage->entryList[i];
            try {
                RenderEntry(*layers[i], size[0], context, entry, *storage);
            } catch (...) {
                // The layer renders nothing; its placement stays.
                entry.textPixels = entry.boxPixels = nullptr;
                entry.textWidth = entry.textHeight = entry.boxWidth = entry.boxHeight = 0;
            }
        }
        return storage.release();
    } catch (...) {
        return nullptr;
    }
}

}  // namespace mk::overlay

extern "C" MK_API int64_t MK_ApplyOverlay_Init(const OverlayParams *params, const int32_t size[2],
                                               OverlayHandle **handle) {
    if (handle == nullptr) return 0;
    try {
        *handle = params != nullptr ? mk::overlay::RenderOverlay(*params, size, nullptr) : nullptr;
    } catch (...) {
        *handle = nullptr;
    }
    return 0;
}

extern "C" MK_API int64_t MK_ApplyOverlay_Proc(void *pixels, int32_t width, int32_t height,
                                               const OverlayHandle *handle, MK_Rect *painted) {
    if (handle == nullptr || pixels == nullptr || width <= 0 || height <= 0) return 0;
    try {
        // The whole picture is the area painted.
        const MK_Rect rect = mk::overlay::BlendLayers(
            handle, mk::overlay::PictureArea{static_cast<uint8_t *>(pixels), 0, 0, width, height},
            width, height);
        if (painted != nullptr) *painted = rect;
    } catch (...) {
        if (painted != nullptr) *painted = MK_Rect{width, height, 0, 0};
    }
    return 0;
}

extern "C" MK_API int64_t MK_ApplyOverlay_Close(OverlayHandle *handle) {
    // Taking the record back into an owner frees the entries and every
    // pixel array with it.
    std::unique_ptr<HandleStorage> storage(static_cast<HandleStorage *>(handle));
    return 0;
}
