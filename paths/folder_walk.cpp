// Folder listings in name order and the scan of a folder tree for pictures.
#include "folder_walk.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <numeric>
#include <optional>

namespace mk::paths {
namespace {

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

struct DirCloser {
    void operator()(DIR *dir) const noexcept { ::closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

bool IsRealFolder(const std::string &folder, const dirent &entry) {
    if (entry.d_type == DT_DIR) return true;
    if (entry.d_type != DT_UNKNOWN) return false;
    // Some file systems do not fill in the type.
    struct stat info {};
    const std::string path = JoinPath(folder, entry.d_name);
    return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool Interrupted(const ScanControl &control, bool descending) {
    return control.stop.load() || (descending && !control.includeSubFolders.load());
}

void Progress(const ScanControl &control, const ScanEvents &events) {
    if (events.progress) events.progress(control.pictureCount.load(), control.folderCount.load());
}

// One level of the scan: the folder's own entries, then (with sub-folders
// included) each sub-folder tree. Nothing when the scan was interrupted,
// which makes every level above give up as well. `descending` is true below
// the top, where clearing includeSubFolders ends the level too.
std::optional<int32_t> ScanLevel(const std::string &folder, bool descending, ScanControl &control,
                                 const ScanEvents &events) {
    std::vector<FolderEntry> entries = ListFolder(folder);
    // A folder that can be read lists at least "." and "..".
    if (entries.empty()) return 0;
    int32_t found = 0;
    std::vector<std::string> subFolders;
    for (FolderEntry &entry : entries) {
        if (Interrupted(control, descending)) return std::nullopt;
        if (entry.isFolder) {
            // Skips ".", ".." and hidden folders alike.
            if (entry.name.front() != '.') subFolders.push_back(std::move(entry.name));
            continue;
        }
        if (events.accept && !events.accept(entry.name)) continue;
        ++found;
        control.pictureCount.fetch_add(1);
        if (events.picture) events.picture(JoinPath(folder, entry.name));
    }
    // The folder's own names are not needed below it; deep trees of large
    // folders keep only the sub-folders' names of each level.
    entries = {};
    Progress(control, events);

    if (!control.includeSubFolders.load()) {
        if (descending) return std::nullopt;
        return found;
    }
    for (const std::string &name : subFolders) {
        if (Interrupted(control, true)) return std::nullopt;
        const std::optional<int32_t> below =
            ScanLevel(JoinPath(folder, name), true, control, events);
        if (!below) return std::nullopt;
        found += *below;
        // In the default (sequentially consistent) order, after the pictures
        // it holds: a watcher that sees a folder counted sees its pictures.
        control.folderCount.fetch_add(1);
        Progress(control, events);
    }
    return found;
}

}  // namespace

bool NameLess(std::string_view a, std::string_view b) {
    // "." and ".." lead every listing, as the Windows file system returns them.
    const auto rank = [](std::string_view s) { return s == "." ? 0 : s == ".." ? 1 : 2; };
    if (rank(a) != rank(b)) return rank(a) < rank(b);
    const size_t common = std::min(a.size(), b.size());
    for (size_t i = 0; i < common; ++i) {
        const auto ua = static_cast<unsigned char>(Upper(a[i]));
        const auto ub = static_cast<unsigned char>(Upper(b[i]));
        if (ua != ub) return ua < ub;
    }
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
}

std::vector<FolderEntry> ListFolder(const std::string &folder) {
    std::vector<FolderEntry> entries;
    DirHandle dir(::opendir(folder.empty() ? "." : folder.c_str()));
    if (!dir) return entries;
    std::vector<FolderEntry> read;
    // The upper-cased names, made once: sorting on them compares plain bytes
    // instead of folding case again in each of the n log n comparisons.
    std::vector<std::string> keys;
    while (const dirent *entry = ::readdir(dir.get())) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        read.push_back({std::string(name), IsRealFolder(folder, *entry)});
        std::string key(name);
        for (char &c : key) c = Upper(c);
        keys.push_back(std::move(key));
    }
    std::vector<size_t> order(read.size());
    std::iota(order.begin(), order.end(), size_t{0});
    // The order of NameLess for names other than "." and "..": upper-cased
    // bytes, a shorter name first, then the names' own bytes.
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        const int byKey = keys[a].compare(keys[b]);
        return byKey != 0 ? byKey < 0 : read[a].name < read[b].name;
    });
    entries.reserve(read.size() + 2);
    // "." and ".." lead, whether or not the file system lists them.
    entries.push_back({".", true});
    entries.push_back({"..", true});
    for (const size_t i : order) entries.push_back(std::move(read[i]));
    return entries;
}

std::string JoinPath(const std::string &folder, std::string_view name) {
    std::string path;
    path.reserve(folder.size() + 1 + name.size());
    path = folder;
    if (!path.empty() && path.back() != '/') path += '/';
    path += name;
    return path;
}

int32_t ScanFolderTree(const std::string &folder, ScanControl &control, const ScanEvents &events) {
    return ScanLevel(folder, false, control, events).value_or(0);
}

}  // namespace mk::paths
