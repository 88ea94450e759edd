// Pattern matching and expansion.
#include "expand.h"

#include <string>
#include <vector>

#include "folder_walk.h"

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

// Adds the pattern's matches in one folder and, when recursive, descends.
// `prefix` is what entries of this folder begin with: empty at the top, else
// the folder followed by '/'.
size_t ExpandIn(std::string_view pattern, const std::string &prefix, bool recursive,
                paths::PathListBuffer &list) {
    const std::vector<paths::FolderEntry> entries = paths::ListFolder(prefix);
    size_t added = 0;
    for (const paths::FolderEntry &entry : entries) {
        if (!MatchName(pattern, entry.name)) continue;
        list.Add(prefix + entry.name);
        ++added;
    }
    if (!recursive) return added;
    for (const paths::FolderEntry &entry : entries) {
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

size_t ExpandPattern(std::string_view pattern, bool recursive, paths::PathListBuffer &list) {
    const size_t slash = pattern.rfind('/');
    if (slash == std::string_view::npos) return ExpandIn(pattern, std::string(), recursive, list);
    return ExpandIn(pattern.substr(slash + 1), std::string(pattern.substr(0, slash + 1)), recursive,
                    list);
}

}  // namespace mk::cli
