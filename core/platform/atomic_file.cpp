// Atomic replacement of files that keeps their identity: unnamed file, the
// old file's owner and attributes, fsync, name, fsync folder; or, where a
// new file cannot be the old one, a write in place behind a synced copy.
#include "platform/atomic_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/file_attributes.h"
#include "platform/files.h"

namespace mk::platform {
namespace {

// True when the caller could not rename over this file: another user's file
// in a sticky folder (as /tmp) that is not the caller's either.
bool StickyForbids(const std::string &folder, const struct stat &st) {
    struct stat dir {};
    if (::stat(folder.c_str(), &dir) != 0 || (dir.st_mode & S_ISVTX) == 0) return false;
    const uid_t me = ::geteuid();
    return me != 0 && st.st_uid != me && dir.st_uid != me;
}

bool TakesNoNewFiles(int error) { return error == EACCES || error == EPERM || error == EROFS; }

// True when a new file in the old one's place could have all of its
// identity; the empty new file `fd` has it afterwards.
bool CanReplace(const std::string &target, const struct stat &st, int fd) {
    if (st.st_nlink > 1 || StickyForbids(FolderOf(target), st)) return false;
    const auto attributes = ReadAttributes(-1, target);
    return attributes && GiveIdentity(fd, st, *attributes);
}

UniqueFd OpenOriginal(const std::string &target) {
    struct stat st {};
    if (::stat(target.c_str(), &st) != 0) return UniqueFd();
    UniqueFd fd = OpenForWriting(target, st, O_RDWR);
    if (fd && (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))) {
        fd.Reset();
        errno = EINVAL;
    }
    return fd;
}

}  // namespace

AtomicFile::~AtomicFile() { Discard(); }

AtomicFile::AtomicFile(AtomicFile &&other) noexcept
    : target_(std::move(other.target_)),
      scratch_(std::move(other.scratch_)),
      file_(std::move(other.file_)),
      original_(std::move(other.original_)),
      inPlace_(std::exchange(other.inPlace_, false)),
      stop_(other.stop_) {}

AtomicFile &AtomicFile::operator=(AtomicFile &&other) noexcept {
    if (this != &other) {
        Discard();
        target_ = std::move(other.target_);
        scratch_ = std::move(other.scratch_);
        file_ = std::move(other.file_);
        original_ = std::move(other.original_);
        inPlace_ = std::exchange(other.inPlace_, false);
        stop_ = other.stop_;
    }
    return *this;
}

bool AtomicFile::Open(const std::string &destination) {
    Discard();
    const auto target = FinalTarget(destination);
    if (!target) return false;
    target_ = *target;
    if (RecoverInPlaceWrite(target_) == Recovery::kFailed) return false;
    struct stat st {};
    if (::stat(target_.c_str(), &st) != 0) {
        if (errno != ENOENT) return false;
        // 0666 lets the umask decide for new files.
        return scratch_.Create(FolderOf(target_), NameOf(target_), 0666) && OpenStream();
    }
    if (!S_ISREG(st.st_mode)) {
        errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        return false;
    }
    if (!scratch_.Create(FolderOf(target_), NameOf(target_), 0600) && !TakesNoNewFiles(errno))
        return false;
    if (!scratch_.open() || !CanReplace(target_, st, scratch_.fd())) return OpenInPlace();
    return OpenStream();
}

bool AtomicFile::OpenInPlace() {
    inPlace_ = true;
    original_ = OpenOriginal(target_);
    if (!original_) {
        Discard();
        return false;
    }
    if (!scratch_.open()) {
        // The folder takes no new files: the new content waits elsewhere.
        const std::string spare = SpareBackupFolder(true);
        if (spare.empty() || !scratch_.Create(spare, NameOf(target_), 0600)) {
            Discard();
            return false;
        }
    }
    return OpenStream();
}

bool AtomicFile::OpenStream() {
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
    if (ok && !inPlace_) {
        // The identity once more: writing drops setuid, setgid and file
        // capabilities, and the old file may have changed since Open.
        struct stat st {};
        if (::stat(target_.c_str(), &st) == 0) {
            if (!CanReplace(target_, st, scratch_.fd())) {
                original_ = OpenOriginal(target_);
                inPlace_ = true;
                ok = bool(original_);
            }
        } else {
            ok = errno == ENOENT;
        }
    }
    if (ok && inPlace_) return CommitInPlace();
    ok = ok && ::fsync(scratch_.fd()) == 0 && scratch_.Replace();
    Discard();
    return ok;
}

bool AtomicFile::CommitInPlace() {
    struct stat st {};
    bool ok = ::fstat(original_.get(), &st) == 0;
    const auto attributes = ReadAttributes(original_.get(), {});
    ok = ok && ::fsync(scratch_.fd()) == 0 &&
         OverwriteInPlace(target_, original_.get(), scratch_.fd(), stop_);
    if (ok && attributes) {
        MendIdentity(original_.get(), st, *attributes);
        ::fsync(original_.get());
    }
    Discard();
    return ok;
}

void AtomicFile::Discard() noexcept {
    const int saved = errno;
    file_.reset();
    scratch_.Discard();
    original_.Reset();
    inPlace_ = false;
    errno = saved;
}

Recovery RecoverInterruptedWrite(const char *path) {
    if (path == nullptr) return Recovery::kNothing;
    const auto target = FinalTarget(path);
    return target ? RecoverInPlaceWrite(*target) : Recovery::kNothing;
}

bool WriteFileAtomically(const std::string &path, const void *data, size_t size) {
    AtomicFile file;
    if (!file.Open(path)) return false;
    if (size != 0 && std::fwrite(data, 1, size, file.stream()) != size) return false;
    return file.Commit();
}

}  // namespace mk::platform
