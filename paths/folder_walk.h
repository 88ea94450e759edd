// Folder listings in name order, which the command-line tool's recursion
// walks, and the scan of a folder tree for pictures that the desktop
// program's folder commands run on a thread of their own (with a stop flag
// the user-interface thread sets). Both walk a tree the same way:
//
// - A listing holds "." and ".." first, then the other names in order of
//   their upper-cased bytes, names that differ only in case in byte order.
// - Recursion is depth-first, pre-order: a folder's own entries, then each
//   sub-folder's in name order. Sub-folders whose names begin with '.' are
//   never entered, nor are symbolic links to folders (so link loops end).
// - Entry types come from the listing itself; a file is looked at (lstat)
//   only on file systems that do not say what an entry is.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace mk::paths {

// The listing order: true when a sorts before b.
bool NameLess(std::string_view a, std::string_view b);

struct FolderEntry {
    std::string name;
    // A real folder, not a symbolic link to one.
    bool isFolder = false;
};

// The entries of the folder, "." and ".." included, in listing order. The
// empty string is the current folder. An unreadable folder has no entries.
std::vector<FolderEntry> ListFolder(const std::string &folder);

// `folder` and `name` joined by one '/' ("/" + "a" gives "/a", "x/" + "a"
// gives "x/a", "" + "a" gives "a").
std::string JoinPath(const std::string &folder, std::string_view name);

// Shared between the thread that scans and the one that watches: the two
// flags are written by the watcher only, the counters by the scan only.
struct ScanControl {
    // Asks the scan to stop: it returns at the next entry.
    std::atomic<bool> stop{false};
    // Clearing it while a scan runs stops the descent at once.
    std::atomic<bool> includeSubFolders{false};
    // Pictures found so far.
    std::atomic<int32_t> pictureCount{0};
    // Sub-folders scanned so far.
    std::atomic<int32_t> folderCount{0};
};

struct ScanEvents {
    // Tells whether a file name is a picture to take (the caller's rule,
    // e.g. the core's MK_IsSupportedFile: the view's data is NUL-terminated,
    // so it can be handed to a C function as it is). Asked only for entries
    // that are not real folders, so a folder named "x.jpg" is no picture.
    // When empty, every such entry is taken.
    std::function<bool(std::string_view name)> accept;
    // A picture found: its path (folder joined with the name). May be empty.
    std::function<void(const std::string &path)> picture;
    // After each folder's own entries and after each sub-folder tree, with
    // the counts so far (pictureCount, folderCount). May be empty.
    std::function<void(int32_t pictures, int32_t folders)> progress;
};

// Scans `folder` (and with includeSubFolders its sub-folders) on the calling
// thread, counting into `control`; the counters are added to, not reset.
// Returns the number of pictures found. The flags are read before every
// entry: a stop, or clearing includeSubFolders while sub-folders are being
// scanned, makes the levels still running return 0 at once (the pictures
// already reported stay reported, and a sub-folder tree left unfinished is
// not counted in folderCount). With includeSubFolders clear from the start
// only `folder` itself is scanned. A folder that cannot be read counts 0
// and reports no progress of its own; below the top it still counts as a
// scanned sub-folder.
int32_t ScanFolderTree(const std::string &folder, ScanControl &control, const ScanEvents &events);

}  // namespace mk::paths
