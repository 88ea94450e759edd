// File attributes and times on POSIX.
#include "platform/files.h"

#include "MK_Core.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/in_place.h"
#include "platform/scratch_file.h"

namespace mk::platform {

bool FitsPathBuffer(const char *path) { return path != nullptr && std::strlen(path) < MK_MAX_PATH; }

std::optional<std::string> FinalTarget(const std::string &path) {
    // As many links as the kernel itself follows in one path.
    constexpr int kMaxLinks = 40;
    std::string current = path;
    for (int links = 0; links <= kMaxLinks; ++links) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0) {
            if (errno == ENOENT) return current;
            return std::nullopt;
        }
        if (!S_ISLNK(st.st_mode)) return current;
        std::string target(PATH_MAX, '\0');
        const ssize_t length = ::readlink(current.c_str(), target.data(), target.size());
        if (length < 0) return std::nullopt;
        if (static_cast<size_t>(length) >= target.size()) {
            errno = ENAMETOOLONG;
            return std::nullopt;
        }
        target.resize(static_cast<size_t>(length));
        if (target.empty()) {
            errno = ENOENT;
            return std::nullopt;
        }
        current = target[0] == '/' ? target : FolderOf(current) + "/" + target;
    }
    errno = ELOOP;
    return std::nullopt;
}

namespace {

bool RefuseUnlessRegular(mode_t mode) {
    if (S_ISREG(mode)) return false;
    errno = S_ISDIR(mode) ? EISDIR : EINVAL;
    return true;
}

}  // namespace

UniqueFd OpenRegularFile(const char *path) {
    if (path == nullptr) {
        errno = EINVAL;
        return {};
    }
    // Looked at before the open: opening a device can do things of its own.
    struct stat st {};
    if (::stat(path, &st) != 0 || RefuseUnlessRegular(st.st_mode)) return {};
    if (const auto target = FinalTarget(path);
        target && RecoverInPlaceWrite(*target) == Recovery::kFailed)
        return {};
    // Not blocking, in case the name was given to a FIFO meanwhile.
    UniqueFd fd(::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd || ::fstat(fd.get(), &st) != 0 || RefuseUnlessRegular(st.st_mode)) return {};
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return {};
    return fd;
}

FilePtr OpenRegularStream(const char *path) {
    UniqueFd fd = OpenRegularFile(path);
    if (!fd) return nullptr;
    FilePtr file(::fdopen(fd.get(), "rb"));
    if (file) fd.release();
    return file;
}

std::optional<timespec> ModificationTime(const char *path) {
    struct stat st {};
    if (::stat(path, &st) != 0) return std::nullopt;
    return st.st_mtim;
}

bool SetModificationTime(const char *path, const timespec &time) {
    const timespec times[2] = {{0, UTIME_OMIT}, time};
    return ::utimensat(AT_FDCWD, path, times, 0) == 0;
}

bool SameFile(const char *a, const char *b) {
    if (std::strcmp(a, b) == 0) return true;
    struct stat sa {
    }, sb{};
    if (::stat(a, &sa) != 0 || ::stat(b, &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

std::optional<std::pair<uint64_t, uint64_t>> FileIdentity(const char *path) {
    struct stat st {};
    if (::stat(path, &st) != 0) return std::nullopt;
    return std::make_pair(uint64_t(st.st_dev), uint64_t(st.st_ino));
}

std::optional<uint64_t> FileSize(const char *path) {
    struct stat st {};
    if (::stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return uint64_t(st.st_size);
}

uint64_t AvailableMemory() {
    const long pages = ::sysconf(_SC_AVPHYS_PAGES);
    const long size = ::sysconf(_SC_PAGESIZE);
    return pages > 0 && size > 0 ? uint64_t(pages) * uint64_t(size) : 0;
}

bool IsReadOnly(const char *path) {
    struct stat st {};
    if (::stat(path, &st) != 0) return false;
    // Root may write anything; the permission bits still say read-only.
    return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(path, W_OK) != 0;
}

}  // namespace mk::platform
