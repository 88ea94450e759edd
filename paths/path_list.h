// A PathList under construction: NUL-terminated entries back to back, ended
// by an empty string, in a buffer that grows as entries are added. Shared by
// the command-line tool and the desktop program, which grow it differently.
// Growing throws std::bad_alloc when memory runs out.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace mk::paths {

class PathListBuffer {
  public:
    enum class Growth {
        // Before writing an entry of L bytes with U bytes used in a buffer
        // of S bytes: if U + L + 2 > S, the buffer grows to L + 2 * S bytes.
        kDoubling,
        // The buffer grows by its initial size at a time until the entry
        // and the 2 spare bytes fit (the desktop program's 64 KiB steps).
        kFixedSteps,
    };

    // An empty list in a buffer of `initialSize` bytes (at least 1).
    explicit PathListBuffer(size_t initialSize, Growth growth = Growth::kDoubling);

    // Appends an entry. The 2 spare bytes kept at every step leave room for
    // the entry's terminator and the list's final empty string, so the
    // buffer always holds a whole list.
    void Add(std::string_view entry);

    // The list, ready for MK_ProcessFiles.
    const char *data() const { return buffer_.data(); }
    size_t count() const { return count_; }
    // The buffer's present size in bytes.
    size_t capacity() const { return buffer_.size(); }
    // The entries in order, as the batch reads the list (an empty entry
    // would end it there).
    std::vector<std::string> Entries() const;

  private:
    std::vector<char> buffer_;
    size_t step_;
    Growth growth_;
    size_t used_ = 0;
    size_t count_ = 0;
};

}  // namespace mk::paths
