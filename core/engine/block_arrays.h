// The coefficient arrays of the engine's libjpeg objects, kept in memory of
// our own instead of the library's pools. The library allocates each
// picture's arrays afresh and the system then faults in and zeroes every
// page on first touch, which costs as much as the entropy decoding of the
// picture; here a batch hands the memory of one picture to the next
// (`CoefficientMemory`), a single picture gets huge pages, and rows are
// zeroed only where the decoder needs them zeroed.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <vector>

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

#include "platform/buffer_pool.h"
#include "platform/pages.h"

namespace mk::engine {

// Memory handed back by the arrays of finished pictures, for the next
// picture of a batch; shared by the batch's workers.
class CoefficientMemory {
  public:
    // `keep`: buffers held at most (one per worker is enough).
    explicit CoefficientMemory(size_t keep = 4) : free_(keep) {}

    // At least `bytes`; `*zeroed` tells whether it is known to hold zeroes
    // (memory new from the system) or what an earlier picture left. When
    // no buffer kept is large enough, the largest kept goes back to the
    // system.
    platform::Pages Take(size_t bytes, bool *zeroed) noexcept;
    void Give(platform::Pages pages) noexcept;

  private:
    static size_t SizeOf(const platform::Pages &pages) { return pages.size(); }
    platform::BufferPool<platform::Pages, SizeOf> free_;
};

struct BlockArray;

// The arrays of one libjpeg object. Install() makes a decoder request its
// coefficient arrays here; an encoder gets arrays from RequestBlocks and
// RealizeBlocks. Every owner installs the same access method, which only
// knows arrays of this kind: arrays are handed between objects (the source's
// to the writer, the saver's workspace filled from the source), and each is
// then read through whichever object holds it.
class ArrayStore {
  public:
    ArrayStore();
    ~ArrayStore();
    ArrayStore(const ArrayStore &) = delete;
    ArrayStore &operator=(const ArrayStore &) = delete;

    // Where the memory comes from and goes back to; null: from the system.
    void UseMemory(CoefficientMemory *memory) { memory_ = memory; }

    // On a created decoder: its block arrays come from this store, its
    // client_data points at it.
    void Install(j_decompress_ptr info);
    // On a created encoder: it reads and writes arrays of this kind.
    static void InstallAccess(j_common_ptr info);

    // Gives all memory back; the arrays are gone.
    void Release() noexcept;

    // What the library's methods do, raising library errors through info.
    jvirt_barray_ptr Request(j_common_ptr info, bool preZero, JDIMENSION blocksPerRow,
                             JDIMENSION rows, JDIMENSION maxAccess);
    void Realize(j_common_ptr info);

  private:
    enum class Outcome { kOk, kNoMemory, kOverLimit };
    BlockArray *Add(bool preZero, JDIMENSION blocksPerRow, JDIMENSION rows,
                    JDIMENSION maxAccess) noexcept;
    Outcome RealizePending(size_t limit) noexcept;

    static jvirt_barray_ptr RequestMethod(j_common_ptr info, int pool, boolean preZero,
                                          JDIMENSION blocksPerRow, JDIMENSION rows,
                                          JDIMENSION maxAccess);
    static void RealizeMethod(j_common_ptr info);
    static JBLOCKARRAY AccessMethod(j_common_ptr info, jvirt_barray_ptr array, JDIMENSION startRow,
                                    JDIMENSION rows, boolean writable);

    CoefficientMemory *memory_ = nullptr;
    std::vector<std::unique_ptr<BlockArray>> arrays_;
    std::vector<platform::Pages> pages_;
    void (*libraryRealize_)(j_common_ptr) = nullptr;
};

}  // namespace mk::engine
