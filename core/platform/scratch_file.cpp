// Unnamed files for writing, with a locked temporary name as the fallback.
#include "platform/scratch_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <utility>

namespace mk::platform {
namespace {

// The temporary name of `attempt`: the plain one first, so that a leftover
// of an interrupted run is found again by the next one without a search.
std::string TemporaryName(const std::string &folder, const std::string &name, int attempt) {
    std::string path = folder + "/." + name + ".";
    if (attempt > 0) {
        std::random_device seed;
        path += std::to_string(seed() % 100000000u) + ".";
    }
    return path + "tmp";
}

// Removes `path` when it is a temporary file whose writer is gone: nobody
// holds its lock. A name that changes meanwhile is left alone.
void RemoveIfAbandoned(const std::string &path) {
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat held {
    }, named{};
    if (!fd || ::fstat(fd.get(), &held) != 0 || !S_ISREG(held.st_mode)) return;
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return;
    if (::lstat(path.c_str(), &named) != 0 || named.st_dev != held.st_dev ||
        named.st_ino != held.st_ino)
        return;
    ::unlink(path.c_str());
}

// The name under /proc by which the process reaches its descriptor `fd`.
std::string SelfPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// Gives an unnamed file the path `path` (which must not exist).
bool LinkUnnamed(int fd, const std::string &path) {
    if (::linkat(AT_FDCWD, SelfPath(fd).c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return true;
    if (errno != ENOENT) return false;
    // No /proc: the direct way needs a privilege most callers lack.
    return ::linkat(fd, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0;
}

}  // namespace

std::string FolderOf(const std::string &path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string NameOf(const std::string &path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool SyncFolder(const std::string &folder) {
    const UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return fd && ::fsync(fd.get()) == 0;
}

ScratchFile::ScratchFile(ScratchFile &&other) noexcept
    : fd_(std::move(other.fd_)),
      folder_(std::move(other.folder_)),
      name_(std::move(other.name_)),
      temporary_(std::exchange(other.temporary_, {})) {}

ScratchFile &ScratchFile::operator=(ScratchFile &&other) noexcept {
    if (this != &other) {
        Discard();
        fd_ = std::move(other.fd_);
        folder_ = std::move(other.folder_);
        name_ = std::move(other.name_);
        temporary_ = std::exchange(other.temporary_, {});
    }
    return *this;
}

bool ScratchFile::Create(const std::string &folder, const std::string &name, mode_t mode) {
    Discard();
    folder_ = folder;
    name_ = name;
    // A leftover of an interrupted run under the plain temporary name.
    RemoveIfAbandoned(TemporaryName(folder, name, 0));
#if defined(O_TMPFILE)
    fd_.Reset(::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, mode));
    // Without /proc only a privileged process could link the file later.
    if (fd_ && (::geteuid() == 0 || ::access(SelfPath(fd_.get()).c_str(), F_OK) == 0)) {
        // Nobody else can reach it yet; the lock matters once it is linked.
        ::flock(fd_.get(), LOCK_EX);
        return true;
    }
    // Kernels or file systems without unnamed files say so in several ways.
    if (!fd_ && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return false;
    fd_.Reset();
#endif
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::string path = TemporaryName(folder, name, attempt);
        // O_EXCL never reuses a file.
        fd_.Reset(::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
        if (!fd_) {
            if (errno == EEXIST) continue;
            return false;
        }
        temporary_ = path;
        ::flock(fd_.get(), LOCK_EX);
        return true;
    }
    errno = EEXIST;
    return false;
}

bool ScratchFile::Replace() {
    if (!fd_) {
        errno = EBADF;
        return false;
    }
    const std::string final = folder_ + "/" + name_;
    if (temporary_.empty()) {
        // A file cannot be linked over another: it gets a temporary name for
        // the moment between the link and the rename.
        for (int attempt = 0; attempt < 16 && temporary_.empty(); ++attempt) {
            const std::string path = TemporaryName(folder_, name_, attempt);
            if (LinkUnnamed(fd_.get(), path)) {
                temporary_ = path;
            } else if (errno == EEXIST) {
                if (attempt == 0) RemoveIfAbandoned(path);
            } else {
                return false;
            }
        }
        if (temporary_.empty()) {
            errno = EEXIST;
            return false;
        }
    }
    if (::rename(temporary_.c_str(), final.c_str()) != 0) return false;
    temporary_.clear();
    return SyncFolder(folder_);
}

bool ScratchFile::LinkNew() {
    if (!fd_) {
        errno = EBADF;
        return false;
    }
    const std::string final = folder_ + "/" + name_;
    if (temporary_.empty()) {
        if (!LinkUnnamed(fd_.get(), final)) return false;
    } else {
        // link() refuses an existing name, where rename() would replace it.
        if (::link(temporary_.c_str(), final.c_str()) != 0) return false;
        ::unlink(temporary_.c_str());
        temporary_.clear();
    }
    return SyncFolder(folder_);
}

void ScratchFile::Discard() noexcept {
    const int saved = errno;
    // The name goes while the lock is still held.
    if (!temporary_.empty()) {
        ::unlink(temporary_.c_str());
        temporary_.clear();
    }
    fd_.Reset();
    errno = saved;
}

}  // namespace mk::platform
