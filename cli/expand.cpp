// Pattern matching and expansion.
#include "expand.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>

namespace mk::cli {
namespace {

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Length of the character (UTF-8 code point) at the start of text.
size_t CharacterLength(std::string_view text) {
    size_t length = 1;
    while (length < text.size() && IsContinuationByte(text[length])) ++length;
    return length;
}

struct DirCloser {
    void operator()(DIR *dir) const noexcept { ::closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

bool IsRealFolder(const std::string &folder, const dirent &entry) {
    if (entry.d_type == DT_DIR) return true;
    if (entry.d_type != DT_UNKNOWN) return false;
    // Some file systems do not fill in the type.
    struct stat info {};
    std::string path = folder;
    if (!path.empty() && path.back() != '/') path += '/';
    path += entry.d_name;
    return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Adds the pattern's matches in one folder and, when recursive, descends.
// `prefix` is what entries of this folder begin with: empty at the top, else
// the folder followed by '/'.
size_t ExpandIn(std::string_view pattern, const std::string &prefix, bool recursive,
                PathListBuffer &list) {
    const std::vector<FolderEntry> entries = ListFolder(prefix);
    size_t added = 0;
    for (const FolderEntry &entry : entries) {
        if (!MatchName(pattern, entry.name)) continue;
        list.Add(prefix + entry.name);
        ++added;
    }
    if (!recursive) return added;
    for (const FolderEntry &entry : entries) {
        // Skips ".", ".." and hidden folders alike.
        if (!entry.isFolder || entry.name.front() == '.') continue;
        added += ExpandIn(pattern, prefix + entry.name + "/", true, list);
    }
    return added;
}

}  // namespace

bool MatchName(std::string_view pattern, std::string_view name) {
    // Iterative wildcard match with backtracking to the last '*'.
    size_t p = 0, n = 0;
    size_t starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() && pattern[p] == '?') {
            ++p;
            n += CharacterLength(name.substr(n));
        } else if (p < pattern.size() && Upper(pattern[p]) == Upper(name[n])) {
            ++p;
            ++n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            starN += CharacterLength(name.substr(starN));
            n = starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

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
    // "." and ".." are added whether or not the file system lists them.
    entries.push_back({".", true});
    entries.push_back({"..", true});
    while (const dirent *entry = ::readdir(dir.get())) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        entries.push_back({std::string(name), IsRealFolder(folder, *entry)});
    }
    std::sort(entries.begin(), entries.end(),
              [](const FolderEntry &a, const FolderEntry &b) { return NameLess(a.name, b.name); });
    return entries;
}

size_t ExpandPattern(std::string_view pattern, bool recursive, PathListBuffer &list) {
    const size_t slash = pattern.rfind('/');
    if (slash == std::string_view::npos) return ExpandIn(pattern, std::string(), recursive, list);
    return ExpandIn(pattern.substr(slash + 1), std::string(pattern.substr(0, slash + 1)), recursive,
                    list);
}

}  // namespace mk::cli
