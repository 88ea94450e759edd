// File attributes and times: read-only is "no write permission", file times
// are kept with nanosecond precision, "the same file" is the same path or the
// same device and inode.
#pragma once

#include <sys/types.h>
#include <time.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "platform/handles.h"

namespace mk::platform {

// True when the path fits a 260-byte path buffer (259 bytes and its NUL).
bool FitsPathBuffer(const char *path);

// The path of what `path` finally leads to: the symbolic links of its last
// component followed one after another (a relative link read from the
// folder it is in). The path itself when that names no link, or nothing
// yet; the target of a dangling link is where a new file would go. nullopt
// (errno set, ELOOP after 40 links) when a link cannot be read.
std::optional<std::string> FinalTarget(const std::string &path);

// Opens `path` (through its links) for reading when it names a regular file.
// Nothing else is opened: a FIFO, which would block the caller, a device or
// a socket is refused with EINVAL, a folder with EISDIR. The descriptor is
// blocking again when handed back. The old content of an interrupted
// in-place write is put back first (see in_place.h); EBUSY while another
// process writes the file in place. Invalid (errno set) on a refusal.
UniqueFd OpenRegularFile(const char *path);
// The same as a stdio stream for binary reading.
FilePtr OpenRegularStream(const char *path);

// The last-modification time of an existing file.
std::optional<timespec> ModificationTime(const char *path);
// Sets the last-modification time; the access time is left alone.
bool SetModificationTime(const char *path, const timespec &time);

// True when the path names the same file: equal strings, or both exist and
// have the same device and inode.
bool SameFile(const char *a, const char *b);

// Device and inode of an existing file.
std::optional<std::pair<uint64_t, uint64_t>> FileIdentity(const char *path);

// Size of an existing file in bytes.
std::optional<uint64_t> FileSize(const char *path);

// Memory available to the process now, in bytes (0 when unknown).
uint64_t AvailableMemory();

// True when the file exists and the caller may not write it.
bool IsReadOnly(const char *path);

}  // namespace mk::platform
