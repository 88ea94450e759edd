// A growing PathList.
#include "path_list.h"

#include <algorithm>
#include <cstring>

namespace mk::paths {

PathListBuffer::PathListBuffer(size_t initialSize, Growth growth)
    : buffer_(std::max<size_t>(initialSize, 1), 0), step_(buffer_.size()), growth_(growth) {}

void PathListBuffer::Add(std::string_view entry) {
    const size_t length = entry.size();
    const size_t needed = used_ + length + 2;
    if (needed > buffer_.size()) {
        size_t size = buffer_.size();
        if (growth_ == Growth::kDoubling) {
            size = length + 2 * size;
        } else {
            // As many whole steps as the entry needs, in one reallocation.
            size += (needed - size + step_ - 1) / step_ * step_;
        }
        buffer_.resize(size, 0);
    }
    std::memcpy(buffer_.data() + used_, entry.data(), length);
    buffer_[used_ + length] = '\0';
    buffer_[used_ + length + 1] = '\0';
    used_ += length + 1;
    ++count_;
}

std::vector<std::string> PathListBuffer::Entries() const {
    std::vector<std::string> entries;
    entries.reserve(count_);
    for (const char *p = buffer_.data(); *p != '\0'; p += std::strlen(p) + 1)
        entries.emplace_back(p);
    return entries;
}

}  // namespace mk::paths
