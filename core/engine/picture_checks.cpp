// The checks on a picture before a stamp or an undo writes anything.
#include "engine/picture_checks.h"

#include <algorithm>
#include <cstring>

#include "engine/engine.h"

namespace mk::engine {
namespace {

// The library's limits for one interleaved scan, the only kind the
// engine's encoders write.
constexpr int kMaxBlocksInMcu = 10;
constexpr int kMaxComponentsInScan = 4;
// The encoder keeps eight times the step in 16 bits.
constexpr unsigned kLargestStep = 8191;
// What an 8-bit Huffman coder takes (see the header).
constexpr JCOEF kLowestDc = -1024, kHighestDc = 1023;
constexpr JCOEF kLargestAc = 1023;

int BlocksInMcu(j_decompress_ptr info) {
    int blocks = 0;
    for (int c = 0; c < info->num_components; ++c)
        blocks += info->comp_info[c].h_samp_factor * info->comp_info[c].v_samp_factor;
    return blocks;
}

int32_t CheckMcuSize(j_decompress_ptr info, char *errorText) {
    const int blocks = BlocksInMcu(info);
    if (blocks <= kMaxBlocksInMcu) return kOk;
    SetErrorText(errorText, "sampling factors need %d blocks per MCU", blocks);
    return kUnsupported;
}

int32_t CheckColourSpace(j_decompress_ptr info, char *errorText) {
    const int count = info->num_components;
    switch (info->jpeg_color_space) {
        case JCS_GRAYSCALE:
            if (count == 1) return kOk;
            break;
        case JCS_YCbCr:
        case JCS_RGB:
            if (count == 3) return kOk;
            break;
        case JCS_CMYK:
            SetErrorText(errorText, "CMYK pictures are not supported");
            return kUnsupported;
        case JCS_YCCK:
            SetErrorText(errorText, "YCCK pictures are not supported");
            return kUnsupported;
        default:
            break;
    }
    SetErrorText(errorText, "pictures of %d components are not supported", count);
    return kUnsupported;
}

int32_t CheckSteps(const JQUANT_TBL *table, int slot, char *errorText) {
    if (table == nullptr) {
        SetErrorText(errorText, "quantization table %d is not defined", slot);
        return kUnsupported;
    }
    const UINT16 *steps = table->quantval;
    if (std::find(steps, steps + DCTSIZE2, 0) != steps + DCTSIZE2) {
        SetErrorText(errorText, "quantization table %d holds a zero value", slot);
        return kUnsupported;
    }
    if (*std::max_element(steps, steps + DCTSIZE2) > kLargestStep) {
        SetErrorText(errorText, "quantization table %d holds a value above %u", slot, kLargestStep);
        return kUnsupported;
    }
    return kOk;
}

// The first coefficient of a row of blocks outside the coding range, or
// null. Most rows are decided by their extremes alone, which the compiler
// finds with vector instructions.
const JCOEF *FirstUncodable(const JBLOCK *blocks, JDIMENSION count) {
    const JCOEF *values = blocks[0];
    const size_t n = size_t{count} * DCTSIZE2;
    JCOEF lowest = 0, highest = 0;
    for (size_t i = 0; i < n; ++i) {
        lowest = std::min(lowest, values[i]);
        highest = std::max(highest, values[i]);
    }
    if (lowest >= -kLargestAc && highest <= kLargestAc) return nullptr;
    for (JDIMENSION b = 0; b < count; ++b) {
        const JCOEF *block = blocks[b];
        if (block[0] < kLowestDc || block[0] > kHighestDc) return block;
        for (int k = 1; k < DCTSIZE2; ++k)
            if (block[k] < -kLargestAc || block[k] > kLargestAc) return block + k;
    }
    return nullptr;
}

}  // namespace

int32_t CheckStampable(j_decompress_ptr picture, char *errorText) {
    if (const int32_t colour = CheckColourSpace(picture, errorText); colour != kOk) return colour;
    if (const int32_t mcu = CheckMcuSize(picture, errorText); mcu != kOk) return mcu;
    for (int c = 0; c < picture->num_components; ++c) {
        const jpeg_component_info &component = picture->comp_info[c];
        if (picture->max_h_samp_factor % component.h_samp_factor != 0 ||
            picture->max_v_samp_factor % component.v_samp_factor != 0) {
            SetErrorText(errorText, "Unsupported sampling factors");
            return kUnsupported;
        }
    }
    for (int c = 0; c < picture->num_components; ++c) {
        const jpeg_component_info &component = picture->comp_info[c];
        const int slot = component.quant_tbl_no;
        const JQUANT_TBL *table =
            slot >= 0 && slot < NUM_QUANT_TBLS ? picture->quant_tbl_ptrs[slot] : nullptr;
        if (const int32_t steps = CheckSteps(table, slot, errorText); steps != kOk) return steps;
        // The table a component's blocks were quantised with is latched at
        // its first scan. A component that had no scan has none, and its
        // blocks were never written: the stamp could not put new ones in.
        if (component.quant_table == nullptr) {
            SetErrorText(errorText, "component %d has no scan", c);
            return kUnsupported;
        }
        if (std::memcmp(component.quant_table->quantval, table->quantval, sizeof table->quantval) !=
            0) {
            SetErrorText(errorText, "quantization table %d changes between scans", slot);
            return kUnsupported;
        }
    }
    return kOk;
}

int32_t CheckEncoderTables(j_compress_ptr encoder, char *errorText) {
    for (int c = 0; c < encoder->num_components; ++c) {
        const int slot = encoder->comp_info[c].quant_tbl_no;
        const JQUANT_TBL *table =
            slot >= 0 && slot < NUM_QUANT_TBLS ? encoder->quant_tbl_ptrs[slot] : nullptr;
        if (const int32_t steps = CheckSteps(table, slot, errorText); steps != kOk) return steps;
    }
    return kOk;
}

int32_t CheckTranscodable(j_decompress_ptr picture, jvirt_barray_ptr *coefficients,
                          char *errorText) {
    if (picture->num_components > kMaxComponentsInScan) {
        SetErrorText(errorText, "pictures of %d components are not supported",
                     picture->num_components);
        return kUnsupported;
    }
    if (const int32_t mcu = CheckMcuSize(picture, errorText); mcu != kOk) return mcu;
    const auto common = reinterpret_cast<j_common_ptr>(picture);
    for (int c = 0; c < picture->num_components; ++c) {
        const jpeg_component_info &component = picture->comp_info[c];
        for (JDIMENSION row = 0; row < component.height_in_blocks; ++row) {
            const JBLOCKARRAY blocks =
                (*picture->mem->access_virt_barray)(common, coefficients[c], row, 1, FALSE);
            if (const JCOEF *value = FirstUncodable(blocks[0], component.width_in_blocks)) {
                SetErrorText(errorText,
                             "component %d holds a coefficient the encoder cannot code: %d", c,
                             *value);
                return kUnsupported;
            }
        }
    }
    return kOk;
}

}  // namespace mk::engine
