// The growing path list, destination naming and the per-file report.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "naming.h"
#include "path_list.h"
#include "report.h"

namespace mk::cli {
namespace {

using mk::paths::PathListBuffer;

// The list's bytes up to and including its final empty string.
std::string ListBytes(const PathListBuffer &list) {
    const char *p = list.data();
    while (*p != '\0') p += std::strlen(p) + 1;
    return std::string(list.data(), p + 1);
}

TEST(CliPathList, StartsEmpty) {
    const PathListBuffer list(1024);
    EXPECT_EQ(list.count(), 0u);
    EXPECT_EQ(list.capacity(), 1024u);
    EXPECT_EQ(ListBytes(list), std::string(1, '\0'));
    EXPECT_TRUE(list.Entries().empty());
}

TEST(CliPathList, HoldsEntriesBackToBack) {
    PathListBuffer list(1024);
    list.Add("a.jpg");
    list.Add("sub/b.jpg");
    EXPECT_EQ(list.count(), 2u);
    EXPECT_EQ(ListBytes(list), std::string("a.jpg\0sub/b.jpg\0\0", 17));
    EXPECT_EQ(list.Entries(), (std::vector<std::string>{"a.jpg", "sub/b.jpg"}));
}

struct GrowthStep {
    size_t length;    // entry to add
    size_t capacity;  // buffer size afterwards
};

TEST(CliPathList, GrowsByTheRule) {
    // U + L + 2 > S grows S to L + 2 * S.
    const std::vector<GrowthStep> steps = {
        {4, 16},   // U 0: 0 + 4 + 2 <= 16
        {9, 16},   // U 5: 5 + 9 + 2 = 16 still fits
        {1, 33},   // U 15: 15 + 1 + 2 > 16, so 1 + 2 * 16
        {15, 81},  // U 17: 17 + 15 + 2 > 33, so 15 + 2 * 33
        {10, 81},  // U 33: 33 + 10 + 2 <= 81
    };
    PathListBuffer list(16);
    std::vector<std::string> added;
    for (size_t i = 0; i < steps.size(); ++i) {
        added.emplace_back(steps[i].length, static_cast<char>('a' + i));
        list.Add(added.back());
        EXPECT_EQ(list.capacity(), steps[i].capacity) << "step " << i;
    }
    EXPECT_EQ(list.Entries(), added);
}

TEST(CliPathList, KeepsEveryEntryPastTheFirstKilobyte) {
    PathListBuffer list(1024);
    std::vector<std::string> added;
    for (int i = 0; i < 200; ++i) {
        added.push_back("folder/picture_" + std::to_string(i) + ".jpg");
        list.Add(added.back());
    }
    EXPECT_GT(list.capacity(), 1024u);
    EXPECT_EQ(list.count(), 200u);
    EXPECT_EQ(list.Entries(), added);
    // One entry longer than the whole buffer.
    PathListBuffer small(8);
    small.Add(std::string(100, 'x'));
    EXPECT_EQ(small.capacity(), 116u);
    EXPECT_EQ(small.Entries(), std::vector<std::string>{std::string(100, 'x')});
}

TEST(CliNaming, PrefixedName) {
    const std::vector<std::tuple<const char *, const char *, const char *>> cases = {
        {"img_0001.jpg", "stamp_", "stamp_img_0001.jpg"},
        {"photos/img_0001.jpg", "stamp_", "photos/stamp_img_0001.jpg"},
        {"a.jpg", "old_", "old_a.jpg"},
        {"/abs/dir/IMG_1.JPG", "x", "/abs/dir/xIMG_1.JPG"},
        {"./a.b.c.jpg", "p", "./pa.b.c.jpg"},
        {"noext", "p_", "p_noext"},
        {".jpg", "p_", "p_.jpg"},
        {"..", "stamp_", "stamp_.."},
        {"sub/.", "stamp_", "sub/stamp_."},
        {"dir.d/name", "s_", "dir.d/s_name"},
    };
    for (const auto &[source, prefix, expected] : cases)
        EXPECT_EQ(PrefixedName(source, prefix), expected) << source;
}

TEST(CliNaming, WhereResultsGo) {
    const std::vector<std::tuple<int32_t, bool, bool>> cases = {
        {OP_STAMP, false, false},
        {OP_STAMP, true, true},
        {OP_UNDO, false, true},
        {OP_UNDO, true, true},
    };
    for (const auto &[operation, overwrite, inPlace] : cases) {
        RunState state;
        state.operation = operation;
        state.overwrite = overwrite;
        state.prefix = "p_";
        EXPECT_EQ(WritesInPlace(state), inPlace) << operation << overwrite;
        PathListBuffer sources(1024);
        sources.Add("a.jpg");
        sources.Add("sub/b.jpg");
        const PathListBuffer destinations = BuildDestinations(sources, state);
        const std::vector<std::string> prefixed = {"p_a.jpg", "sub/p_b.jpg"};
        EXPECT_EQ(destinations.Entries(), inPlace ? sources.Entries() : prefixed);
    }
}

TEST(CliNaming, LongDestinationsAreKeptWhole) {
    RunState state;
    state.prefix = std::string(300, 'p');
    PathListBuffer sources(1024);
    sources.Add("a.jpg");
    const std::vector<std::string> expected = {state.prefix + "a.jpg"};
    EXPECT_EQ(BuildDestinations(sources, state).Entries(), expected);
}

struct ReportCase {
    int32_t verbosity;
    int32_t operation;
    int32_t result;
    std::string text;
};

TEST(CliReport, Lines) {
    const std::vector<ReportCase> cases = {
        {4, OP_STAMP, 0, " Stamp:  d.jpg\r\n"},
        {4, OP_STAMP, -1, "Error -  Stamp:  d.jpg\r\n"},
        {4, OP_UNDO, 0, " Undo Stamp:  d.jpg\r\n"},
        {4, OP_UNDO, -12, "Error -  Undo Stamp:  d.jpg\r\n"},
        {3, OP_STAMP, 0, " Stamp:  d.jpg\r"},
        {3, OP_UNDO, 100, "Error -  Undo Stamp:  d.jpg\r"},
        {9, OP_STAMP, 1, "Error -  Stamp:  d.jpg\r\n"},
        {2, OP_STAMP, -1, ""},
        {0, OP_STAMP, 0, ""},
        {-1, OP_UNDO, 0, ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ReportText(c.verbosity, c.operation, c.result, "d.jpg"), c.text)
            << c.verbosity << " " << c.operation << " " << c.result;
}

}  // namespace
}  // namespace mk::cli
