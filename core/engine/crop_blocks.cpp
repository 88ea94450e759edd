// Taking the crop's blocks from the encoder's entropy-coding step.
#include "engine/crop_blocks.h"

// The entropy coder's interface; libjpeg installs this header for programs
// that work with coefficients.
#include <jpegint.h>

#include <algorithm>
#include <cstring>

namespace mk::engine {

void CropBlocks::Attach(j_compress_ptr encoder) {
    mcu_ = 0;
    fits_ = true;
    for (Part &part : parts_) part = Part{};
    for (int c = 0; c < encoder->num_components; ++c) {
        const jpeg_component_info &component = encoder->comp_info[c];
        Part &part = parts_[component.component_index];
        part.width = PaddedWidthInBlocks(component);
        part.height = PaddedHeightInBlocks(component);
        part.blocks.assign(static_cast<size_t>(part.width) * part.height, Block{});
    }
    encoder->client_data = this;
    encoder->entropy->encode_mcu = TakeMcu;
    encoder->entropy->finish_pass = FinishPass;
}

// One MCU of the single scan: per component of the scan, MCU_height rows
// of MCU_width blocks (one block in a scan of one component).
boolean CropBlocks::TakeMcu(j_compress_ptr encoder, JBLOCKROW *blocks) {
    auto *self = static_cast<CropBlocks *>(encoder->client_data);
    const JDIMENSION perRow = std::max<JDIMENSION>(encoder->MCUs_per_row, 1);
    const JDIMENSION mcuRow = self->mcu_ / perRow;
    const JDIMENSION mcuColumn = self->mcu_ % perRow;
    ++self->mcu_;
    int n = 0;
    for (int ci = 0; ci < encoder->comps_in_scan; ++ci) {
        const jpeg_component_info *component = encoder->cur_comp_info[ci];
        Part &part = self->parts_[component->component_index];
        for (int y = 0; y < component->MCU_height; ++y)
            for (int x = 0; x < component->MCU_width; ++x, ++n) {
                const JDIMENSION row = mcuRow * component->MCU_height + y;
                const JDIMENSION column = mcuColumn * component->MCU_width + x;
                if (row >= part.height || column >= part.width) {
                    self->fits_ = false;
                    continue;
                }
                std::memcpy(
                    part.blocks[static_cast<size_t>(row) * part.width + column].coefficients,
                    blocks[n], sizeof(JBLOCK));
            }
    }
    return TRUE;
}

// Nothing was coded, so there are no bits to flush.
void CropBlocks::FinishPass(j_compress_ptr) {}

}  // namespace mk::engine
