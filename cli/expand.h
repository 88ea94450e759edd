// File-name patterns: matching, and the expansion of one command-line
// pattern into source entries over the path library's folder listings.
//
// The search works like the Windows file search the tool was designed
// around, on this platform's file system:
// - '*' matches any run of characters, '?' one character (one UTF-8 code
//   point); letters match ignoring ASCII case; every other character,
//   '[' and ']' included, matches only itself.
// - A folder listing holds "." and ".." first, then the other names in
//   order of their upper-cased bytes, names that differ only in case in
//   byte order (mk::paths::ListFolder).
// - A pattern with a folder part ("photos/*.jpg", "/abs/IMG_*.JPG") is
//   searched in that folder, and its entries keep the folder part, so that
//   they name files that can be opened from the current folder.
// - Recursion is depth-first, pre-order: a folder's own matches, then each
//   sub-folder's in name order. Sub-folders whose names begin with '.' are
//   not entered, nor are symbolic links to folders (they could loop).
#pragma once

#include <cstddef>
#include <string_view>

#include "path_list.h"

namespace mk::cli {

// True when name matches pattern (see above).
bool MatchName(std::string_view pattern, std::string_view name);

// Adds the matches of a command-line pattern to the list, and with
// `recursive` those of every sub-folder below the pattern's folder. Returns
// the number of entries added.
size_t ExpandPattern(std::string_view pattern, bool recursive, paths::PathListBuffer &list);

}  // namespace mk::cli
