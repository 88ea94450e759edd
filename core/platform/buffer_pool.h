// Buffers handed back by one job for the next of a batch, shared by the
// batch's workers: memory that was touched once is not faulted in and
// zeroed by the system again for every file.
#pragma once

#include <algorithm>
#include <cstddef>
#include <mutex>
#include <new>
#include <optional>
#include <utility>
#include <vector>

namespace mk::platform {

// `SizeOf` tells how many bytes a buffer can hold.
template <typename Buffer, size_t (*SizeOf)(const Buffer &)>
class BufferPool {
  public:
    // `keep`: buffers held at most; the smallest go first.
    explicit BufferPool(size_t keep) : keep_(keep) {}

    // The smallest buffer held that has room for `bytes`, holding what its
    // last user left; nothing when none has. With `makeRoom`, when none has,
    // the largest buffer held goes back to the system, so that the one the
    // caller makes instead takes its place rather than joining it.
    std::optional<Buffer> Take(size_t bytes, bool makeRoom = false) noexcept {
        std::lock_guard guard(lock_);
        auto best = free_.end();
        for (auto it = free_.begin(); it != free_.end(); ++it)
            if (SizeOf(*it) >= bytes && (best == free_.end() || SizeOf(*it) < SizeOf(*best)))
                best = it;
        if (best == free_.end()) {
            if (makeRoom && !free_.empty())
                free_.erase(std::max_element(free_.begin(), free_.end(), Smaller));
            return std::nullopt;
        }
        std::optional<Buffer> taken(std::move(*best));
        free_.erase(best);
        return taken;
    }

    void Give(Buffer buffer) noexcept {
        std::lock_guard guard(lock_);
        try {
            free_.push_back(std::move(buffer));
        } catch (const std::bad_alloc &) {
            return;  // the buffer goes back to the system instead
        }
        while (free_.size() > keep_) {
            free_.erase(std::min_element(free_.begin(), free_.end(), Smaller));
        }
    }

  private:
    static bool Smaller(const Buffer &a, const Buffer &b) { return SizeOf(a) < SizeOf(b); }

    std::mutex lock_;
    std::vector<Buffer> free_;
    size_t keep_;
};

}  // namespace mk::platform
