// The shared steps of writing a stamped picture: block planning, the
// reverse marker's former blocks, the encoding of the painted crop and the
// destination with the new blocks swapped in.
#include "engine/stamp_steps.h"

#include <algorithm>
#include <cstring>

#include "engine/engine.h"
#include "engine/picture_checks.h"

namespace mk::engine {
namespace {

// Whole ratios between every component's sampling and the largest, which
// the planning below divides by.
bool SamplingSupported(j_decompress_ptr info) {
    for (int c = 0; c < info->num_components; ++c) {
        const jpeg_component_info &component = info->comp_info[c];
        if (info->max_h_samp_factor % component.h_samp_factor != 0 ||
            info->max_v_samp_factor % component.v_samp_factor != 0)
            return false;
    }
    return true;
}

// The saved block rectangle is aligned to whole MCUs by masking block
// numbers, which holds only when the sampling ratios are powers of two;
// with a ratio of 3 the former blocks would be read past their arrays.
bool MarkerAlignmentHolds(j_decompress_ptr info) {
    int minH = info->max_h_samp_factor, minV = info->max_v_samp_factor;
    for (int c = 0; c < info->num_components; ++c) {
        minH = std::min(minH, info->comp_info[c].h_samp_factor);
        minV = std::min(minV, info->comp_info[c].v_samp_factor);
    }
    const int fh = info->max_h_samp_factor / minH;
    const int fv = info->max_v_samp_factor / minV;
    return (fh & (fh - 1)) == 0 && (fv & (fv - 1)) == 0;
}

// Blocks that meet the rectangle, per component, and the MCU-aligned pixel
// crop that covers all of them. Returns false when a range leaves the
// picture's arrays.
bool PlanTouchedBlocks(StampWork *work) {
    j_decompress_ptr info = work->source.get();
    const JDIMENSION height = info->image_height;
    const JDIMENSION top = height - static_cast<JDIMENSION>(work->rect.highRow) - 1;
    const JDIMENSION bottom = height - static_cast<JDIMENSION>(work->rect.lowRow) - 1;
    const auto left = static_cast<JDIMENSION>(work->rect.left);
    const auto right = static_cast<JDIMENSION>(work->rect.right);
    JDIMENSION mcuRow0 = ~0u, mcuRow1 = 0, mcuCol0 = ~0u, mcuCol1 = 0;
    for (int c = 0; c < info->num_components; ++c) {
        const jpeg_component_info &component = info->comp_info[c];
        const auto h = static_cast<JDIMENSION>(component.h_samp_factor);
        const auto v = static_cast<JDIMENSION>(component.v_samp_factor);
        const JDIMENSION fh = static_cast<JDIMENSION>(info->max_h_samp_factor) / h;
        const JDIMENSION fv = static_cast<JDIMENSION>(info->max_v_samp_factor) / v;
        TouchedBlocks &t = work->touched[c];
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
    work->firstMcuRow = mcuRow0;
    work->lastMcuRow = mcuRow1;
    work->firstMcuColumn = mcuCol0;
    work->lastMcuColumn = mcuCol1;
    PixelBox &crop = work->crop;
    crop.x = mcuCol0 * mcuWidth;
    crop.y = mcuRow0 * mcuHeight;
    crop.width = std::min(info->image_width, (mcuCol1 + 1) * mcuWidth) - crop.x;
    crop.height = std::min(info->image_height, (mcuRow1 + 1) * mcuHeight) - crop.y;
    for (int c = 0; c < info->num_components; ++c) {
        work->touched[c].cropRow =
            mcuRow0 * static_cast<JDIMENSION>(info->comp_info[c].v_samp_factor);
        work->touched[c].cropColumn =
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

// Transcodes the former blocks into the marker buffer through a workspace
// in the saver's own store; arms the saver's own recovery point. Returns the
// stream's length or a negative code.
int64_t EncodeFormerBlocks(StampWork *work, jvirt_barray_ptr *sourceCoefficients) {
    j_decompress_ptr source = work->source.get();
    Compressor &saver = work->saver;
    // No frame that a failure leaves from here on holds an object with a destructor.
    if (setjmp(saver.error.recovery)) return FailureCodeOf(saver.error);
    saver.Create(work->errorText);
    j_compress_ptr info = saver.get();
    jpeg_copy_critical_parameters(source, info);
    info->image_width = 8 * static_cast<JDIMENSION>(work->blocks.width);
    info->image_height = 8 * static_cast<JDIMENSION>(work->blocks.height);
    jvirt_barray_ptr workspace[MAX_COMPONENTS]{};
    for (int c = 0; c < source->num_components; ++c) {
        const ComponentBlocks part = ComponentPart(source, c, work->blocks);
        const jpeg_component_info &component = source->comp_info[c];
        const auto h = static_cast<JDIMENSION>(component.h_samp_factor);
        const auto v = static_cast<JDIMENSION>(component.v_samp_factor);
        // Padded to whole MCUs: the transcoder reads whole MCU rows.
        workspace[c] =
            saver.arrays.Request(reinterpret_cast<j_common_ptr>(info), true,
                                 (static_cast<JDIMENSION>(part.width) + h - 1) / h * h,
                                 (static_cast<JDIMENSION>(part.height) + v - 1) / v * v, v);
    }
    saver.arrays.Realize(reinterpret_cast<j_common_ptr>(info));
    AttachMemoryDestination(info, &work->markerOutput, &work->marker, kMarkerHeaderSize);
    // The encoder reads the workspace only when compression ends.
    jpeg_write_coefficients(info, workspace);
    for (int c = 0; c < source->num_components; ++c) {
        const ComponentBlocks part = ComponentPart(source, c, work->blocks);
        CopyBlockArea(reinterpret_cast<j_common_ptr>(info), sourceCoefficients[c],
                      static_cast<JDIMENSION>(part.row), static_cast<JDIMENSION>(part.column),
                      workspace[c], 0, 0, static_cast<JDIMENSION>(part.height),
                      static_cast<JDIMENSION>(part.width));
    }
    jpeg_finish_compress(info);
    saver.Destroy();
    return static_cast<int64_t>(work->markerOutput.written);
}

// True when the touched blocks lie in the crop's blocks of one component,
// `width` x `height` of them.
bool LieInCrop(const TouchedBlocks &t, JDIMENSION width, JDIMENSION height) {
    return t.firstRow >= t.cropRow && t.firstColumn >= t.cropColumn &&
           t.lastRow - t.cropRow < height && t.lastColumn - t.cropColumn < width;
}

}  // namespace

int32_t Refuse(char *errorText, int32_t code, const char *message) {
    SetErrorText(errorText, "%s", message);
    return code;
}

void ReadSourceHeader(StampWork *work) {
    work->source.Create(work->errorText);
    j_decompress_ptr src = work->source.get();
    AttachMemorySource(src, &work->sourceInput, work->sourceData.data(), work->sourceData.size());
    LimitCoefficientMemory(src, work->sourceData.size());
    SaveAllSegments(src);
    jpeg_read_header(src, TRUE);
}

int32_t PlanStamp(StampWork *work) {
    j_decompress_ptr src = work->source.get();
    char *errorText = work->errorText;
    if (!SamplingSupported(src) || (work->keepUndo && !MarkerAlignmentHolds(src)))
        return Refuse(errorText, kUnsupported, "Unsupported sampling factors");
    if (!RectInside(work->rect, src->image_width, src->image_height))
        return Refuse(errorText, kLibraryFailed, "Stamp rectangle outside the picture");
    work->blocks = ComputeBlockRect(src, work->rect);
    if (!PlanTouchedBlocks(work) || (work->keepUndo && !SavedAreaInside(src, work->blocks)))
        return Refuse(errorText, kLibraryFailed, "Stamp rectangle outside the picture");
    return kOk;
}

int32_t CheckSource(StampWork *work, jvirt_barray_ptr *sourceCoefficients) {
    j_decompress_ptr src = work->source.get();
    // A reverse marker left among the segments (one behind the first scan,
    // where the probe does not look) would be copied before the new one,
    // and undo would take it for the new one's.
    if (work->keepUndo && !work->dropEarlierMarker)
        for (jpeg_saved_marker_ptr segment = src->marker_list; segment != nullptr;
             segment = segment->next)
            if (IsReverseMarkerSegment(*segment))
                return Refuse(work->errorText, kUnsupported,
                              "the picture already holds a reverse marker");
    if (const int32_t stampable = CheckStampable(src, work->errorText); stampable != kOk)
        return stampable;
    return CheckTranscodable(src, sourceCoefficients, work->errorText);
}

int32_t SaveFormerBlocks(StampWork *work, jvirt_barray_ptr *sourceCoefficients) {
    if (!work->keepUndo) return kOk;
    const BlockRect &blocks = work->blocks;
    const size_t capacity =
        static_cast<size_t>(blocks.width) * static_cast<size_t>(blocks.height) * 64 + 10000;
    if (!work->marker.Resize(capacity))
        return Refuse(work->errorText, kNoMemory, "Not enough memory");
    const int64_t saved = EncodeFormerBlocks(work, sourceCoefficients);
    if (saved < 0) return static_cast<int32_t>(saved);
    work->markerLength = kMarkerHeaderSize + static_cast<size_t>(saved);
    if (work->markerLength > 0x7FFFFFFF)
        return Refuse(work->errorText, kNoMemory, "Not enough memory");
    return kOk;
}

int32_t StartCropEncoder(StampWork *work) {
    j_decompress_ptr src = work->source.get();
    const PixelBox &crop = work->crop;
    // The crop's right and bottom edges are the picture's wherever it
    // reaches them, so the encoder pads its last MCUs as it would pad the
    // picture's. A block's coefficients depend only on the pixels of its own
    // MCU, so they equal those of an encoding of the whole picture.
    work->encoder.Create(work->errorText);
    j_compress_ptr enc = work->encoder.get();
    jpeg_copy_critical_parameters(src, enc);
    // The encoder divides by its steps as soon as it starts.
    if (const int32_t tables = CheckEncoderTables(enc, work->errorText); tables != kOk)
        return tables;
    enc->image_width = crop.width;
    enc->image_height = crop.height;
    enc->in_color_space = JCS_EXT_BGRX;
    enc->input_components = 4;
    // Taken blocks leave only the headers to the destination.
    const size_t encodedCapacity =
        work->captureCrop ? 65536
                          : std::max<size_t>(static_cast<size_t>(crop.width) * crop.height, 65536);
    if (!work->encoded.Resize(encodedCapacity))
        return Refuse(work->errorText, kNoMemory, "Not enough memory");
    AttachMemoryDestination(enc, &work->encodedOutput, &work->encoded, 0);
    jpeg_start_compress(enc, TRUE);
    if (work->captureCrop) work->cropBlocks.Attach(enc);
    return kOk;
}

void WriteCropRow(StampWork *work, const uint8_t *row) {
    auto sample = const_cast<JSAMPROW>(row);
    jpeg_write_scanlines(work->encoder.get(), &sample, 1);
}

void FinishCropEncoder(StampWork *work) {
    jpeg_finish_compress(work->encoder.get());
    // Taken blocks are placed through the encoder's memory manager.
    if (!work->captureCrop) work->encoder.Destroy();
}

int32_t EncodeCrop(StampWork *work, const PixelArea &area) {
    const PixelBox &crop = work->crop;
    if (crop.x < area.box.x || crop.y < area.box.y ||
        crop.x + crop.width > area.box.x + area.box.width ||
        crop.y + crop.height > area.box.y + area.box.height)
        return Refuse(work->errorText, kLibraryFailed, "Painted pixels do not cover the stamp");
    if (const int32_t started = StartCropEncoder(work); started != kOk) return started;
    const size_t stride = static_cast<size_t>(area.box.width) * 4;
    for (JDIMENSION line = 0; line < crop.height; ++line) {
        // Area row r from the top is memory row height - 1 - r.
        const size_t r = crop.y - area.box.y + line;
        WriteCropRow(work,
                     area.pixels + (area.box.height - 1 - r) * stride + (crop.x - area.box.x) * 4);
    }
    FinishCropEncoder(work);
    return kOk;
}

int32_t ReadNewBlocks(StampWork *work, jvirt_barray_ptr *sourceCoefficients) {
    j_decompress_ptr src = work->source.get();
    work->reread.Create(work->errorText);
    j_decompress_ptr rr = work->reread.get();
    AttachMemorySource(rr, &work->encodedInput, work->encoded.data(), work->encodedOutput.written);
    jpeg_read_header(rr, TRUE);
    jvirt_barray_ptr *newCoefficients = jpeg_read_coefficients(rr);
    work->encoded.Reset();
    AttachMemorySource(rr, &work->encodedInput, nullptr, 0);

    for (int c = 0; c < src->num_components; ++c) {
        const TouchedBlocks &t = work->touched[c];
        const jpeg_component_info &fresh = rr->comp_info[c];
        if (!LieInCrop(t, PaddedWidthInBlocks(fresh), PaddedHeightInBlocks(fresh)))
            return Refuse(work->errorText, kLibraryFailed,
                          "Encoded stamp does not fit the picture");
        // Through the re-reader's own manager, so a failure comes back
        // wherever the re-reader runs.
        CopyBlockArea(reinterpret_cast<j_common_ptr>(rr), newCoefficients[c],
                      t.firstRow - t.cropRow, t.firstColumn - t.cropColumn, sourceCoefficients[c],
                      t.firstRow, t.firstColumn, t.lastRow - t.firstRow + 1,
                      t.lastColumn - t.firstColumn + 1);
    }
    jpeg_finish_decompress(rr);
    work->reread.Destroy();
    return kOk;
}

int32_t PlaceCropBlocks(StampWork *work, jvirt_barray_ptr *sourceCoefficients) {
    j_compress_ptr enc = work->encoder.get();
    const CropBlocks &taken = work->cropBlocks;
    if (!taken.Complete())
        return Refuse(work->errorText, kLibraryFailed, "Encoded stamp does not fit the picture");
    for (int c = 0; c < work->source.get()->num_components; ++c) {
        const TouchedBlocks &t = work->touched[c];
        if (!LieInCrop(t, taken.Width(c), taken.Height(c)))
            return Refuse(work->errorText, kLibraryFailed,
                          "Encoded stamp does not fit the picture");
        const JDIMENSION columns = t.lastColumn - t.firstColumn + 1;
        for (JDIMENSION row = t.firstRow; row <= t.lastRow; ++row) {
            JBLOCKARRAY target = (*enc->mem->access_virt_barray)(
                reinterpret_cast<j_common_ptr>(enc), sourceCoefficients[c], row, 1, TRUE);
            std::memcpy(target[0] + t.firstColumn,
                        &taken.At(c, row - t.cropRow, t.firstColumn - t.cropColumn),
                        columns * sizeof(JBLOCK));
        }
    }
    work->encoder.Destroy();
    work->cropBlocks.Release();
    work->encoded.Reset();
    return kOk;
}

int32_t StartDestination(StampWork *work, jvirt_barray_ptr *sourceCoefficients, char *errorText,
                         CrcWhileWriting::Gate gate) {
    j_decompress_ptr src = work->source.get();
    if (!work->output.Open(work->destinationPath)) {
        SetErrorText(errorText, "can't create %s", work->destinationPath);
        return kCannotOpen;
    }
    work->destination.Create(errorText);
    j_compress_ptr dst = work->destination.get();
    jpeg_copy_critical_parameters(src, dst);
    AttachStreamDestination(dst, &work->outputStream, &work->output);
    jpeg_write_coefficients(dst, sourceCoefficients);
    CopySavedSegments(src, dst, work->dropEarlierMarker);

    if (work->keepUndo) {
        uint8_t *header = work->marker.data();
        WriteLe32(header + kFieldTotalLength, static_cast<uint32_t>(work->markerLength));
        WriteLe32(header + kFieldRectLeft, static_cast<uint32_t>(work->rect.left));
        WriteLe32(header + kFieldRectLowRow, static_cast<uint32_t>(work->rect.lowRow));
        WriteLe32(header + kFieldRectRight, static_cast<uint32_t>(work->rect.right));
        WriteLe32(header + kFieldRectHighRow, static_cast<uint32_t>(work->rect.highRow));
        // The image CRC is known once the encoder has read every block; the
        // segments are written with a placeholder and mended after the scan.
        WriteLe32(header + kFieldImageCrc, 0);
        work->markerOffset = BytesWritten(work->outputStream);
        work->markerTailCrc = WriteReverseMarker(header, work->markerLength, dst);
    }
    if (work->keepUndo || gate)
        work->imageCrc.Attach(dst, src, sourceCoefficients, work->keepUndo, gate);
    return kOk;
}

int32_t FinishDestination(StampWork *work, char *errorText) {
    jpeg_finish_compress(work->destination.get());
    work->destination.Destroy();
    if (work->keepUndo &&
        !PatchReverseMarkerCrcs(work->output.stream(), work->markerOffset, work->markerLength,
                                work->imageCrc.Result(), work->markerTailCrc)) {
        SetErrorText(errorText, "can't write %s", work->destinationPath);
        return kLibraryFailed;
    }
    return kOk;
}

int32_t WriteDestination(StampWork *work, jvirt_barray_ptr *sourceCoefficients) {
    if (const int32_t read = ReadNewBlocks(work, sourceCoefficients); read != kOk) return read;
    if (const int32_t started =
            StartDestination(work, sourceCoefficients, work->errorText, CrcWhileWriting::Gate{});
        started != kOk)
        return started;
    if (const int32_t finished = FinishDestination(work, work->errorText); finished != kOk)
        return finished;
    jpeg_finish_decompress(work->source.get());
    return kOk;
}

int32_t CommitDestination(StampWork *work) {
    return CommitOutput(work->output, work->destinationPath, work->errorText, {});
}

}  // namespace mk::engine
