// Writing a file so that a reader never sees it half-written and a failure
// never damages what was there: the data goes to a file in the
// destination's folder that has no name yet (see scratch_file.h), is flushed
// to disk and only then given the destination's name, replacing the old
// file. An interrupted process leaves nothing behind.
#pragma once

#include <cstdio>
#include <string>

#include "platform/handles.h"
#include "platform/scratch_file.h"

namespace mk::platform {

class AtomicFile {
  public:
    AtomicFile() = default;
    ~AtomicFile();  // discards the temporary file unless committed
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;
    // The temporary file, open or not, goes with the object.
    AtomicFile(AtomicFile &&other) noexcept;
    AtomicFile &operator=(AtomicFile &&other) noexcept;

    // Creates the file that will become `destination`. A new file gets the
    // usual mode (0666 less the umask); an existing destination keeps its
    // permission bits. False (errno set) when it cannot be created.
    bool Open(const std::string &destination);

    // The stream to write to; valid between Open and Commit.
    FILE *stream() const { return file_.get(); }

    // Hands what was written so far to the kernel and, where the system
    // allows, starts writing it to disk without waiting, so that Commit's
    // sync finds little left to do. Never fails; errors show in Commit.
    void StartWriteBack() noexcept;

    // Flushes and syncs the file, gives it the destination's name in place
    // of the old file, then syncs the folder. False when any step failed
    // (the destination is untouched).
    bool Commit();

    // Closes the file without giving it a name.
    void Discard() noexcept;

  private:
    std::string destination_;
    ScratchFile scratch_;
    FilePtr file_;
};

// Writes `size` bytes as the whole content of `path` through an AtomicFile.
bool WriteFileAtomically(const std::string &path, const void *data, size_t size);

}  // namespace mk::platform
