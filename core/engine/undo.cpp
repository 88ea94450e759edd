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

// True when the embedded stream has the picture's components and holds
// every block that goes back, and those blocks lie inside the picture.
bool EmbeddedFits(j_decompress_ptr picture, j_decompress_ptr embedded, const BlockRect &blocks) {
    if (embedded->num_components != picture->num_components) return false;
    for (int c = 0; c < picture->num_components; ++c) {
        const jpeg_component_info &target = picture->comp_info[c];
        const jpeg_component_info &saved = embedded->comp_info[c];
        if (target.h_samp_factor != saved.h_samp_factor ||
            target.v_samp_factor != saved.v_samp_factor)
            return false;
        const ComponentBlocks part = ComponentPart(picture, c, blocks);
        if (part.width <= 0 || part.height <= 0 ||
            static_cast<JDIMENSION>(part.width) > saved.width_in_blocks ||
            static_cast<JDIMENSION>(part.height) > saved.height_in_blocks ||
            static_cast<JDIMENSION>(part.column + part.width) > PaddedWidthInBlocks(target) ||
            static_cast<JDIMENSION>(part.row + part.height) > PaddedHeightInBlocks(target))
            return false;
    }
    return true;
}

// Holds no objects with destructors: library failures jump back here.
int32_t RunUndo(UndoJob *job) {
    Decompressor &picture = job->picture;
    Decompressor &embedded = job->embedded;
    Compressor &destination = job->destination;
    char *errorText = job->errorText;
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

    const int64_t embeddedLength = LoadReverseMarker(pic, &job->marker, errorText);
    if (embeddedLength < 0) return static_cast<int32_t>(embeddedLength);
    const uint8_t *header = job->marker.data();
    const StampRect rect{static_cast<int32_t>(ReadLe32(header + kFieldRectLeft)),
                         static_cast<int32_t>(ReadLe32(header + kFieldRectLowRow)),
                         static_cast<int32_t>(ReadLe32(header + kFieldRectRight)),
                         static_cast<int32_t>(ReadLe32(header + kFieldRectHighRow))};
    // A marker whose CRC matches but whose rectangle does not fit the
    // picture was not written for it.
    if (!RectInside(rect, pic->image_width, pic->image_height))
        return Refuse(errorText, kMarkerCorrupted, "Corrupted Mirelkanzoar marker!");
    const BlockRect blocks = ComputeBlockRect(pic, rect);
    if (CoefficientCrc(pic, coefficients) != ReadLe32(header + kFieldImageCrc))
        return Refuse(errorText, kPictureChanged,
                      "Image has been changed after Mirelkanzo was added!");

    // The former blocks, read and checked before the destination is touched.
    embedded.Create(errorText);
    j_decompress_ptr emb = embedded.get();
    AttachMemorySource(emb, &job->embeddedInput, header + kMarkerHeaderSize,
                       static_cast<size_t>(embeddedLength));
    LimitCoefficientMemory(emb, static_cast<size_t>(embeddedLength));
    jpeg_read_header(emb, TRUE);
    jvirt_barray_ptr *former = jpeg_read_coefficients(emb);
    if (!EmbeddedFits(pic, emb, blocks))
        return Refuse(errorText, kMarkerCorrupted, "Corrupted Mirelkanzoar marker!");
    for (int c = 0; c < pic->num_components; ++c) {
        const ComponentBlocks part = ComponentPart(pic, c, blocks);
        CopyBlockArea(reinterpret_cast<j_common_ptr>(pic), former[c], 0, 0, coefficients[c],
                      static_cast<JDIMENSION>(part.row), static_cast<JDIMENSION>(part.column),
                      static_cast<JDIMENSION>(part.height), static_cast<JDIMENSION>(part.width));
    }
    jpeg_finish_decompress(emb);
    embedded.Destroy();

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
                        const DiskWaitNotice &diskWait) {
    ClearErrorText(errorText);
    if (source == nullptr || destination == nullptr) return kCannotOpen;
    try {
        auto job = std::make_unique<UndoJob>();
        job->destinationPath = destination;
        job->errorText = errorText;
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
