// The image CRC folded in block row by block row as the encoder asks its
// memory manager for the next rows, then combined over the components.
#include "engine/crc_while_writing.h"

#include <algorithm>

#include "engine/engine.h"
#include "engine/reverse_marker.h"

namespace mk::engine {

void CrcWhileWriting::Attach(j_compress_ptr encoder, j_decompress_ptr source,
                             jvirt_barray_ptr *arrays, bool crc, Gate gate) {
    source_ = source;
    crc_ = crc;
    gate_ = gate;
    arrays_ = arrays;
    for (Part &part : parts_) part = Part{};
    access_ = encoder->mem->access_virt_barray;
    encoder->client_data = this;
    encoder->mem->access_virt_barray = Access;
}

JBLOCKARRAY CrcWhileWriting::Access(j_common_ptr info, jvirt_barray_ptr array, JDIMENSION startRow,
                                    JDIMENSION rows, boolean writable) {
    auto *self = static_cast<CrcWhileWriting *>(info->client_data);
    int component = -1;
    for (int c = 0; c < self->source_->num_components && component < 0; ++c)
        if (self->arrays_[c] == array) component = c;
    if (component >= 0 && self->gate_)
        self->gate_.wait(self->gate_.context, component, startRow + rows);
    JBLOCKARRAY blocks = (*self->access_)(info, array, startRow, rows, writable);
    if (component >= 0 && self->crc_) {
        self->FoldPending(component);
        Part &part = self->parts_[component];
        part.pending = blocks;
        part.pendingStart = startRow;
        part.pendingRows = rows;
    }
    return blocks;
}

void CrcWhileWriting::FoldPending(int component) {
    Part &part = parts_[component];
    if (part.pending == nullptr) return;
    Fold(component, part.pending, part.pendingStart, part.pendingRows);
    part.pending = nullptr;
}

void CrcWhileWriting::Fold(int component, JBLOCKARRAY blocks, JDIMENSION startRow,
                           JDIMENSION rows) {
    Part &part = parts_[component];
    const jpeg_component_info &info = source_->comp_info[component];
    // Rows seen before (a later pass over the same scan) add nothing.
    if (!part.inOrder || startRow + rows <= part.nextRow) return;
    if (startRow > part.nextRow) {
        part.inOrder = false;
        return;
    }
    const JDIMENSION end = std::min(startRow + rows, info.height_in_blocks);
    for (JDIMENSION row = part.nextRow; row < end; ++row)
        part.crc = CrcBlockRow(part.crc, blocks[row - startRow], info.width_in_blocks);
    part.nextRow = std::max(part.nextRow, end);
}

uint32_t CrcWhileWriting::Result() {
    for (int c = 0; c < source_->num_components; ++c) FoldPending(c);
    bool whole = true;
    for (int c = 0; c < source_->num_components; ++c)
        whole = whole && parts_[c].inOrder &&
                parts_[c].nextRow == source_->comp_info[c].height_in_blocks;
    if (!whole) return CoefficientCrc(source_, arrays_);
    uint32_t crc = parts_[0].crc;
    for (int c = 1; c < source_->num_components; ++c) {
        const jpeg_component_info &info = source_->comp_info[c];
        const uint64_t length =
            uint64_t{info.width_in_blocks} * info.height_in_blocks * (DCTSIZE2 * 2);
        crc = Crc32Combine(crc, parts_[c].crc, length);
    }
    return crc;
}

}  // namespace mk::engine
