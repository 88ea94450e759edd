// Coefficient arrays in memory of our own, with the library's semantics:
// rows become defined as they are first written, a pre-zeroed array reads
// zeroes where nothing was written yet, and any access outside the array is
// a library error.
#include "engine/block_arrays.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <utility>

#include <jerror.h>

namespace mk::engine {

// Marks the arrays of this kind; the library's own begin with a pointer,
// which can never hold this value.
constexpr uint64_t kArrayCookie = 0x4d4b'424c'4f43'4b53;

struct BlockArray {
    uint64_t cookie = kArrayCookie;
    JBLOCKARRAY rows = nullptr;  // null until realised
    JDIMENSION rowCount = 0;
    JDIMENSION blocksPerRow = 0;
    JDIMENSION maxAccess = 0;
    JDIMENSION firstUndefinedRow = 0;
    bool preZero = false;
    // The memory is known to hold zeroes where no row was defined yet.
    bool zeroed = false;
    std::vector<JBLOCKROW> rowPointers;
};

namespace {

// Smaller buffers are not worth keeping for the next picture.
constexpr size_t kKeepFrom = size_t{1} << 20;
constexpr size_t kAlign = 64;

// An array's share of its buffer: its rows, rounded up to the alignment.
uint64_t BufferBytes(const BlockArray &array) {
    const uint64_t bytes = uint64_t{array.rowCount} * array.blocksPerRow * sizeof(JBLOCK);
    return (bytes + kAlign - 1) / kAlign * kAlign;
}

}  // namespace

platform::Pages CoefficientMemory::Take(size_t bytes, bool *zeroed) noexcept {
    // A picture larger than all before it gets memory new from the system;
    // the largest buffer kept goes, so a batch of mixed sizes does not pile
    // up a buffer for every size it has met.
    if (std::optional<platform::Pages> kept = free_.Take(bytes, true)) {
        *zeroed = false;
        return std::move(*kept);
    }
    *zeroed = true;
    return platform::Pages::Zeroed(bytes);
}

void CoefficientMemory::Give(platform::Pages pages) noexcept {
    if (pages.size() >= kKeepFrom) free_.Give(std::move(pages));
}

ArrayStore::ArrayStore() = default;
ArrayStore::~ArrayStore() { Release(); }

void ArrayStore::Install(j_decompress_ptr info) {
    info->client_data = this;
    libraryRealize_ = info->mem->realize_virt_arrays;
    info->mem->request_virt_barray = RequestMethod;
    info->mem->realize_virt_arrays = RealizeMethod;
    info->mem->access_virt_barray = AccessMethod;
}

void ArrayStore::InstallAccess(j_common_ptr info) { info->mem->access_virt_barray = AccessMethod; }

void ArrayStore::Release() noexcept {
    arrays_.clear();
    for (platform::Pages &pages : pages_) {
        if (memory_ != nullptr) memory_->Give(std::move(pages));
    }
    pages_.clear();
}

BlockArray *ArrayStore::Add(bool preZero, JDIMENSION blocksPerRow, JDIMENSION rows,
                            JDIMENSION maxAccess) noexcept {
    try {
        auto array = std::make_unique<BlockArray>();
        array->preZero = preZero;
        array->blocksPerRow = blocksPerRow;
        array->rowCount = rows;
        array->maxAccess = maxAccess;
        arrays_.push_back(std::move(array));
        return arrays_.back().get();
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

jvirt_barray_ptr ArrayStore::Request(j_common_ptr info, bool preZero, JDIMENSION blocksPerRow,
                                     JDIMENSION rows, JDIMENSION maxAccess) {
    BlockArray *array = Add(preZero, blocksPerRow, rows, maxAccess);
    if (array == nullptr) ERREXIT1(info, JERR_OUT_OF_MEMORY, 9);
    return reinterpret_cast<jvirt_barray_ptr>(array);
}

void ArrayStore::Realize(j_common_ptr info) {
    const long limit = info->mem->max_memory_to_use;
    const Outcome outcome =
        RealizePending(limit > 0 ? static_cast<size_t>(limit) : std::numeric_limits<size_t>::max());
    // As the library without a backing store says when the limit is
    // reached.
    if (outcome == Outcome::kOverLimit) ERREXIT(info, JERR_NO_BACKING_STORE);
    if (outcome == Outcome::kNoMemory) ERREXIT1(info, JERR_OUT_OF_MEMORY, 10);
}

ArrayStore::Outcome ArrayStore::RealizePending(size_t limit) noexcept {
    // All arrays not yet realised share one buffer.
    size_t total = 0;
    for (const auto &array : arrays_) {
        if (array->rows != nullptr) continue;
        const uint64_t bytes = BufferBytes(*array);
        if (bytes > limit || total > limit - bytes) return Outcome::kOverLimit;
        total += static_cast<size_t>(bytes);
    }
    if (total == 0) total = kAlign;
    bool zeroed = true;
    platform::Pages pages =
        memory_ != nullptr ? memory_->Take(total, &zeroed) : platform::Pages::Zeroed(total);
    if (!pages) return Outcome::kNoMemory;
    try {
        pages_.reserve(pages_.size() + 1);
        auto *at = static_cast<uint8_t *>(pages.data());
        for (const auto &array : arrays_) {
            if (array->rows != nullptr) continue;
            const size_t rowBytes = size_t{array->blocksPerRow} * sizeof(JBLOCK);
            array->rowPointers.resize(std::max<JDIMENSION>(array->rowCount, 1));
            for (JDIMENSION r = 0; r < array->rowCount; ++r)
                array->rowPointers[r] = reinterpret_cast<JBLOCKROW>(at + r * rowBytes);
            array->zeroed = zeroed;
            at += BufferBytes(*array);
        }
    } catch (const std::bad_alloc &) {
        return Outcome::kNoMemory;
    }
    // Only now, with every row pointer in place, are the arrays usable.
    for (const auto &array : arrays_)
        if (array->rows == nullptr) array->rows = array->rowPointers.data();
    pages_.push_back(std::move(pages));
    return Outcome::kOk;
}

jvirt_barray_ptr ArrayStore::RequestMethod(j_common_ptr info, int pool, boolean preZero,
                                           JDIMENSION blocksPerRow, JDIMENSION rows,
                                           JDIMENSION maxAccess) {
    if (pool != JPOOL_IMAGE) ERREXIT1(info, JERR_BAD_POOL_ID, pool);
    return static_cast<ArrayStore *>(info->client_data)
        ->Request(info, preZero != FALSE, blocksPerRow, rows, maxAccess);
}

void ArrayStore::RealizeMethod(j_common_ptr info) {
    auto *store = static_cast<ArrayStore *>(info->client_data);
    // The library's own arrays (of pixel rows), if it asked for any.
    (*store->libraryRealize_)(info);
    store->Realize(info);
}

JBLOCKARRAY ArrayStore::AccessMethod(j_common_ptr info, jvirt_barray_ptr handle,
                                     JDIMENSION startRow, JDIMENSION rows, boolean writable) {
    auto *array = reinterpret_cast<BlockArray *>(handle);
    const JDIMENSION endRow = startRow + rows;
    if (array == nullptr || array->cookie != kArrayCookie || array->rows == nullptr ||
        endRow < startRow || endRow > array->rowCount || rows > array->maxAccess)
        ERREXIT(info, JERR_BAD_VIRTUAL_ACCESS);
    if (array->firstUndefinedRow < endRow) {
        JDIMENSION undefined = array->firstUndefinedRow;
        if (undefined < startRow) {
            // A writer may not skip rows; a reader may look ahead.
            if (writable) ERREXIT(info, JERR_BAD_VIRTUAL_ACCESS);
            undefined = startRow;
        }
        if (array->preZero) {
            if (!array->zeroed) {
                const size_t rowBytes = size_t{array->blocksPerRow} * sizeof(JBLOCK);
                for (JDIMENSION r = undefined; r < endRow; ++r)
                    std::memset(array->rows[r], 0, rowBytes);
            }
        } else if (!writable) {
            ERREXIT(info, JERR_BAD_VIRTUAL_ACCESS);
        }
        if (writable) array->firstUndefinedRow = endRow;
    }
    return array->rows + startRow;
}

}  // namespace mk::engine
