// In-place writes behind a synced copy of the old content, and the recovery
// of an interrupted one.
#include "platform/in_place.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "platform/handles.h"
#include "platform/scratch_file.h"

namespace mk::platform {

UniqueFd OpenForWriting(const std::string &target, const struct stat &st, int access) {
    const int flags = access | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    UniqueFd fd(::open(target.c_str(), flags));
    if (!fd && errno == EACCES && st.st_uid == ::geteuid() &&
        ::chmod(target.c_str(), (st.st_mode & 07777) | S_IWUSR) == 0) {
        fd.Reset(::open(target.c_str(), flags));
        const int saved = errno;
        ::chmod(target.c_str(), st.st_mode & 07777);
        errno = saved;
    }
    return fd;
}

namespace {

constexpr const char *kBackupFolder = "Tarvelin/Mirelkanzoar/backups";
// Room left in a 255-byte file name for what the backup name adds.
constexpr size_t kNameRoom = 200;

std::string UserStateHome() {
    if (const char *xdg = std::getenv("XDG_STATE_HOME"); xdg != nullptr && xdg[0] == '/')
        return xdg;
    const char *home = std::getenv("HOME");
    if (home == nullptr || home[0] == '\0') {
        if (const passwd *pw = ::getpwuid(::geteuid()); pw != nullptr) home = pw->pw_dir;
    }
    if (home == nullptr || home[0] == '\0') return {};
    return std::string(home) + "/.local/state";
}

bool MakeFolders(const std::string &path) {
    for (size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos != path.size() && path[pos] != '/') continue;
        if (::mkdir(path.substr(0, pos).c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    return true;
}

std::string ShortName(const std::string &target) { return NameOf(target).substr(0, kNameRoom); }

std::string BesideBackupName(const std::string &target, const struct stat &st) {
    return "." + ShortName(target) + ".backup-" + std::to_string(st.st_ino);
}

std::string SpareBackupName(const std::string &target, const struct stat &st) {
    return std::to_string(st.st_dev) + "-" + std::to_string(st.st_ino) + "-" + ShortName(target);
}

bool FallsBackToCopy(int error) {
    return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP ||
           error == EBADF;
}

// Copies the first `size` bytes of `from` to the start of `to`; false (errno
// set) on a failure or when `from` is shorter.
bool CopyContent(int from, int to, uint64_t size) {
    off_t in = 0, out = 0;
    while (static_cast<uint64_t>(in) < size) {
        const ssize_t n = ::copy_file_range(from, &in, to, &out, size - uint64_t(in), 0);
        if (n > 0) continue;
        if (n == 0) {
            errno = EIO;
            return false;
        }
        if (errno == EINTR) continue;
        if (!FallsBackToCopy(errno)) return false;
        // Across file systems or where the kernel cannot copy: by hand.
        std::vector<char> buffer(size_t{1} << 20);
        while (static_cast<uint64_t>(in) < size) {
            const size_t want = static_cast<size_t>(
                std::min<uint64_t>(buffer.size(), size - static_cast<uint64_t>(in)));
            const ssize_t got = ::pread(from, buffer.data(), want, in);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) {
                if (got == 0) errno = EIO;
                return false;
            }
            for (ssize_t done = 0; done < got;) {
                const ssize_t put = ::pwrite(to, buffer.data() + done, size_t(got - done), out);
                if (put < 0 && errno == EINTR) continue;
                if (put <= 0) return false;
                done += put;
                out += put;
            }
            in += got;
        }
    }
    return true;
}

// Makes `to` hold exactly the content of `from` and syncs it.
bool ReplaceContent(int from, int to) {
    struct stat st {};
    return ::fstat(from, &st) == 0 && CopyContent(from, to, uint64_t(st.st_size)) &&
           ::ftruncate(to, st.st_size) == 0 && ::fsync(to) == 0;
}

// Puts the content of the copy at `backup` back into `target` and removes
// the copy, when the copy is one of an interrupted write of that file.
Recovery RestoreFrom(const std::string &backup, const std::string &target,
                     const struct stat &targetStat) {
    struct stat held {
    }, named{};
    // Nothing there, or in a folder the caller cannot even look into (the
    // state folder of $HOME when that is another user's).
    if (::lstat(backup.c_str(), &named) != 0) return Recovery::kNothing;
    const UniqueFd copy(::open(backup.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!copy) return errno == ENOENT ? Recovery::kNothing : Recovery::kFailed;
    if (::fstat(copy.get(), &held) != 0) return Recovery::kFailed;
    if (!S_ISREG(held.st_mode)) return Recovery::kNothing;
    if (::flock(copy.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) errno = EBUSY;
        return Recovery::kFailed;
    }
    // Its writer may have finished and removed it since the open.
    if (::lstat(backup.c_str(), &named) != 0 || named.st_dev != held.st_dev ||
        named.st_ino != held.st_ino)
        return Recovery::kNothing;
    const UniqueFd file = OpenForWriting(target, targetStat, O_WRONLY);
    struct stat opened {};
    if (!file || ::fstat(file.get(), &opened) != 0) return Recovery::kFailed;
    if (opened.st_dev != targetStat.st_dev || opened.st_ino != targetStat.st_ino) {
        errno = EAGAIN;
        return Recovery::kFailed;
    }
    const timespec times[2] = {{0, UTIME_OMIT}, held.st_mtim};
    if (!ReplaceContent(copy.get(), file.get()) || ::futimens(file.get(), times) != 0 ||
        ::fsync(file.get()) != 0)
        return Recovery::kFailed;
    if (::unlink(backup.c_str()) != 0) return Recovery::kFailed;
    SyncFolder(FolderOf(backup));
    return Recovery::kRestored;
}

bool TakesNoNewFiles(int error) { return error == EACCES || error == EPERM || error == EROFS; }

}  // namespace

std::string SpareBackupFolder(bool create) {
    const std::string home = UserStateHome();
    if (home.empty()) return {};
    const std::string folder = home + "/" + kBackupFolder;
    return !create || MakeFolders(folder) ? folder : std::string();
}

bool OverwriteInPlace(const std::string &target, int targetFd, int contentFd, InPlaceStop stop) {
    struct stat st {};
    if (::fstat(targetFd, &st) != 0) return false;

    // The copy of the old content, complete and synced before it is named.
    ScratchFile backup;
    std::string backupPath = FolderOf(target) + "/" + BesideBackupName(target, st);
    if (!backup.Create(FolderOf(target), BesideBackupName(target, st),
                       (st.st_mode & 0644) | 0600)) {
        if (!TakesNoNewFiles(errno)) return false;
        const std::string spare = SpareBackupFolder(true);
        if (spare.empty() || !backup.Create(spare, SpareBackupName(target, st), 0600)) return false;
        backupPath = spare + "/" + SpareBackupName(target, st);
    }
    const timespec times[2] = {st.st_atim, st.st_mtim};
    if (!CopyContent(targetFd, backup.fd(), uint64_t(st.st_size)) ||
        ::futimens(backup.fd(), times) != 0 || ::fsync(backup.fd()) != 0 || !backup.LinkNew())
        return false;
    if (stop == InPlaceStop::kAfterBackup) return false;

    struct stat content {};
    bool ok = ::fstat(contentFd, &content) == 0;
    if (ok && stop == InPlaceStop::kHalfWritten) {
        if (CopyContent(contentFd, targetFd, uint64_t(content.st_size) / 2)) ::fsync(targetFd);
        return false;
    }
    ok = ok && ReplaceContent(contentFd, targetFd);
    if (!ok) {
        const int saved = errno;
        // The old content back at once; should that fail too, the copy
        // stays for the next open.
        if (ReplaceContent(backup.fd(), targetFd) && ::futimens(targetFd, times) == 0 &&
            ::fsync(targetFd) == 0 && ::unlink(backupPath.c_str()) == 0)
            SyncFolder(FolderOf(backupPath));
        errno = saved;
        return false;
    }
    if (stop == InPlaceStop::kAfterWrite) return false;
    // The new content is on disk: the copy may go. Should the removal fail,
    // the next open puts the old content back, which is still whole.
    ::unlink(backupPath.c_str());
    SyncFolder(FolderOf(backupPath));
    return true;
}

Recovery RecoverInPlaceWrite(const std::string &target) {
    struct stat st {};
    if (::stat(target.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return Recovery::kNothing;
    const std::string folder = FolderOf(target);
    const std::string spare = SpareBackupFolder();
    Recovery found = RestoreFrom(folder + "/" + BesideBackupName(target, st), target, st);
    if (found == Recovery::kNothing && !spare.empty())
        found = RestoreFrom(spare + "/" + SpareBackupName(target, st), target, st);
    if (found != Recovery::kNothing || st.st_nlink < 2) return found;
    // A file with several names may have been written through another: its
    // copy carries the same inode under that name. Only the names in this
    // folder can be searched.
    const std::string besideEnd = ".backup-" + std::to_string(st.st_ino);
    const std::string spareStart =
        std::to_string(st.st_dev) + "-" + std::to_string(st.st_ino) + "-";
    const auto search = [&](const std::string &where, auto matches) {
        std::error_code error;
        for (const auto &entry : std::filesystem::directory_iterator(where, error)) {
            const std::string name = entry.path().filename().string();
            if (!matches(name)) continue;
            if (const Recovery r = RestoreFrom(where + "/" + name, target, st);
                r != Recovery::kNothing)
                return r;
        }
        return Recovery::kNothing;
    };
    found = search(folder, [&](const std::string &name) {
        return name.size() > besideEnd.size() && name[0] == '.' &&
               name.compare(name.size() - besideEnd.size(), besideEnd.size(), besideEnd) == 0;
    });
    if (found != Recovery::kNothing || spare.empty()) return found;
    return search(spare, [&](const std::string &name) { return name.rfind(spareStart, 0) == 0; });
}

}  // namespace mk::platform
