// Decoding a part of a picture straight from its coefficient arrays. The
// decoder reads a header that describes the part as a JPEG of its own (the
// picture's components, sampling and quantisation tables, one scan), and
// its entropy decoder is then replaced by one that hands it the picture's
// blocks. The pixels are those of a decoder of the part coded and read
// back, without the coding.
#pragma once

#include "engine/jpeg_support.h"

// The entropy decoder's interface; libjpeg installs this header for programs
// that work with coefficients.
#include <jpegint.h>

namespace mk::engine {

// The header of a JPEG of width x height pixels with the components,
// sampling and latched quantisation tables of `source`, up to its first
// scan. False when the picture cannot be described by one scan.
bool WritePartHeader(j_decompress_ptr source, JDIMENSION width, JDIMENSION height,
                     ByteBuffer *header);

class BlockFeed {
  public:
    // After jpeg_start_decompress on a decoder of a header from
    // WritePartHeader: from now on the decoder's block (r, c) of component
    // i is block (firstRow[i] + r, firstColumn[i] + c) of arrays[i], read
    // through the decoder's access method. Blocks outside `rows[i]` x
    // `columns[i]` read as zeroes.
    void Attach(j_decompress_ptr decoder, jvirt_barray_ptr *arrays, const JDIMENSION *firstRow,
                const JDIMENSION *firstColumn, const JDIMENSION *rows, const JDIMENSION *columns);

  private:
    struct Part {
        jvirt_barray_ptr array = nullptr;
        JDIMENSION firstRow = 0, firstColumn = 0, rows = 0, columns = 0;
    };
    static boolean GiveMcu(j_decompress_ptr decoder, JBLOCKROW *blocks);
    static void StartPass(j_decompress_ptr decoder);

    // The decoder's entropy decoder while attached; the feed is found from
    // it.
    struct Decoder {
        jpeg_entropy_decoder pub;
        BlockFeed *owner;
    };
    Decoder decoder_{};
    Part parts_[MAX_COMPONENTS];
    JDIMENSION mcu_ = 0;
};

}  // namespace mk::engine
