// A growing PathList.
#include "path_list.h"

#include <algorithm>
#include <cstring>

namespace mk::cli {

PathListBuffer::PathListBuffer(size_t initialSize) : buffer_(std::max<size_t>(initialSize, 1), 0) {}

void PathListBuffer::Add(std::string_view entry) {
    const size_t length = entry.size();
    if (used_ + length + 2 > buffer_.size()) buffer_.resize(length + 2 * buffer_.size(), 0);
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

}  // namespace mk::cli
