// Writing a file so that a reader never sees it half-written and a failure
// never damages what was there.
//
// The data goes to a file that has no name yet (see scratch_file.h) and is
// synced before anything is named, so an interrupted process leaves nothing
// behind. Where the destination is a symbolic link (or a chain of them), the
// file it finally leads to is written and the links stay. An existing file
// keeps its identity: owner, group, permission bits (setuid and setgid
// included), extended attributes and ACLs. Usually the new file is given all
// of them and then renamed over the old one. Where a new file could not have
// them (a file with several names, an owner, group or attribute the writer
// may not give, a folder that takes no new files, another's file in a sticky
// folder), the new content is written over the old file in place, behind a
// synced copy of the old content (see in_place.h); a writer who may not
// give a file to another user thus writes in place rather than change the
// owner. Either way an interrupted run leaves the old file or the new one.
#pragma once

#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "platform/handles.h"
#include "platform/in_place.h"
#include "platform/scratch_file.h"

namespace mk::platform {

class AtomicFile {
  public:
    AtomicFile() = default;
    ~AtomicFile();  // discards the new file unless committed
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;
    // The new file, open or not, goes with the object.
    AtomicFile(AtomicFile &&other) noexcept;
    AtomicFile &operator=(AtomicFile &&other) noexcept;

    // Creates the file that will become `destination` (its links followed),
    // after putting back the old content of an interrupted in-place write
    // of it. A new file gets the usual mode (0666 less the umask). False
    // (errno set) when it cannot be created or the destination is not a
    // regular file (EISDIR for a folder, EINVAL otherwise).
    bool Open(const std::string &destination);

    // The stream to write to; valid between Open and Commit.
    FILE *stream() const { return file_.get(); }

    // Hands what was written so far to the kernel and, where the system
    // allows, starts writing it to disk without waiting, so that Commit's
    // sync finds little left to do. Never fails; errors show in Commit.
    void StartWriteBack() noexcept;

    // Flushes and syncs the new content and puts it in place of the old:
    // by name, or written over the old file. False when any step failed
    // (the destination is then as it was).
    bool Commit();

    // Closes the new file without putting it in place.
    void Discard() noexcept;

    // True when Commit is going to write over the existing file in place.
    bool writesInPlace() const { return inPlace_; }

    // For tests: an in-place Commit stops at that point, as an interruption
    // would, and returns false.
    void StopCommitAt(InPlaceStop stop) { stop_ = stop; }

  private:
    bool OpenInPlace();
    bool OpenStream();
    bool CommitInPlace();

    std::string target_;  // the destination with its links followed
    ScratchFile scratch_;
    FilePtr file_;
    UniqueFd original_;  // the old file, open for an in-place write
    bool inPlace_ = false;
    InPlaceStop stop_ = InPlaceStop::kNone;
};

// Puts back the old content of `path` (its links followed) when an in-place
// write of it was interrupted; every open for writing or reading through
// this layer does so itself.
Recovery RecoverInterruptedWrite(const char *path);

// Writes `size` bytes as the whole content of `path` through an AtomicFile.
bool WriteFileAtomically(const std::string &path, const void *data, size_t size);

}  // namespace mk::platform
