// Lists of names handed across the C interface the way a PathList is laid
// out: each name with its NUL, back to back, ended by an empty name.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace mk::platform {

// Writes the names that fit into `buffer` of `size` bytes (at least 1),
// in order, and returns how many were written.
inline int32_t WriteNameList(const std::vector<std::string> &names, char *buffer, int32_t size) {
    int32_t written = 0;
    size_t used = 0;
    for (const std::string &name : names) {
        // The name, its NUL and the list's closing NUL must fit.
        if (used + name.size() + 2 > static_cast<size_t>(size)) break;
        std::memcpy(buffer + used, name.c_str(), name.size() + 1);
        used += name.size() + 1;
        ++written;
    }
    buffer[used] = '\0';
    return written;
}

}  // namespace mk::platform
