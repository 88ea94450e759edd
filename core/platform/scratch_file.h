// Files written before they get their name. On Linux the file has no name
// at all while it is written (an O_TMPFILE file in the folder where it will
// live), so an interrupted process leaves nothing behind; where the file
// system offers no such files it gets a hidden temporary name beside its
// final one (".NAME.tmp"). Either kind is locked (flock) for as long as it
// is open, which lets a later run tell a temporary name left by a process
// that died from one still being written, and remove the former.
#pragma once

#include <sys/types.h>

#include <string>

#include "platform/handles.h"

namespace mk::platform {

// The folder part of a path ("." for a bare name) and its last component.
std::string FolderOf(const std::string &path);
std::string NameOf(const std::string &path);

// Flushes a folder's entries to disk; false (errno set) when that fails.
bool SyncFolder(const std::string &folder);

class ScratchFile {
  public:
    ScratchFile() = default;
    ~ScratchFile() { Discard(); }
    ScratchFile(const ScratchFile &) = delete;
    ScratchFile &operator=(const ScratchFile &) = delete;
    ScratchFile(ScratchFile &&other) noexcept;
    ScratchFile &operator=(ScratchFile &&other) noexcept;

    // Creates the file, open for reading and writing, in `folder`, to be
    // called `name` there once complete. `mode` as for open(2): the umask
    // applies. False with errno set.
    bool Create(const std::string &folder, const std::string &name, mode_t mode);

    bool open() const { return bool(fd_); }
    int fd() const { return fd_.get(); }
    // False when the file system made a temporary name necessary.
    bool unnamed() const { return temporary_.empty(); }

    // Gives the complete file its name, replacing a file of that name, and
    // syncs the folder. The file itself must already be synced. False (errno
    // set, the old file untouched) when that fails.
    bool Replace();
    // Gives the complete file its name only when no file has it yet (EEXIST
    // otherwise), and syncs the folder. The file stays open and locked.
    bool LinkNew();

    // Closes the file; a temporary name goes with it.
    void Discard() noexcept;

  private:
    UniqueFd fd_;
    std::string folder_;
    std::string name_;
    std::string temporary_;  // empty while unnamed or once given its name
};

}  // namespace mk::platform
