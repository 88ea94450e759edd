// Checks of a source path before it is read.
#include "platform/readable.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace mk::platform {

ReadProblem WhyNotReadable(const char *path) {
    struct stat st {};
    if (::stat(path, &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return {ReadProblem::kMissing, errno};
        return {ReadProblem::kDenied, errno};
    }
    if (S_ISDIR(st.st_mode)) return {ReadProblem::kFolder, 0};
    if (!S_ISREG(st.st_mode)) return {ReadProblem::kNotRegular, 0};
    if (::access(path, R_OK) != 0) return {ReadProblem::kDenied, errno};
    return {};
}

std::string ErrorName(int error) {
    char buffer[256];
    // The GNU strerror_r may return a static text instead of filling the buffer.
#if defined(__GLIBC__) && defined(_GNU_SOURCE)
    return ::strerror_r(error, buffer, sizeof buffer);
#else
    return ::strerror_r(error, buffer, sizeof buffer) == 0 ? buffer
                                                           : "error " + std::to_string(error);
#endif
}

}  // namespace mk::platform
