// The stamped-image writer: copies the source's quantised DCT coefficients,
// replaces the blocks under the stamp by blocks encoded from the painted
// pixels with the picture's own tables, optionally stores the former blocks
// as a reverse marker, and replaces the destination atomically.
#include <memory>
#include <new>

#include "engine/engine.h"
#include "engine/jpeg_support.h"
#include "engine/reverse_marker.h"
#include "engine/stamp_steps.h"

namespace mk::engine {
namespace {

// Everything one stamp owns, outside the function that arms the recovery
// points.
struct StampJob {
    StampWork work;
    const uint8_t *pixels = nullptr;
};

// Library failures jump back here.
int32_t RunStampWriter(StampJob *job) {
    StampWork *work = &job->work;
    // No frame that a failure leaves from here on holds an object with a destructor.
    if (setjmp(work->source.error.recovery)) return FailureCodeOf(work->source.error);
    if (setjmp(work->encoder.error.recovery)) return FailureCodeOf(work->encoder.error);
    if (setjmp(work->reread.error.recovery)) return FailureCodeOf(work->reread.error);
    if (setjmp(work->destination.error.recovery)) return FailureCodeOf(work->destination.error);

    // Source: header, every application and comment segment, coefficients.
    ReadSourceHeader(work);
    if (const int32_t planned = PlanStamp(work); planned != kOk) return planned;
    j_decompress_ptr src = work->source.get();
    jvirt_barray_ptr *sourceCoefficients = jpeg_read_coefficients(src);
    if (const int32_t damaged = RefuseIfDamaged(work->source.error, work->errorText);
        damaged != kOk)
        return damaged;
    if (const int32_t checked = CheckSource(work, sourceCoefficients); checked != kOk)
        return checked;

    // The former blocks of the saved rectangle, before any is replaced.
    if (const int32_t saved = SaveFormerBlocks(work, sourceCoefficients); saved != kOk)
        return saved;

    // Encoder: the painted pixels of the MCU-aligned crop around the touched
    // blocks, taken from the whole painted picture.
    const PixelArea picture{job->pixels, PixelBox{0, 0, src->image_width, src->image_height}};
    if (const int32_t encoded = EncodeCrop(work, picture); encoded != kOk) return encoded;

    // Destination: the source's coefficients, its segments, the marker.
    return WriteDestination(work, sourceCoefficients);
}

}  // namespace

int32_t WriteStampedJpeg(const char *source, const char *destination, const void *pixels,
                         int32_t rectLeft, int32_t rectLowRow, int32_t rectRight,
                         int32_t rectHighRow, int32_t keepUndo, char *errorText) {
    ClearErrorText(errorText);
    if (source == nullptr || destination == nullptr) return kCannotOpen;
    if (pixels == nullptr) return Refuse(errorText, kLibraryFailed, "No pixels");
    try {
        auto job = std::make_unique<StampJob>();
        job->pixels = static_cast<const uint8_t *>(pixels);
        job->work.destinationPath = destination;
        job->work.rect = StampRect{rectLeft, rectLowRow, rectRight, rectHighRow};
        job->work.keepUndo = keepUndo != 0;
        job->work.errorText = errorText;
        // The whole source is read before the destination is created, so
        // both may be the same file.
        if (!ReadWholeFile(source, &job->work.sourceData)) {
            SetErrorText(errorText, "can't open %s", source);
            return kCannotOpen;
        }
        const int32_t result = RunStampWriter(job.get());
        if (result != kOk) return result;
        return CommitDestination(&job->work);
    } catch (const std::bad_alloc &) {
        return Refuse(errorText, kNoMemory, "Not enough memory");
    } catch (...) {
        return Refuse(errorText, kLibraryFailed, "Unexpected failure");
    }
}

}  // namespace mk::engine
