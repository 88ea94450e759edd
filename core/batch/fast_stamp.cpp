// The overlay's side of the region stamp: the overlay is rendered for the
// picture's size as soon as the engine has read the header, its painted
// rectangle decides which blocks are decoded, and it is blended into the
// decoded region only.
#include "batch/fast_stamp.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "engine/region_stamp.h"
#include "overlay/overlay.h"
#include "overlay/region.h"

namespace mk::batch {
namespace {

// Overlays kept by a batch for the pictures after the one they were
// rendered for.
constexpr size_t kKeptOverlays = 4;

// One layer on its own, whatever its links say, rendered with the given
// catalogue and memory (null: read and allocated for this overlay alone).
SharedOverlay RenderLayer(const OverlayLayer &layer, int32_t width, int32_t height,
                          const platform::FontCatalogue *catalogue, overlay::BitmapMemory *memory) {
    OverlayLayer copy = layer;
    copy.prev = copy.next = nullptr;
    OverlayParams params{};
    params.layers = &copy;
    const int32_t size[2] = {width, height};
    OverlayHandle *handle = overlay::RenderOverlay(params, size, catalogue, memory);
    if (handle == nullptr) return nullptr;
    // Like a failed rendering when no owner can be made; the owner's
    // constructor closes the handle then.
    try {
        return SharedOverlay(handle, [](const OverlayHandle *h) {
            MK_ApplyOverlay_Close(const_cast<OverlayHandle *>(h));
        });
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

// Whether two layers render alike: every field but the links.
bool SameLayer(const OverlayLayer &a, const OverlayLayer &b) {
    return a.kind == b.kind && std::strncmp(a.text, b.text, sizeof a.text) == 0 &&
           a.fontSize == b.fontSize &&
           std::strncmp(a.fontFace, b.fontFace, sizeof a.fontFace) == 0 &&
           a.fontWeight == b.fontWeight && a.fontItalic == b.fontItalic &&
           a.fontCharSet == b.fontCharSet && a.fontQuality == b.fontQuality &&
           a.fontColor == b.fontColor && a.backgroundOpacity == b.backgroundOpacity &&
           a.horizontalMargin == b.horizontalMargin && a.verticalMargin == b.verticalMargin &&
           a.backgroundColor == b.backgroundColor && a.fontOpacity == b.fontOpacity &&
           a.stampPosition == b.stampPosition && a.horizontalOffset == b.horizontalOffset &&
           a.verticalOffset == b.verticalOffset && a.flags == b.flags;
}

// The whole picture decoded, painted and handed to the stamped-image
// writer: for the pictures the region stamp leaves to a full decode.
int32_t StampFromFullDecode(const char *picture, const char *destination,
                            const OverlayHandle *overlay, bool keepUndo, char *errorText) {
    int32_t width = 0, height = 0;
    if (const int32_t read = engine::ReadJpegFile(picture, nullptr, &width, &height, errorText);
        read != engine::kOk)
        return read;
    if (width <= 0 || height <= 0) return engine::kLibraryFailed;
    const size_t pixelCount = size_t(width) * size_t(height);
    if (pixelCount > std::numeric_limits<size_t>::max() / 4) return engine::kNoMemory;
    std::vector<uint8_t> pixels;
    try {
        pixels.resize(pixelCount * 4);
    } catch (const std::bad_alloc &) {
        return engine::kNoMemory;
    }
    if (const int32_t read =
            engine::ReadJpegFile(picture, pixels.data(), &width, &height, errorText);
        read != engine::kOk)
        return read;
    MK_Rect rect{width, height, 0, 0};
    MK_ApplyOverlay_Proc(pixels.data(), width, height, overlay, &rect);
    if (rect.left > rect.right || rect.top > rect.bottom) return engine::kNothingPainted;
    return engine::WriteStampedJpeg(picture, destination, pixels.data(), rect.left,
                                    height - rect.bottom - 1, rect.right, height - rect.top - 1,
                                    keepUndo ? 1 : 0, errorText);
}

}  // namespace

// A worker's coefficient buffer for each core, and its text, box and
// coverage bitmaps.
BatchResources::BatchResources(size_t cores) : memory_(cores), bitmaps_(3 * cores) {}

const platform::FontCatalogue *BatchResources::Fonts() {
    std::call_once(read_, [this] { catalogue_ = platform::FontCatalogue::Installed(); });
    return catalogue_ ? &*catalogue_ : nullptr;
}

SharedOverlay BatchResources::Overlay(const OverlayLayer &layer, int32_t width, int32_t height) {
    auto find = [&] {
        return std::find_if(overlays_.begin(), overlays_.end(), [&](const KeptOverlay &kept) {
            return kept.width == width && kept.height == height && SameLayer(kept.layer, layer);
        });
    };
    {
        const std::lock_guard guard(overlaysLock_);
        if (const auto kept = find(); kept != overlays_.end()) {
            // The latest used goes last, so the one left longest goes first.
            std::rotate(kept, kept + 1, overlays_.end());
            return overlays_.back().overlay;
        }
    }
    // Rendered without the lock: other workers' pictures need not wait.
    SharedOverlay rendered = RenderLayer(layer, width, height, Fonts(), Bitmaps());
    if (!rendered) return nullptr;
    const std::lock_guard guard(overlaysLock_);
    // Another worker may have rendered the same meanwhile; one is kept.
    if (find() == overlays_.end()) {
        if (overlays_.size() >= kKeptOverlays) overlays_.erase(overlays_.begin());
        try {
            overlays_.push_back(KeptOverlay{layer, width, height, rendered});
            overlays_.back().layer.prev = overlays_.back().layer.next = nullptr;
        } catch (const std::bad_alloc &) {
            // Not kept: the next picture renders its own.
        }
    }
    return rendered;
}

int32_t StampPicture(const char *picture, const char *destination, const OverlayLayer &layer,
                     bool keepUndo, char *errorText, BatchResources *batch,
                     const engine::DiskWaitNotice &diskWait, bool restoreEarlier) {
    SharedOverlay overlay;
    engine::RegionPainter painter;
    // The engine asks for the rectangle once it knows the picture's size;
    // the overlay is rendered then, beside the reading of the coefficients.
    painter.paintedRect = [&](int32_t width, int32_t height) {
        overlay = batch != nullptr ? batch->Overlay(layer, width, height)
                                   : RenderLayer(layer, width, height, nullptr, nullptr);
        return overlay::PaintedRect(overlay.get(), width, height);
    };
    painter.paint = [&](uint8_t *area, int32_t areaX, int32_t areaY, int32_t areaWidth,
                        int32_t areaHeight, int32_t width, int32_t height) {
        overlay::BlendLayers(overlay.get(),
                             overlay::PictureArea{area, areaX, areaY, areaWidth, areaHeight}, width,
                             height);
    };
    // The bitmaps need not stay beside the coefficients while the file is
    // written.
    painter.finished = [&] { overlay.reset(); };
    const int32_t result =
        engine::StampRegion(picture, destination, painter, keepUndo ? 1 : 0, errorText,
                            batch != nullptr ? batch->Memory() : nullptr, diskWait, restoreEarlier);
    // The full decode would paint over the earlier stamp.
    if (result != engine::kNeedsFullDecode || restoreEarlier) return result;
    return StampFromFullDecode(picture, destination, overlay.get(), keepUndo, errorText);
}

}  // namespace mk::batch
