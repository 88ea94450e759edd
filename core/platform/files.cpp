// File attributes and times on POSIX.
#include "platform/files.h"

#include "MK_Core.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace mk::platform {

bool FitsPathBuffer(const char *path) { return path != nullptr && std::strlen(path) < MK_MAX_PATH; }

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

WritableGuard::~WritableGuard() {
    if (changed_) ::chmod(path_.c_str(), mode_);
}

bool WritableGuard::Lift(const char *path) {
    struct stat st {};
    if (::stat(path, &st) != 0) return false;
    path_ = path;
    mode_ = st.st_mode & 07777;
    if (::chmod(path, mode_ | S_IWUSR) != 0) return false;
    changed_ = true;
    return true;
}

}  // namespace mk::platform
