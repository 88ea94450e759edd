// The image CRC of a stamped picture computed while the destination's
// encoder reads the coefficients: each block row is folded in just after
// the encoder has read it, while it is still in the cache, instead of in a
// pass of its own over all of memory. The same hook can hold the encoder
// back until rows are final (the stamp's blocks made on another thread).
#pragma once

#include <cstdint>

#include "engine/jpeg_support.h"

namespace mk::engine {

class CrcWhileWriting {
  public:
    // Called before the encoder gets the rows of `component` below
    // `endRow`; returns once they may be read. A plain function and its
    // context, so that the gate can be handed on where a library failure
    // may jump over it: it has no destructor to skip.
    struct Gate {
        void (*wait)(void *context, int component, JDIMENSION endRow) noexcept;
        void *context;
        explicit operator bool() const { return wait != nullptr; }
    };

    // Hooks into the encoder's access to `arrays`, the coefficient arrays
    // given to jpeg_write_coefficients(encoder, ...), laid out as the
    // components of `source`: folds the CRC when `crc` is set, and asks the
    // gate, when there is one, before handing rows out. Uses the encoder's
    // client_data.
    void Attach(j_compress_ptr encoder, j_decompress_ptr source, jvirt_barray_ptr *arrays,
                bool crc = true, Gate gate = {});

    // After jpeg_finish_compress: CoefficientCrc of the arrays. Should the
    // encoder have skipped a row or read rows out of order, the CRC is
    // computed from the arrays instead. May raise a library error.
    uint32_t Result();

  private:
    struct Part {
        uint32_t crc = 0;
        JDIMENSION nextRow = 0;
        bool inOrder = true;
        // The rows handed out last, folded in at the next request: by then
        // the encoder has read them into the cache.
        JBLOCKARRAY pending = nullptr;
        JDIMENSION pendingStart = 0, pendingRows = 0;
    };
    static JBLOCKARRAY Access(j_common_ptr info, jvirt_barray_ptr array, JDIMENSION startRow,
                              JDIMENSION rows, boolean writable);
    void Fold(int component, JBLOCKARRAY blocks, JDIMENSION startRow, JDIMENSION rows);
    void FoldPending(int component);

    j_decompress_ptr source_ = nullptr;
    bool crc_ = true;
    Gate gate_{};
    jvirt_barray_ptr *arrays_ = nullptr;
    decltype(jpeg_memory_mgr::access_virt_barray) access_ = nullptr;
    Part parts_[MAX_COMPONENTS];
};

}  // namespace mk::engine
