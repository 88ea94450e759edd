// The per-file stamp and undo operations: the glue between the settings,
// the date selection, the overlay and the JPEG engine.
#include "batch/operations.h"

#include <cstring>
#include <optional>

#include "batch/fast_stamp.h"
#include "engine/engine.h"
#include "metadata/stamp_date.h"
#include "platform/files.h"
#include "settings/geometry.h"

namespace mk::batch {
namespace {

// Read-only handling of the destination: false when the operation may not
// change it; otherwise the guard gives it write permission for as long as it
// lives, when it had none.
bool MayWrite(const char *destination, const Setts &settings, platform::WritableGuard &guard) {
    if (!platform::IsReadOnly(destination)) return true;
    if ((settings.flags & FLAG_ALLOW_READONLY) == 0) return false;
    return guard.Lift(destination);
}

}  // namespace

void FillStampLayer(OverlayLayer &layer, const char *source, const Setts &s, int32_t width,
                    int32_t height) {
    layer.kind = 1;
    // The date always comes from the source, also when an earlier stamp was
    // taken off into the destination first.
    metadata::MakeStampText(source, s.flags, settings::DateFormatOf(s), layer.text);
    const settings::StampGeometry g = settings::GeometryInPixels(s, width, height);
    layer.fontSize = g.fontHeight;
    std::memcpy(layer.fontFace, s.fontFace, sizeof layer.fontFace);
    layer.fontFace[sizeof layer.fontFace - 1] = '\0';
    layer.fontWeight = s.fontWeight;
    layer.fontItalic = s.fontItalic;
    layer.fontCharSet = s.fontCharSet;
    layer.fontQuality = s.fontQuality;
    layer.fontColor = s.fontColor;
    layer.fontOpacity = s.fontOpacity;
    layer.backgroundOpacity = s.backgroundOpacity;
    layer.horizontalMargin = g.horizontalMargin;
    layer.verticalMargin = g.verticalMargin;
    layer.backgroundColor = s.backgroundColor;
    layer.stampPosition = s.stampPosition;
    layer.horizontalOffset = g.horizontalOffset;
    layer.verticalOffset = g.verticalOffset;
    layer.flags = s.flags;
}

namespace {

// Takes an earlier stamp off source into destination before stamping again,
// with the memory of the batch when given; an in-place restore keeps the
// file's time.
bool RestoreEarlierStamp(const char *source, const char *destination, BatchResources *batch,
                         char *errorText) {
    std::optional<timespec> time;
    if (platform::SameFile(source, destination)) time = platform::ModificationTime(source);
    if (engine::UndoStampedJpeg(source, destination, errorText, {},
                                batch != nullptr ? batch->Memory() : nullptr) != engine::kOk)
        return false;
    if (time) platform::SetModificationTime(source, *time);
    return true;
}

// The stamp's layer for `picture`, whose date comes from `source`.
bool MakeLayer(const char *picture, const char *source, const Setts &settings, OverlayLayer *layer,
               char *errorText) {
    int32_t width = 0, height = 0;
    if (engine::ReadJpegFile(picture, nullptr, &width, &height, errorText) != engine::kOk ||
        width <= 0 || height <= 0)
        return false;
    FillStampLayer(*layer, source, settings, width, height);
    return true;
}

int32_t Stamp(const char *source, const char *destination, const Setts &settings,
              BatchResources *batch, const engine::DiskWaitNotice &diskWait) {
    if (!platform::FitsPathBuffer(source) || !platform::FitsPathBuffer(destination)) return -1;
    platform::WritableGuard writable;
    if (!MayWrite(destination, settings, writable)) return -1;
    char errorText[engine::kErrorTextSize] = "";
    const bool keepUndo = (settings.flags & FLAG_REVERSE_MARKER) != 0;

    const char *picture = source;
    switch (engine::ProbeReverseMarker(source, errorText)) {
        case engine::kOk: {
            if ((settings.flags & FLAG_RESTAMP) == 0) return -1;
            // The earlier stamp taken off in memory and the new one put on,
            // in one pass over the picture.
            OverlayLayer layer{};
            if (!MakeLayer(source, source, settings, &layer, errorText)) return -1;
            bool flushing = false;
            const engine::DiskWaitNotice notice = [&] {
                flushing = true;
                if (diskWait) diskWait();
            };
            if (StampPicture(source, destination, layer, keepUndo, errorText, batch, notice,
                             true) == engine::kOk)
                return 0;
            if (flushing) return -1;  // written, but not into place
            // Where the one pass writes nothing (nothing to paint, a picture
            // that needs a full decode, a refused marker), the two steps
            // give their own results: the earlier stamp is taken off into
            // the destination, then the destination is stamped. Stamping
            // over a stamp that could not be taken off would leave two
            // markers, and the older one could never be restored.
            if (!RestoreEarlierStamp(source, destination, batch, errorText)) return -1;
            picture = destination;
            break;
        }
        case engine::kNoReverseMarker:
            break;
        default:
            return -1;
    }

    OverlayLayer layer{};
    if (!MakeLayer(picture, source, settings, &layer, errorText)) return -1;
    // Only the blocks around the stamp are decoded, painted and encoded
    // again; an empty text paints nothing and writes nothing.
    return StampPicture(picture, destination, layer, keepUndo, errorText, batch, diskWait) ==
                   engine::kOk
               ? 0
               : -1;
}

int32_t Undo(const char *source, const char *destination, const Setts &settings,
             BatchResources *batch, const engine::DiskWaitNotice &diskWait) {
    if (!platform::FitsPathBuffer(source) || !platform::FitsPathBuffer(destination)) return -1;
    char errorText[engine::kErrorTextSize] = "";
    if (const int32_t probe = engine::ProbeReverseMarker(source, errorText); probe != engine::kOk)
        return probe;
    platform::WritableGuard writable;
    if (!MayWrite(destination, settings, writable)) return -1;
    return engine::UndoStampedJpeg(source, destination, errorText, diskWait,
                                   batch != nullptr ? batch->Memory() : nullptr);
}

}  // namespace

int32_t StampFile(const char *source, const char *destination, const Setts *settings,
                  BatchResources *batch, const engine::DiskWaitNotice &diskWait) {
    if (settings == nullptr) return -1;
    try {
        return Stamp(source, destination, *settings, batch, diskWait);
    } catch (...) {
        return -1;
    }
}

int32_t UndoStampFile(const char *source, const char *destination, const Setts *settings,
                      BatchResources *batch, const engine::DiskWaitNotice &diskWait) {
    if (settings == nullptr) return -1;
    try {
        return Undo(source, destination, *settings, batch, diskWait);
    } catch (...) {
        return -1;
    }
}

}  // namespace mk::batch
