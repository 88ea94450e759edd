// Atomic replacement of files: unnamed file, fsync, name, fsync folder.
#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace mk::platform {

AtomicFile::~AtomicFile() { Discard(); }

AtomicFile::AtomicFile(AtomicFile &&other) noexcept
    : destination_(std::move(other.destination_)),
      scratch_(std::move(other.scratch_)),
      file_(std::move(other.file_)) {}

AtomicFile &AtomicFile::operator=(AtomicFile &&other) noexcept {
    if (this != &other) {
        Discard();
        destination_ = std::move(other.destination_);
        scratch_ = std::move(other.scratch_);
        file_ = std::move(other.file_);
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
    // 0666 lets the umask decide for new files.
    if (!scratch_.Create(FolderOf(destination), NameOf(destination), exists ? 0600 : 0666))
        return false;
    if (exists) ::fchmod(scratch_.fd(), st.st_mode & 07777);
    // The stream has a descriptor of its own; the scratch file keeps the
    // one that holds its lock.
    UniqueFd own(::dup(scratch_.fd()));
    if (own) file_.reset(::fdopen(own.get(), "wb"));
    if (!file_) {
        Discard();
        return false;
    }
    own.release();
    return true;
}

void AtomicFile::StartWriteBack() noexcept {
    if (!file_ || std::fflush(file_.get()) != 0) return;
#if defined(__linux__)
    ::sync_file_range(scratch_.fd(), 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
}

bool AtomicFile::Commit() {
    if (!file_) return false;
    bool ok = std::fflush(file_.get()) == 0 && !std::ferror(file_.get());
    ok = (std::fclose(file_.release()) == 0) && ok;
    ok = ok && ::fsync(scratch_.fd()) == 0 && scratch_.Replace();
    if (!ok) {
        Discard();
        return false;
    }
    scratch_.Discard();
    return true;
}

void AtomicFile::Discard() noexcept {
    file_.reset();
    scratch_.Discard();
}

bool WriteFileAtomically(const std::string &path, const void *data, size_t size) {
    AtomicFile file;
    if (!file.Open(path)) return false;
    if (size != 0 && std::fwrite(data, 1, size, file.stream()) != size) return false;
    return file.Commit();
}

}  // namespace mk::platform
