// The stamped-image writer: copies the source's quantised DCT coefficients,
// replaces the blocks under the stamp by blocks encoded from the painted
// pixels with the picture's own tables, optionally stores the former blocks
// as a reverse marker, and replaces the destination atomically.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "engine/engine.h"
#include "engine/jpeg_support.h"
#include "engine/reverse_marker.h"
#include "platform/atomic_file.h"

namespace mk::engine {
namespace {

// Touched blocks of one component, both ends included, and where they lie
// in the encoded crop.
struct TouchedBlocks {
    JDIMENSION firstRow, lastRow, firstColumn, lastColumn;
    JDIMENSION cropRow, cropColumn;
};

// Everything one stamp owns. It lives outside the function that arms the
// recovery points, so a library failure never jumps over a destructor.
struct StampJob {
    const char *destinationPath = nullptr;
    const uint8_t *pixels = nullptr;
    StampRect rect{};
    bool keepUndo = false;
    char *errorText = nullptr;

    ByteBuffer sourceData;
    ByteBuffer marker;
    ByteBuffer encoded;
    MemorySource sourceInput{};
    MemorySource encodedInput{};
    MemoryDestination markerOutput{};
    MemoryDestination encodedOutput{};
    jvirt_barray_ptr workspace[MAX_COMPONENTS]{};
    TouchedBlocks touched[MAX_COMPONENTS]{};
    platform::AtomicFile output;

    Decompressor source;
    Compressor encoder;
    Decompressor reread;
    Compressor destination;
    Compressor saver;
};

int32_t Refuse(char *errorText, int32_t code, const char *message) {
    SetErrorText(errorText, "%s", message);
    return code;
}

bool SamplingSupported(j_decompress_ptr info) {
    for (int c = 0; c < info->num_components; ++c) {
        const jpeg_component_info &component = info->comp_info[c];
        if (info->max_h_samp_factor % component.h_samp_factor != 0 ||
            info->max_v_samp_factor % component.v_samp_factor != 0)
            return false;
    }
    return true;
}

// Blocks that meet the rectangle, per component, and the MCU-aligned pixel
// crop that covers all of them. Returns false when a range leaves the
// picture's arrays.
bool PlanTouchedBlocks(StampJob *job, JDIMENSION *cropX, JDIMENSION *cropY, JDIMENSION *cropWidth,
                       JDIMENSION *cropHeight) {
    j_decompress_ptr info = job->source.get();
    const JDIMENSION height = info->image_height;
    const JDIMENSION top = height - static_cast<JDIMENSION>(job->rect.highRow) - 1;
    const JDIMENSION bottom = height - static_cast<JDIMENSION>(job->rect.lowRow) - 1;
    const auto left = static_cast<JDIMENSION>(job->rect.left);
    const auto right = static_cast<JDIMENSION>(job->rect.right);
    JDIMENSION mcuRow0 = ~0u, mcuRow1 = 0, mcuCol0 = ~0u, mcuCol1 = 0;
    for (int c = 0; c < info->num_components; ++c) {
        const jpeg_component_info &component = info->comp_info[c];
        const auto h = static_cast<JDIMENSION>(component.h_samp_factor);
        const auto v = static_cast<JDIMENSION>(component.v_samp_factor);
        const JDIMENSION fh = static_cast<JDIMENSION>(info->max_h_samp_factor) / h;
        const JDIMENSION fv = static_cast<JDIMENSION>(info->max_v_samp_factor) / v;
        TouchedBlocks &t = job->touched[c];
        t.firstRow = top / fv / 8;
        t.lastRow = std::min(bottom / fv / 8, component.height_in_blocks - 1);
        t.firstColumn = left / fh / 8;
        t.lastColumn = std::min(right / fh / 8, component.width_in_blocks - 1);
        if (t.firstRow > t.lastRow || t.firstColumn > t.lastColumn) return false;
        mcuRow0 = std::min(mcuRow0, t.firstRow / v);
        mcuRow1 = std::max(mcuRow1, t.lastRow / v);
        mcuCol0 = std::min(mcuCol0, t.firstColumn / h);
        mcuCol1 = std::max(mcuCol1, t.lastColumn / h);
    }
    const JDIMENSION mcuWidth = 8 * static_cast<JDIMENSION>(info->max_h_samp_factor);
    const JDIMENSION mcuHeight = 8 * static_cast<JDIMENSION>(info->max_v_samp_factor);
    *cropX = mcuCol0 * mcuWidth;
    *cropY = mcuRow0 * mcuHeight;
    *cropWidth = std::min(info->image_width, (mcuCol1 + 1) * mcuWidth) - *cropX;
    *cropHeight = std::min(info->image_height, (mcuRow1 + 1) * mcuHeight) - *cropY;
    for (int c = 0; c < info->num_components; ++c) {
        job->touched[c].cropRow =
            mcuRow0 * static_cast<JDIMENSION>(info->comp_info[c].v_samp_factor);
        job->touched[c].cropColumn =
            mcuCol0 * static_cast<JDIMENSION>(info->comp_info[c].h_samp_factor);
    }
    return true;
}

// True when every component's share of the saved block rectangle lies
// inside its coefficient array.
bool SavedAreaInside(j_decompress_ptr info, const BlockRect &blocks) {
    for (int c = 0; c < info->num_components; ++c) {
        const ComponentBlocks part = ComponentPart(info, c, blocks);
        const jpeg_component_info &component = info->comp_info[c];
        if (part.width <= 0 || part.height <= 0 ||
            static_cast<JDIMENSION>(part.column + part.width) > PaddedWidthInBlocks(component) ||
            static_cast<JDIMENSION>(part.row + part.height) > PaddedHeightInBlocks(component))
            return false;
    }
    return true;
}

// Encodes the former blocks of the saved rectangle as a small JPEG stream
// into job->marker behind the header gap. Returns the stream's length or a
// negative code.
int64_t SaveFormerBlocks(StampJob *job, jvirt_barray_ptr *sourceCoefficients,
                         const BlockRect &blocks) {
    j_decompress_ptr source = job->source.get();
    j_common_ptr common = reinterpret_cast<j_common_ptr>(source);
    for (int c = 0; c < source->num_components; ++c) {
        const ComponentBlocks part = ComponentPart(source, c, blocks);
        CopyBlockArea(common, sourceCoefficients[c], static_cast<JDIMENSION>(part.row),
                      static_cast<JDIMENSION>(part.column), job->workspace[c], 0, 0,
                      static_cast<JDIMENSION>(part.height), static_cast<JDIMENSION>(part.width));
    }
    Compressor &saver = job->saver;
    if (setjmp(saver.error.recovery)) return kLibraryFailed;
    saver.Create(job->errorText);
    j_compress_ptr info = saver.get();
    jpeg_copy_critical_parameters(source, info);
    info->image_width = 8 * static_cast<JDIMENSION>(blocks.width);
    info->image_height = 8 * static_cast<JDIMENSION>(blocks.height);
    AttachMemoryDestination(info, &job->markerOutput, &job->marker, kMarkerHeaderSize);
    jpeg_write_coefficients(info, job->workspace);
    jpeg_finish_compress(info);
    saver.Destroy();
    return static_cast<int64_t>(job->markerOutput.written);
}

// Holds no objects with destructors: library failures jump back here.
int32_t RunStampWriter(StampJob *job) {
    Decompressor &source = job->source;
    Compressor &encoder = job->encoder;
    Decompressor &reread = job->reread;
    Compressor &destination = job->destination;
    char *errorText = job->errorText;
    if (setjmp(source.error.recovery)) return FailureCodeOf(source.error);
    if (setjmp(encoder.error.recovery)) return FailureCodeOf(encoder.error);
    if (setjmp(reread.error.recovery)) return FailureCodeOf(reread.error);
    if (setjmp(destination.error.recovery)) return FailureCodeOf(destination.error);

    // Source: header, every application and comment segment, coefficients.
    source.Create(errorText);
    j_decompress_ptr src = source.get();
    AttachMemorySource(src, &job->sourceInput, job->sourceData.data(), job->sourceData.size());
    LimitCoefficientMemory(src, job->sourceData.size());
    SaveAllSegments(src);
    jpeg_read_header(src, TRUE);
    if (!SamplingSupported(src))
        return Refuse(errorText, kLibraryFailed, "Unsupported sampling factors");
    if (!RectInside(job->rect, src->image_width, src->image_height))
        return Refuse(errorText, kLibraryFailed, "Stamp rectangle outside the picture");
    const BlockRect blocks = ComputeBlockRect(src, job->rect);
    JDIMENSION cropX = 0, cropY = 0, cropWidth = 0, cropHeight = 0;
    if (!PlanTouchedBlocks(job, &cropX, &cropY, &cropWidth, &cropHeight) ||
        (job->keepUndo && !SavedAreaInside(src, blocks)))
        return Refuse(errorText, kLibraryFailed, "Stamp rectangle outside the picture");
    if (job->keepUndo) {
        for (int c = 0; c < src->num_components; ++c) {
            const ComponentBlocks part = ComponentPart(src, c, blocks);
            const jpeg_component_info &component = src->comp_info[c];
            const auto h = static_cast<JDIMENSION>(component.h_samp_factor);
            const auto v = static_cast<JDIMENSION>(component.v_samp_factor);
            // Padded to whole MCUs: the transcoder reads whole MCU rows.
            job->workspace[c] = (*src->mem->request_virt_barray)(
                reinterpret_cast<j_common_ptr>(src), JPOOL_IMAGE, TRUE,
                (static_cast<JDIMENSION>(part.width) + h - 1) / h * h,
                (static_cast<JDIMENSION>(part.height) + v - 1) / v * v, v);
        }
    }
    jvirt_barray_ptr *sourceCoefficients = jpeg_read_coefficients(src);

    // The former blocks of the saved rectangle, before any is replaced.
    size_t totalLength = 0;
    if (job->keepUndo) {
        const size_t capacity =
            static_cast<size_t>(blocks.width) * static_cast<size_t>(blocks.height) * 64 + 10000;
        if (!job->marker.Resize(capacity)) return Refuse(errorText, kNoMemory, "Not enough memory");
        const int64_t saved = SaveFormerBlocks(job, sourceCoefficients, blocks);
        if (saved < 0) return static_cast<int32_t>(saved);
        totalLength = kMarkerHeaderSize + static_cast<size_t>(saved);
        if (totalLength > 0x7FFFFFFF) return Refuse(errorText, kNoMemory, "Not enough memory");
    }

    // Encoder: the painted pixels of the MCU-aligned crop around the touched
    // blocks, with the source's tables and sampling. A block's coefficients
    // depend only on the pixels of its own MCU (and on the replicated edge,
    // which the crop shares with the picture), so they equal those of an
    // encoding of the whole picture.
    encoder.Create(errorText);
    j_compress_ptr enc = encoder.get();
    jpeg_copy_critical_parameters(src, enc);
    enc->image_width = cropWidth;
    enc->image_height = cropHeight;
    enc->in_color_space = JCS_EXT_BGRX;
    enc->input_components = 4;
    const size_t encodedCapacity =
        std::max<size_t>(static_cast<size_t>(cropWidth) * cropHeight, 65536);
    if (!job->encoded.Resize(encodedCapacity))
        return Refuse(errorText, kNoMemory, "Not enough memory");
    AttachMemoryDestination(enc, &job->encodedOutput, &job->encoded, 0);
    jpeg_start_compress(enc, TRUE);
    const size_t width = src->image_width;
    const size_t height = src->image_height;
    while (enc->next_scanline < enc->image_height) {
        // Picture row y (from the top) is row height - 1 - y of the buffer.
        const size_t y = cropY + enc->next_scanline;
        auto row = const_cast<JSAMPROW>(job->pixels + ((height - 1 - y) * width + cropX) * 4);
        jpeg_write_scanlines(enc, &row, 1);
    }
    jpeg_finish_compress(enc);
    encoder.Destroy();

    // Re-reader: the new blocks.
    reread.Create(errorText);
    j_decompress_ptr rr = reread.get();
    AttachMemorySource(rr, &job->encodedInput, job->encoded.data(), job->encodedOutput.written);
    jpeg_read_header(rr, TRUE);
    jvirt_barray_ptr *newCoefficients = jpeg_read_coefficients(rr);
    job->encoded.Reset();
    AttachMemorySource(rr, &job->encodedInput, nullptr, 0);

    // Destination: the source's coefficients, its segments, the marker.
    if (!job->output.Open(job->destinationPath)) {
        SetErrorText(errorText, "can't create %s", job->destinationPath);
        return kCannotOpen;
    }
    destination.Create(errorText);
    j_compress_ptr dst = destination.get();
    jpeg_copy_critical_parameters(src, dst);
    jpeg_stdio_dest(dst, job->output.stream());
    jpeg_write_coefficients(dst, sourceCoefficients);
    CopySavedSegments(src, dst, false);

    for (int c = 0; c < src->num_components; ++c) {
        const TouchedBlocks &t = job->touched[c];
        const jpeg_component_info &fresh = rr->comp_info[c];
        if (t.firstRow < t.cropRow || t.firstColumn < t.cropColumn ||
            t.lastRow - t.cropRow >= PaddedHeightInBlocks(fresh) ||
            t.lastColumn - t.cropColumn >= PaddedWidthInBlocks(fresh))
            return Refuse(errorText, kLibraryFailed, "Encoded stamp does not fit the picture");
        CopyBlockArea(reinterpret_cast<j_common_ptr>(src), newCoefficients[c],
                      t.firstRow - t.cropRow, t.firstColumn - t.cropColumn, sourceCoefficients[c],
                      t.firstRow, t.firstColumn, t.lastRow - t.firstRow + 1,
                      t.lastColumn - t.firstColumn + 1);
    }

    if (job->keepUndo) {
        uint8_t *header = job->marker.data();
        WriteLe32(header + kFieldTotalLength, static_cast<uint32_t>(totalLength));
        WriteLe32(header + kFieldRectLeft, static_cast<uint32_t>(job->rect.left));
        WriteLe32(header + kFieldRectLowRow, static_cast<uint32_t>(job->rect.lowRow));
        WriteLe32(header + kFieldRectRight, static_cast<uint32_t>(job->rect.right));
        WriteLe32(header + kFieldRectHighRow, static_cast<uint32_t>(job->rect.highRow));
        WriteLe32(header + kFieldImageCrc, CoefficientCrc(src, sourceCoefficients));
        WriteReverseMarker(header, totalLength, dst);
    }
    jpeg_finish_compress(dst);
    destination.Destroy();
    jpeg_finish_decompress(rr);
    jpeg_finish_decompress(src);
    return kOk;
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
        job->destinationPath = destination;
        job->pixels = static_cast<const uint8_t *>(pixels);
        job->rect = StampRect{rectLeft, rectLowRow, rectRight, rectHighRow};
        job->keepUndo = keepUndo != 0;
        job->errorText = errorText;
        // The whole source is read before the destination is created, so
        // both may be the same file.
        if (!ReadWholeFile(source, &job->sourceData)) {
            SetErrorText(errorText, "can't open %s", source);
            return kCannotOpen;
        }
        const int32_t result = RunStampWriter(job.get());
        if (result != kOk) return result;
        if (!job->output.Commit()) {
            SetErrorText(errorText, "can't write %s", destination);
            return kLibraryFailed;
        }
        return kOk;
    } catch (const std::bad_alloc &) {
        return Refuse(errorText, kNoMemory, "Not enough memory");
    } catch (...) {
        return Refuse(errorText, kLibraryFailed, "Unexpected failure");
    }
}

}  // namespace mk::engine
