// Large zero-filled buffers straight from the system: the memory of a
// picture's coefficient arrays. Large ones are mapped on their own and,
// where the system offers it, backed by huge pages, so that first touching
// them costs one fault per 2 MiB instead of one per 4 KiB.
#pragma once

#include <cstddef>

namespace mk::platform {

class Pages {
  public:
    // At least `bytes` of zeroes, 64-byte aligned; empty when the system
    // has no memory to give (or for 0 bytes).
    static Pages Zeroed(size_t bytes) noexcept;

    Pages() = default;
    ~Pages() { Release(); }
    Pages(Pages &&other) noexcept;
    Pages &operator=(Pages &&other) noexcept;
    Pages(const Pages &) = delete;
    Pages &operator=(const Pages &) = delete;

    void *data() const { return data_; }
    size_t size() const { return size_; }
    explicit operator bool() const { return data_ != nullptr; }

  private:
    void Release() noexcept;

    void *data_ = nullptr;
    size_t size_ = 0;
    bool mapped_ = false;
};

}  // namespace mk::platform
