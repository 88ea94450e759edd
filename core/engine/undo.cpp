// Undo: takes a stamp off a picture that carries a reverse marker, after
// checking the marker and that the picture is exactly as the stamp wrote
// it, and replaces the destination atomically.
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "engine/engine.h"
#include "engine/jpeg_support.h"
#include "engine/picture_checks.h"
#include "engine/reverse_marker.h"
#include "platform/atomic_file.h"

namespace mk::engine {
namespace {

struct UndoJob {
    const char *destinationPath = nullptr;
    char *errorText = nullptr;

    ByteBuffer sourceData;
    std::vector<uint8_t> marker;
    MemorySource pictureInput{};
    MemorySource embeddedInput{};
    platform::AtomicFile output;

    Decompressor picture;
    Decompressor embedded;
    Compressor destination;
};

int32_t Refuse(char *errorText, int32_t code, const char *message) {
    SetErrorText(errorText, "%s", message);
    return code;
}

// Library failures jump back here.
int32_t RunUndo(UndoJob *job) {
    Decompressor &picture = job->picture;
    Decompressor &embedded = job->embedded;
    Compressor &destination = job->destination;
    char *errorText = job->errorText;
    // No frame that a failure leaves from here on holds an object with a destructor.
    if (setjmp(picture.error.recovery)) return FailureCodeOf(picture.error);
    if (setjmp(embedded.error.recovery)) return kLibraryFailed;
    if (setjmp(destination.error.recovery)) return FailureCodeOf(destination.error);

    picture.Create(errorText);
    j_decompress_ptr pic = picture.get();
    AttachMemorySource(pic, &job->pictureInput, job->sourceData.data(), job->sourceData.size());
    LimitCoefficientMemory(pic, job->sourceData.size());
    SaveAllSegments(pic);
    jpeg_read_header(pic, TRUE);
    jvirt_barray_ptr *coefficients = jpeg_read_coefficients(pic);
    if (const int32_t damaged = RefuseIfDamaged(picture.error, errorText); damaged != kOk)
        return damaged;

    if (const int32_t restored = RestoreFormerBlocks(pic, coefficients, &embedded, &job->marker,
                                                     &job->embeddedInput, errorText);
        restored != kOk)
        return restored;
    if (const int32_t checked = CheckTranscodable(pic, coefficients, errorText); checked != kOk)
        return checked;

    if (!job->output.Open(job->destinationPath)) {
        SetErrorText(errorText, "can't create %s", job->destinationPath);
        return kCannotOpen;
    }
    destination.Create(errorText);
    j_compress_ptr dst = destination.get();
    jpeg_copy_critical_parameters(pic, dst);
    jpeg_stdio_dest(dst, job->output.stream());
    jpeg_write_coefficients(dst, coefficients);
    CopySavedSegments(pic, dst, true);
    jpeg_finish_compress(dst);
    destination.Destroy();
    jpeg_finish_decompress(pic);
    return kOk;
}

}  // namespace

int32_t UndoStampedJpeg(const char *source, const char *destination, char *errorText,
                        const DiskWaitNotice &diskWait, CoefficientMemory *memory) {
    ClearErrorText(errorText);
    if (source == nullptr || destination == nullptr) return kCannotOpen;
    try {
        auto job = std::make_unique<UndoJob>();
        job->destinationPath = destination;
        job->errorText = errorText;
        job->picture.arrays.UseMemory(memory);
        if (!ReadWholeFile(source, &job->sourceData)) {
            SetErrorText(errorText, "can't open %s", source);
            return kCannotOpen;
        }
        const int32_t result = RunUndo(job.get());
        if (result != kOk) return result;
        // The picture's coefficients are let go before the wait for the disk.
        platform::AtomicFile output = std::move(job->output);
        job.reset();
        return CommitOutput(output, destination, errorText, diskWait);
    } catch (const std::bad_alloc &) {
        return Refuse(errorText, kNoMemory, "Not enough memory!");
    } catch (...) {
        return Refuse(errorText, kLibraryFailed, "Unexpected failure");
    }
}

}  // namespace mk::engine
