// The part header and the entropy decoder that hands out blocks in memory.
#include "engine/block_feed.h"

#include <cstring>

namespace mk::engine {
namespace {

// JPEG allows at most this many components in one scan.
constexpr int kMaxComponentsInScan = 4;

void Put16(uint8_t *&at, unsigned value) {
    *at++ = static_cast<uint8_t>(value >> 8);
    *at++ = static_cast<uint8_t>(value & 0xFF);
}

void PutMarker(uint8_t *&at, uint8_t code) {
    *at++ = 0xFF;
    *at++ = code;
}

bool NeedsWideTable(const JQUANT_TBL &table) {
    for (const UINT16 value : table.quantval)
        if (value > 255) return true;
    return false;
}

}  // namespace

bool WritePartHeader(j_decompress_ptr source, JDIMENSION width, JDIMENSION height,
                     ByteBuffer *header) {
    const int count = source->num_components;
    if (count < 1 || count > kMaxComponentsInScan || width == 0 || height == 0 || width > 0xFFFF ||
        height > 0xFFFF)
        return false;
    // Each component gets a table slot of its own: its latched table is
    // what its blocks were quantised with, whatever slot it came from.
    size_t size = 2;
    bool wide[kMaxComponentsInScan] = {};
    for (int c = 0; c < count; ++c) {
        const JQUANT_TBL *table = source->comp_info[c].quant_table;
        if (table == nullptr) return false;
        wide[c] = NeedsWideTable(*table);
        size += 5 + (wide[c] ? 128 : 64);
    }
    size += 10 + 3 * static_cast<size_t>(count);
    size += 8 + 2 * static_cast<size_t>(count);
    if (!header->Resize(size)) return false;

    uint8_t *at = header->data();
    PutMarker(at, 0xD8);  // SOI
    for (int c = 0; c < count; ++c) {
        const JQUANT_TBL &table = *source->comp_info[c].quant_table;
        PutMarker(at, 0xDB);  // DQT
        Put16(at, 3 + (wide[c] ? 128 : 64));
        *at++ = static_cast<uint8_t>((wide[c] ? 0x10 : 0x00) | c);
        // The library keeps tables in natural order; the stream holds them
        // in zigzag order.
        for (int k = 0; k < DCTSIZE2; ++k) {
            const unsigned value = table.quantval[jpeg_natural_order[k]];
            if (wide[c]) {
                Put16(at, value);
            } else {
                *at++ = static_cast<uint8_t>(value);
            }
        }
    }
    // An extended sequential frame takes tables of 16-bit values as well.
    PutMarker(at, 0xC1);
    Put16(at, 8 + 3 * static_cast<unsigned>(count));
    *at++ = static_cast<uint8_t>(source->data_precision);
    Put16(at, height);
    Put16(at, width);
    *at++ = static_cast<uint8_t>(count);
    for (int c = 0; c < count; ++c) {
        const jpeg_component_info &component = source->comp_info[c];
        *at++ = static_cast<uint8_t>(component.component_id);
        *at++ = static_cast<uint8_t>((component.h_samp_factor << 4) | component.v_samp_factor);
        *at++ = static_cast<uint8_t>(c);
    }
    // One scan of every component. It names Huffman tables 0, which the
    // stream does not define: the library then takes the standard ones,
    // and nothing is ever decoded with them.
    PutMarker(at, 0xDA);
    Put16(at, 6 + 2 * static_cast<unsigned>(count));
    *at++ = static_cast<uint8_t>(count);
    for (int c = 0; c < count; ++c) {
        *at++ = static_cast<uint8_t>(source->comp_info[c].component_id);
        *at++ = 0x00;
    }
    *at++ = 0;   // first coefficient
    *at++ = 63;  // last coefficient
    *at++ = 0;   // no successive approximation
    return static_cast<size_t>(at - header->data()) == size;
}

void BlockFeed::Attach(j_decompress_ptr decoder, jvirt_barray_ptr *arrays,
                       const JDIMENSION *firstRow, const JDIMENSION *firstColumn,
                       const JDIMENSION *rows, const JDIMENSION *columns) {
    for (int c = 0; c < decoder->num_components && c < MAX_COMPONENTS; ++c)
        parts_[c] = Part{arrays[c], firstRow[c], firstColumn[c], rows[c], columns[c]};
    mcu_ = 0;
    decoder_.pub.start_pass = StartPass;
    decoder_.pub.decode_mcu = GiveMcu;
    decoder_.pub.insufficient_data = FALSE;
    decoder_.owner = this;
    decoder->entropy = &decoder_.pub;
}

// The decoder's only scan has started already; there is no other.
void BlockFeed::StartPass(j_decompress_ptr) {}

// One MCU of the single scan, MCUs in row order: per component of the scan,
// MCU_height rows of MCU_width blocks (one block when the scan has a single
// component). The blocks come zeroed.
boolean BlockFeed::GiveMcu(j_decompress_ptr decoder, JBLOCKROW *blocks) {
    BlockFeed *self = reinterpret_cast<Decoder *>(decoder->entropy)->owner;
    const JDIMENSION perRow = decoder->MCUs_per_row > 0 ? decoder->MCUs_per_row : 1;
    const JDIMENSION mcuRow = self->mcu_ / perRow;
    const JDIMENSION mcuColumn = self->mcu_ % perRow;
    ++self->mcu_;
    int n = 0;
    for (int ci = 0; ci < decoder->comps_in_scan; ++ci) {
        const jpeg_component_info *component = decoder->cur_comp_info[ci];
        const Part &part = self->parts_[component->component_index];
        for (int y = 0; y < component->MCU_height; ++y) {
            const JDIMENSION row = mcuRow * component->MCU_height + y;
            JBLOCKROW from = nullptr;
            if (row < part.rows)
                from = (*decoder->mem->access_virt_barray)(reinterpret_cast<j_common_ptr>(decoder),
                                                           part.array, part.firstRow + row, 1,
                                                           FALSE)[0];
            for (int x = 0; x < component->MCU_width; ++x, ++n) {
                const JDIMENSION column = mcuColumn * component->MCU_width + x;
                if (from != nullptr && column < part.columns)
                    std::memcpy(blocks[n], from[part.firstColumn + column], sizeof(JBLOCK));
            }
        }
    }
    return TRUE;
}

}  // namespace mk::engine
