// The crop's quantised blocks taken from its encoder as they are handed to
// entropy coding. A stamp needs only those blocks, so the region stamp
// skips coding the crop and reading it back; the blocks are the ones a
// decoder of the coded crop would give, the padding blocks at its edges
// included.
#pragma once

#include <vector>

#include "engine/jpeg_support.h"

namespace mk::engine {

class CropBlocks {
  public:
    // Sizes the block grids from the encoder's components and takes over
    // its entropy coder. Call after jpeg_start_compress, before the first
    // row. Uses the encoder's client_data. May throw std::bad_alloc.
    void Attach(j_compress_ptr encoder);

    // Component c's grid, in blocks: the padded size a decoder of the coded
    // crop allocates (what no MCU covers stays zero, as there).
    JDIMENSION Width(int c) const { return parts_[c].width; }
    JDIMENSION Height(int c) const { return parts_[c].height; }
    const JBLOCK &At(int c, JDIMENSION row, JDIMENSION column) const {
        return parts_[c].blocks[static_cast<size_t>(row) * parts_[c].width + column].coefficients;
    }

    // False when the encoder handed out an MCU outside the grid.
    bool Complete() const { return fits_; }

    void Release() {
        for (Part &part : parts_) part = Part{};
    }

  private:
    struct Block {
        JBLOCK coefficients;
    };
    struct Part {
        JDIMENSION width = 0, height = 0;
        std::vector<Block> blocks;
    };
    static boolean TakeMcu(j_compress_ptr encoder, JBLOCKROW *blocks);
    static void FinishPass(j_compress_ptr encoder);

    Part parts_[MAX_COMPONENTS];
    JDIMENSION mcu_ = 0;
    bool fits_ = true;
};

}  // namespace mk::engine
