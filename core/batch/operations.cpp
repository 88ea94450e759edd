// The per-file stamp and undo operations: the glue between the settings,
// the date selection, the overlay and the JPEG engine.
#include "batch/operations.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include <string_view>

#include "batch/fast_stamp.h"
#include "engine/engine.h"
#include "engine/region_stamp.h"
#include "metadata/stamp_date.h"
#include "platform/files.h"
#include "platform/readable.h"
#include "settings/geometry.h"

namespace mk::batch {
namespace {

// Read-only handling of the destination: false when the operation may not
// change it. Writing needs no change of its mode: a replacement is a new
// file given the old one's mode, and a write in place lifts the read-only
// state only for the moment it opens the file, so a killed run never leaves
// a read-only picture writable.
bool MayWrite(const char *destination, const Setts &settings) {
    return (settings.flags & FLAG_ALLOW_READONLY) != 0 || !platform::IsReadOnly(destination);
}

}  // namespace

void SetReportText(MK_FileReport &report, std::string_view text) {
    const size_t n = std::min(text.size(), sizeof report.text - 1);
    std::memcpy(report.text, text.data(), n);
    report.text[n] = '\0';
}

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

// The reason of a failure, with its words, into the report; returns the
// operation's result code.
int32_t Fail(MK_FileReport *report, int32_t result, int32_t reason, std::string_view text) {
    if (report != nullptr) {
        report->reason = reason;
        SetReportText(*report, text);
    }
    return result;
}

// The engine's message, when it wrote one, behind a reason of our own.
std::string WithDetail(std::string_view reason, const char *errorText) {
    std::string text(reason);
    if (errorText != nullptr && errorText[0] != '\0') {
        text += " (";
        text += errorText;
        text += ')';
    }
    return text;
}

// Why `path` cannot be read as a picture, before the engine opens it.
bool RefuseUnreadable(const char *path, int32_t result, MK_FileReport *report) {
    const platform::ReadProblem problem = platform::WhyNotReadable(path);
    switch (problem.kind) {
        case platform::ReadProblem::kNone:
            return false;
        case platform::ReadProblem::kMissing:
            Fail(report, result, MK_REASON_NOT_FOUND, "no such file");
            return true;
        case platform::ReadProblem::kFolder:
            Fail(report, result, MK_REASON_NOT_REGULAR, "a folder, not a picture");
            return true;
        case platform::ReadProblem::kNotRegular:
            Fail(report, result, MK_REASON_NOT_REGULAR,
                 "not a regular file (a device, pipe or socket)");
            return true;
        case platform::ReadProblem::kDenied:
            Fail(report, result, MK_REASON_CANNOT_OPEN,
                 "cannot be opened: " + platform::ErrorName(problem.error));
            return true;
    }
    return false;
}

// The report of an engine failure; returns `result`.
int32_t FailFromEngine(MK_FileReport *report, int32_t result, int32_t code, const char *errorText) {
    switch (code) {
        case engine::kCannotOpen:
            return Fail(report, result, MK_REASON_CANNOT_OPEN,
                        WithDetail("cannot be opened or written", errorText));
        case engine::kNoMemory:
            return Fail(report, result, MK_REASON_NO_MEMORY, "not enough memory");
        case engine::kNotJpeg:
            return Fail(report, result, MK_REASON_NOT_JPEG, "not a JPEG file");
        case engine::kPrematureEnd:
            return Fail(report, result, MK_REASON_DAMAGED, "damaged: the file ends too early");
        case engine::kBadMarkerLength:
            return Fail(report, result, MK_REASON_DAMAGED,
                        WithDetail("damaged: a segment has a wrong length", errorText));
        case engine::kDamaged:
            return Fail(report, result, MK_REASON_DAMAGED, WithDetail("damaged", errorText));
        case engine::kUnsupported:
            return Fail(report, result, MK_REASON_UNSUPPORTED,
                        WithDetail("a kind of JPEG that cannot be stamped", errorText));
        case engine::kNoSpace:
            return Fail(report, result, MK_REASON_NO_SPACE, "no space left on the device");
        case engine::kWriteFailed:
            return Fail(report, result, MK_REASON_CANNOT_WRITE,
                        WithDetail("the result could not be written", errorText));
        case engine::kNothingPainted:
            return Fail(report, result, MK_REASON_NOTHING_PAINTED,
                        "the settings paint nothing on this picture");
        case engine::kNoReverseMarker:
            return Fail(report, result, MK_REASON_NO_STAMP, "has no stamp");
        case engine::kMarkerCorrupted:
            return Fail(report, result, MK_REASON_STAMP_DAMAGED, "its undo data is damaged");
        case engine::kPictureChanged:
            return Fail(report, result, MK_REASON_CHANGED,
                        "changed after stamping: the stamp cannot be taken off");
        default:
            return Fail(report, result, MK_REASON_OTHER,
                        WithDetail("the JPEG library failed", errorText));
    }
}

// A file in the system's temporary folder that is removed with its owner:
// an earlier stamp is taken off into it when the new stamp cannot be put on
// in the same pass, so the destination changes only once the new stamp is
// complete.
class TemporaryPath {
  public:
    TemporaryPath() {
        std::string pattern = (std::filesystem::temp_directory_path() / "mkq-XXXXXX.jpg").string();
        const int fd = ::mkstemps(pattern.data(), 4);
        if (fd < 0) return;
        ::close(fd);
        path_ = std::move(pattern);
    }
    ~TemporaryPath() {
        if (!path_.empty()) ::unlink(path_.c_str());
    }
    TemporaryPath(const TemporaryPath &) = delete;
    TemporaryPath &operator=(const TemporaryPath &) = delete;

    bool ok() const { return !path_.empty(); }
    const char *path() const { return path_.c_str(); }

  private:
    std::string path_;
};

// The stamp's layer for `picture`, whose date comes from `source`.
int32_t MakeLayer(const char *picture, const char *source, const Setts &settings,
                  OverlayLayer *layer, char *errorText) {
    int32_t width = 0, height = 0;
    if (const int32_t read = engine::ReadJpegFile(picture, nullptr, &width, &height, errorText);
        read != engine::kOk)
        return read;
    if (width <= 0 || height <= 0) return engine::kLibraryFailed;
    FillStampLayer(*layer, source, settings, width, height);
    return engine::kOk;
}

int32_t Stamp(const char *source, const char *destination, const Setts &settings,
              BatchResources *batch, const engine::DiskWaitNotice &diskWait,
              MK_FileReport *report) {
    if (!platform::FitsPathBuffer(source) || !platform::FitsPathBuffer(destination))
        return Fail(report, -1, MK_REASON_PATH_TOO_LONG, "the path is longer than 259 bytes");
    if (RefuseUnreadable(source, -1, report)) return -1;
    if (!MayWrite(destination, settings)) return Fail(report, -1, MK_REASON_READ_ONLY, "read-only");
    char errorText[engine::kErrorTextSize] = "";
    const bool keepUndo = (settings.flags & FLAG_REVERSE_MARKER) != 0;

    switch (const int32_t probe = engine::ProbeReverseMarker(source, errorText)) {
        case engine::kOk:
            break;
        case engine::kNoReverseMarker: {
            OverlayLayer layer{};
            if (const int32_t made = MakeLayer(source, source, settings, &layer, errorText);
                made != engine::kOk)
                return FailFromEngine(report, -1, made, errorText);
            // Only the blocks around the stamp are decoded, painted and
            // encoded again; an empty text paints nothing and writes nothing.
            const int32_t result =
                StampPicture(source, destination, layer, keepUndo, errorText, batch, diskWait);
            return result == engine::kOk ? 0 : FailFromEngine(report, -1, result, errorText);
        }
        default:
            return FailFromEngine(report, -1, probe, errorText);
    }

    if ((settings.flags & FLAG_RESTAMP) == 0)
        return Fail(report, -1, MK_REASON_ALREADY_STAMPED,
                    "already stamped, and re-stamping is off in the settings");
    // The earlier stamp taken off in memory and the new one put on, in one
    // pass over the picture.
    OverlayLayer layer{};
    if (const int32_t made = MakeLayer(source, source, settings, &layer, errorText);
        made != engine::kOk)
        return FailFromEngine(report, -1, made, errorText);
    const int32_t result =
        StampPicture(source, destination, layer, keepUndo, errorText, batch, diskWait, true);
    if (result != engine::kNeedsFullDecode)
        return result == engine::kOk ? 0 : FailFromEngine(report, -1, result, errorText);

    // A picture the region stamp leaves to a full decode: the earlier stamp
    // is taken off into a scratch file, which is then stamped into the
    // destination. Any failure on the way leaves the destination as it was,
    // earlier stamp and undo data included.
    const TemporaryPath unstamped;
    if (!unstamped.ok())
        return Fail(report, -1, MK_REASON_CANNOT_WRITE,
                    "no temporary file for taking the earlier stamp off");
    if (const int32_t undone = engine::UndoStampedJpeg(
            source, unstamped.path(), errorText, {}, batch != nullptr ? batch->Memory() : nullptr);
        undone != engine::kOk)
        return FailFromEngine(report, -1, undone, errorText);
    if (const int32_t made = MakeLayer(unstamped.path(), source, settings, &layer, errorText);
        made != engine::kOk)
        return FailFromEngine(report, -1, made, errorText);
    const int32_t restamped =
        StampPicture(unstamped.path(), destination, layer, keepUndo, errorText, batch, diskWait);
    return restamped == engine::kOk ? 0 : FailFromEngine(report, -1, restamped, errorText);
}

// Undo's result codes are the engine's, but for the refusals the engine
// added later, which callers know as a library failure.
int32_t UndoResult(int32_t code) {
    switch (code) {
        case engine::kDamaged:
        case engine::kUnsupported:
        case engine::kNoSpace:
        case engine::kWriteFailed:
            return engine::kLibraryFailed;
        default:
            return code;
    }
}

int32_t Undo(const char *source, const char *destination, const Setts &settings,
             BatchResources *batch, const engine::DiskWaitNotice &diskWait, MK_FileReport *report) {
    if (!platform::FitsPathBuffer(source) || !platform::FitsPathBuffer(destination))
        return Fail(report, -1, MK_REASON_PATH_TOO_LONG, "the path is longer than 259 bytes");
    if (RefuseUnreadable(source, -1, report)) return -1;
    char errorText[engine::kErrorTextSize] = "";
    if (const int32_t probe = engine::ProbeReverseMarker(source, errorText); probe != engine::kOk)
        return FailFromEngine(report, UndoResult(probe), probe, errorText);
    if (!MayWrite(destination, settings)) return Fail(report, -1, MK_REASON_READ_ONLY, "read-only");
    const int32_t result = engine::UndoStampedJpeg(source, destination, errorText, diskWait,
                                                   batch != nullptr ? batch->Memory() : nullptr);
    return result == engine::kOk ? 0
                                 : FailFromEngine(report, UndoResult(result), result, errorText);
}

}  // namespace

int32_t StampFile(const char *source, const char *destination, const Setts *settings,
                  BatchResources *batch, const engine::DiskWaitNotice &diskWait,
                  MK_FileReport *report) {
    if (settings == nullptr) return Fail(report, -1, MK_REASON_OTHER, "no settings");
    try {
        return Stamp(source, destination, *settings, batch, diskWait, report);
    } catch (const std::bad_alloc &) {
        return Fail(report, -1, MK_REASON_NO_MEMORY, "not enough memory");
    } catch (...) {
        return Fail(report, -1, MK_REASON_OTHER, "an unexpected failure");
    }
}

int32_t UndoStampFile(const char *source, const char *destination, const Setts *settings,
                      BatchResources *batch, const engine::DiskWaitNotice &diskWait,
                      MK_FileReport *report) {
    if (settings == nullptr) return Fail(report, -1, MK_REASON_OTHER, "no settings");
    try {
        return Undo(source, destination, *settings, batch, diskWait, report);
    } catch (const std::bad_alloc &) {
        return Fail(report, engine::kNoMemory, MK_REASON_NO_MEMORY, "not enough memory");
    } catch (...) {
        return Fail(report, -1, MK_REASON_OTHER, "an unexpected failure");
    }
}

}  // namespace mk::batch
