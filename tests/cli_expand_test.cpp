// Pattern matching, listing order and pattern expansion of mkquill (the
// listing is the path library's, seen here as the tool uses it).
#include "expand.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "folder_walk.h"
#include "path_list.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace mk::cli {
namespace {

using mk::paths::ListFolder;
using mk::paths::NameLess;
using mk::paths::PathListBuffer;
using mk::test::TempDir;
using mk::test::WriteFile;

struct MatchCase {
    const char *pattern;
    const char *name;
    bool matches;
};

TEST(CliExpand, MatchName) {
    const std::vector<MatchCase> cases = {
        {"*", "a.jpg", true},
        {"*", ".", true},
        {"*", "..", true},
        {".*", ".", true},
        {".*", "..", true},
        {".*", "a.jpg", false},
        {"*.jpg", "IMG_0001.JPG", true},
        {"*.JPG", "img_0001.jpg", true},
        {"*.jpg", "a.jpeg", false},
        {"*.jpg", "a.jpg.bak", false},
        {"*.jpg", ".jpg", true},
        {"a.jpg", "A.JPG", true},
        {"a.jpg", "a.jpg ", false},
        {"?.jpg", "a.jpg", true},
        {"?.jpg", "ab.jpg", false},
        {"?.jpg", ".jpg", false},
        {"??", "ab", true},
        {"??", "a", false},
        {"img_????.*", "IMG_0001.JPG", true},
        {"img_????.*", "IMG_001.JPG", false},
        {"*_*_*", "a_b_c", true},
        {"*_*_*", "a_b", false},
        {"a*b*c", "aXbYbZc", true},
        {"a*b*c", "aXbYbZ", false},
        {"**", "", true},
        {"", "", true},
        {"", "a", false},
        {"*x", "", false},
        // No bracket classes: '[' and ']' are plain characters.
        {"[ab].jpg", "a.jpg", false},
        {"[ab].jpg", "[ab].jpg", true},
        {"[ab].jpg", "[AB].JPG", true},
        {"[*].jpg", "[x].jpg", true},
        {"\\*", "\\abc", true},
        // '?' is one character, also when it takes several bytes.
        {"?.jpg", "\xC3\xA9.jpg", true},
        {"??.jpg", "\xC3\xA9.jpg", false},
        {"*\xC3\xA9.jpg", "caf\xC3\xA9.jpg", true},
        // Case is folded for ASCII letters only.
        {"\xC3\xA9.jpg", "\xC3\x89.jpg", false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(MatchName(c.pattern, c.name), c.matches) << c.pattern << " ~ " << c.name;
}

TEST(CliExpand, NameOrder) {
    std::vector<std::string> names = {"b.jpg", "_u.jpg", "a.JPG",  "A.jpg",  "..",
                                      "Dir",   "!bang",  ".",      ".hid",   "a",
                                      "[x]",   "Z",      "a.jpg2", "10.jpg", "9.jpg"};
    std::sort(names.begin(), names.end(), NameLess);
    // "." and ".." first; then by upper-cased bytes (so '_' and '[' follow the
    // letters), shorter before longer, case-only twins in byte order.
    EXPECT_EQ(names,
              (std::vector<std::string>{".", "..", "!bang", ".hid", "10.jpg", "9.jpg", "a", "A.jpg",
                                        "a.JPG", "a.jpg2", "b.jpg", "Dir", "Z", "[x]", "_u.jpg"}));
}

TEST(CliExpand, ListFolder) {
    TempDir dir;
    WriteFile(dir.path() / "b.jpg", std::string("x"));
    WriteFile(dir.path() / "A.jpg", std::string("x"));
    fs::create_directories(dir.path() / "sub");
    fs::create_symlink(dir.path() / "sub", dir.path() / "link");
    const auto entries = ListFolder(dir.path().string() + "/");
    std::vector<std::pair<std::string, bool>> seen;
    for (const auto &e : entries) seen.emplace_back(e.name, e.isFolder);
    EXPECT_EQ(seen, (std::vector<std::pair<std::string, bool>>{
                        {".", true},
                        {"..", true},
                        {"A.jpg", false},
                        {"b.jpg", false},
                        {"link", false},
                        {"sub", true},
                    }));
    EXPECT_TRUE(ListFolder((dir.path() / "missing").string()).empty());
}

class CliExpandTree : public ::testing::Test {
  protected:
    CliExpandTree() {
        for (const char *name : {"a.jpg", "B.JPG", "n.txt", "s1/c.jpg", "s1/t/d.jpg", "S0/e.jpg",
                                 ".h/f.jpg", "s1/.g/g.jpg"}) {
            const fs::path path = dir_.path() / name;
            fs::create_directories(path.parent_path());
            WriteFile(path, std::string("x"));
        }
        // A link back up would loop if it were followed.
        fs::create_directory_symlink(dir_.path(), dir_.path() / "s1/up");
    }

    std::vector<std::string> Expand(const std::string &pattern, bool recursive) {
        PathListBuffer list(1024);
        const size_t added = ExpandPattern(root_ + pattern, recursive, list);
        EXPECT_EQ(added, list.count());
        std::vector<std::string> entries = list.Entries();
        for (auto &e : entries) e = e.substr(root_.size());
        return entries;
    }

    TempDir dir_;
    const std::string root_ = dir_.path().string() + "/";
};

TEST_F(CliExpandTree, FlatAndRecursive) {
    EXPECT_EQ(Expand("*.jpg", false), (std::vector<std::string>{"a.jpg", "B.JPG"}));
    EXPECT_EQ(Expand("*.jpg", true),
              (std::vector<std::string>{"a.jpg", "B.JPG", "S0/e.jpg", "s1/c.jpg", "s1/t/d.jpg"}));
    EXPECT_EQ(Expand("d.JPG", true), (std::vector<std::string>{"s1/t/d.jpg"}));
    // No attribute filter: folders and the dot entries match like files.
    EXPECT_EQ(Expand("*", false),
              (std::vector<std::string>{".", "..", ".h", "a.jpg", "B.JPG", "n.txt", "S0", "s1"}));
    EXPECT_EQ(Expand("s*", true), (std::vector<std::string>{"S0", "s1"}));
    // The link is an entry, but it is not entered.
    EXPECT_EQ(Expand("u*", true), (std::vector<std::string>{"s1/up"}));
    EXPECT_TRUE(Expand("none", true).empty());
}

TEST(CliExpand, RelativePatternsSearchTheCurrentFolder) {
    TempDir dir;
    WriteFile(dir.path() / "x.jpg", std::string("x"));
    fs::create_directories(dir.path() / "p");
    WriteFile(dir.path() / "p/y.jpg", std::string("x"));
    const fs::path previous = fs::current_path();
    fs::current_path(dir.path());
    PathListBuffer list(1024);
    ExpandPattern("*.jpg", true, list);
    ExpandPattern("p/*.JPG", false, list);
    fs::current_path(previous);
    EXPECT_EQ(list.Entries(), (std::vector<std::string>{"x.jpg", "p/y.jpg", "p/y.jpg"}));
}

}  // namespace
}  // namespace mk::cli
