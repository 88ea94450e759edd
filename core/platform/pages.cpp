// Zero-filled buffers: small ones from the heap, large ones mapped.
#include "platform/pages.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#endif

namespace mk::platform {
namespace {

// Below this a mapping of its own costs more than it saves.
constexpr size_t kMapFrom = size_t{1} << 20;
constexpr size_t kHugePage = size_t{2} << 20;

#ifndef _WIN32
// A mapping whose start is aligned to a huge page, so that the system can
// back all of it with huge pages: map one huge page more and give back the
// ends.
void *MapAligned(size_t bytes) noexcept {
    const size_t length = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    void *raw = mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    const auto start = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t aligned = (start + kHugePage - 1) / kHugePage * kHugePage;
    if (aligned > start) munmap(raw, aligned - start);
    const uintptr_t end = start + length + kHugePage;
    if (end > aligned + length)
        munmap(reinterpret_cast<void *>(aligned + length), end - (aligned + length));
    void *data = reinterpret_cast<void *>(aligned);
#ifdef MADV_HUGEPAGE
    // Only advice: without huge pages the mapping works the same.
    madvise(data, length, MADV_HUGEPAGE);
#endif
    return data;
}
#endif

}  // namespace

Pages Pages::Zeroed(size_t bytes) noexcept {
    Pages pages;
    if (bytes == 0) return pages;
    if (bytes < kMapFrom) {
        // Aligned to a cache line, as the mapped ones are.
        void *data = std::aligned_alloc(64, (bytes + 63) / 64 * 64);
        if (data == nullptr) return pages;
        std::memset(data, 0, bytes);
        pages.data_ = data;
        pages.size_ = bytes;
        return pages;
    }
#ifdef _WIN32
    void *data = VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
#else
    if (bytes > SIZE_MAX - 2 * kHugePage) return pages;
    void *data = MapAligned(bytes);
#endif
    if (data == nullptr) return pages;
    pages.data_ = data;
    pages.size_ = bytes;
    pages.mapped_ = true;
    return pages;
}

Pages::Pages(Pages &&other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      mapped_(std::exchange(other.mapped_, false)) {}

Pages &Pages::operator=(Pages &&other) noexcept {
    if (this != &other) {
        Release();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        mapped_ = std::exchange(other.mapped_, false);
    }
    return *this;
}

void Pages::Release() noexcept {
    if (data_ == nullptr) return;
    if (!mapped_) {
        std::free(data_);
    } else {
#ifdef _WIN32
        VirtualFree(data_, 0, MEM_RELEASE);
#else
        munmap(data_, (size_ + kHugePage - 1) / kHugePage * kHugePage);
#endif
    }
    data_ = nullptr;
    size_ = 0;
    mapped_ = false;
}

}  // namespace mk::platform
