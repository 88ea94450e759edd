// Atomic replacement of files: temporary file, fsync, rename, fsync folder.
#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <utility>

namespace mk::platform {
namespace {

std::string FolderOf(const std::string &path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

void SyncFolder(const std::string &folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

AtomicFile::~AtomicFile() { Discard(); }

AtomicFile::AtomicFile(AtomicFile &&other) noexcept
    : destination_(std::move(other.destination_)),
      temporary_(std::exchange(other.temporary_, {})),
      file_(std::exchange(other.file_, nullptr)) {}

AtomicFile &AtomicFile::operator=(AtomicFile &&other) noexcept {
    if (this != &other) {
        Discard();
        destination_ = std::move(other.destination_);
        temporary_ = std::exchange(other.temporary_, {});
        file_ = std::exchange(other.file_, nullptr);
    }
    return *this;
}

bool AtomicFile::Open(const std::string &destination) {
    Discard();
    destination_ = destination;
    struct stat st {};
    const bool exists = ::stat(destination.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) {
        errno = EISDIR;
        return false;
    }
    const auto slash = destination.find_last_of('/');
    const std::string prefix =
        (slash == std::string::npos ? std::string() : destination.substr(0, slash + 1)) + "." +
        destination.substr(slash == std::string::npos ? 0 : slash + 1) + ".";
    std::random_device seed;
    std::mt19937 rng(seed());
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::string name = prefix + std::to_string(rng() % 100000000u) + ".tmp";
        // O_EXCL never reuses a file; 0666 lets the umask decide for new files.
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return false;
        }
        if (exists) ::fchmod(fd, st.st_mode & 07777);
        file_ = ::fdopen(fd, "wb");
        if (file_ == nullptr) {
            const int saved = errno;
            ::close(fd);
            ::unlink(name.c_str());
            errno = saved;
            return false;
        }
        temporary_ = name;
        return true;
    }
    errno = EEXIST;
    return false;
}

void AtomicFile::StartWriteBack() noexcept {
    if (file_ == nullptr || std::fflush(file_) != 0) return;
#if defined(__linux__)
    ::sync_file_range(::fileno(file_), 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
}

bool AtomicFile::Commit() {
    if (file_ == nullptr) return false;
    bool ok = std::fflush(file_) == 0 && !std::ferror(file_);
    ok = ok && ::fsync(::fileno(file_)) == 0;
    ok = (std::fclose(file_) == 0) && ok;
    file_ = nullptr;
    ok = ok && ::rename(temporary_.c_str(), destination_.c_str()) == 0;
    if (!ok) {
        const int saved = errno;
        ::unlink(temporary_.c_str());
        temporary_.clear();
        errno = saved;
        return false;
    }
    temporary_.clear();
    SyncFolder(FolderOf(destination_));
    return true;
}

void AtomicFile::Discard() noexcept {
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (!temporary_.empty()) {
        ::unlink(temporary_.c_str());
        temporary_.clear();
    }
}

bool WriteFileAtomically(const std::string &path, const void *data, size_t size) {
    AtomicFile file;
    if (!file.Open(path)) return false;
    if (size != 0 && std::fwrite(data, 1, size, file.stream()) != size) return false;
    return file.Commit();
}

}  // namespace mk::platform
