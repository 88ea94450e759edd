// Writing over a file in place, for the files whose identity a new file
// could not keep: more than one name, an owner, group or attribute the writer
// cannot give a new file, or a folder that takes no new files.
//
// A complete, synced copy of the old content gets a visible name first:
// ".NAME.backup-INODE" beside the file, or, when the file's folder takes no
// new files, "DEVICE-INODE-NAME" in the user's state folder
// ($XDG_STATE_HOME, default ~/.local/state, then
// Tarvelin/Mirelkanzoar/backups). The new content is then written over the
// file and synced, and only then the copy is removed. A run interrupted in
// between leaves the copy; the next open of the file, for reading or
// writing, puts the old content (and its modification time) back first. So
// the file is always either the old one or the new one.
//
// The copy is found from the path that was written, any link to it, and the
// file's other names in the same folder; a name of the file in another
// folder does not see it until the file is next opened through one of
// those. The copy is locked while its writer lives, so a live write is never
// taken for an interrupted one; the inode in its name keeps it from being
// put onto another file that later took the name.
#pragma once

#include <sys/stat.h>

#include <string>

#include "platform/handles.h"

namespace mk::platform {

// Points at which a test can stop an in-place write as an interruption
// would: with the copy named, with half the new content written over the
// file, and with all of it written but the copy not yet removed.
enum class InPlaceStop { kNone, kAfterBackup, kHalfWritten, kAfterWrite };

// Replaces the content of `target` (a path that is not a symbolic link),
// open for reading and writing as `targetFd`, by the whole content of
// `contentFd`, keeping a copy of the old content until the new one is on
// disk. On a failure the old content is put back at once. False with errno
// set.
bool OverwriteInPlace(const std::string &target, int targetFd, int contentFd,
                      InPlaceStop stop = InPlaceStop::kNone);

// Opens `target` (whose stat is `st`) with `access` (O_WRONLY or O_RDWR),
// never following a link or blocking; a read-only file of the caller's own
// gets write permission only for the moment of the open, so an interrupted
// run never leaves it writable.
UniqueFd OpenForWriting(const std::string &target, const struct stat &st, int access);

// What looking for the copy of an interrupted in-place write found.
enum class Recovery {
    kNothing,   // no copy: the file is as its last writer left it
    kRestored,  // the old content was put back and the copy removed
    kFailed,    // a copy is there but could not be put back (errno set;
                // EBUSY: a live process is writing the file now)
};

// Looks for the copy left by an interrupted in-place write of `target` (a
// path that is not a symbolic link) and puts the old content back.
Recovery RecoverInPlaceWrite(const std::string &target);

// The folder for the copies of files whose own folder takes no new files,
// made first when `create`; empty when the user has no home or it cannot be
// made.
std::string SpareBackupFolder(bool create = false);

}  // namespace mk::platform
