// The growing path list of the path library: both ways of growing, step by
// step, with the list whole after every entry.
#include "path_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace mk::paths {
namespace {

using Growth = PathListBuffer::Growth;

struct Step {
    size_t length;    // entry to add
    size_t capacity;  // buffer size afterwards
};

struct GrowthCase {
    const char *name;
    size_t initialSize;
    Growth growth;
    std::vector<Step> steps;
};

// The bytes a list of these entries must hold: each with its terminator,
// then the empty string that ends the list.
std::string ExpectedBytes(const std::vector<std::string> &entries) {
    std::string bytes;
    for (const std::string &entry : entries) bytes += entry + '\0';
    return bytes + '\0';
}

TEST(PathList, GrowsStepByStep) {
    const std::vector<GrowthCase> cases = {
        // U + L + 2 > S grows S to L + 2 * S.
        {"doubling",
         16,
         Growth::kDoubling,
         {
             {4, 16},   // U 0: 0 + 4 + 2 <= 16
             {9, 16},   // U 5: 5 + 9 + 2 = 16 still fits
             {1, 33},   // U 15: 15 + 1 + 2 > 16, so 1 + 2 * 16
             {15, 81},  // U 17: 17 + 15 + 2 > 33, so 15 + 2 * 33
             {10, 81},  // U 33: 33 + 10 + 2 <= 81
             {200, 362},
         }},
        // U + L + 2 > S grows S by 16 as often as it takes.
        {"fixed steps",
         16,
         Growth::kFixedSteps,
         {
             {4, 16},   // U 0
             {9, 16},   // U 5: 16 fits exactly
             {1, 32},   // U 15: 18 > 16, one step
             {40, 64},  // U 17: 59 > 32, two steps at once
             {4, 64},   // U 58: 64 fits exactly
             {1, 80},   // U 63: 66 > 64
             {14, 96},  // U 65: 81 > 80
             {14, 96},  // U 80: 96 fits exactly
         }},
        // A size of 0 is taken as 1.
        {"doubling from nothing", 0, Growth::kDoubling, {{2, 4}, {1, 9}}},
        {"fixed steps from nothing", 0, Growth::kFixedSteps, {{2, 4}, {1, 6}}},
        {"desktop program's steps",
         65536,
         Growth::kFixedSteps,
         {{65533, 65536}, {1, 131072}, {65534, 131072}, {1, 196608}}},
    };
    for (const GrowthCase &c : cases) {
        SCOPED_TRACE(c.name);
        PathListBuffer list(c.initialSize, c.growth);
        ASSERT_GE(list.capacity(), 1u);
        EXPECT_EQ(list.data()[0], '\0');
        std::vector<std::string> added;
        for (size_t i = 0; i < c.steps.size(); ++i) {
            added.emplace_back(c.steps[i].length, static_cast<char>('a' + i));
            list.Add(added.back());
            EXPECT_EQ(list.capacity(), c.steps[i].capacity) << "step " << i;
            EXPECT_EQ(list.count(), i + 1) << "step " << i;
            const std::string expected = ExpectedBytes(added);
            ASSERT_GE(list.capacity(), expected.size()) << "step " << i;
            EXPECT_EQ(std::string(list.data(), expected.size()), expected) << "step " << i;
        }
        EXPECT_EQ(list.Entries(), added);
    }
}

TEST(PathList, StartsEmpty) {
    for (const Growth growth : {Growth::kDoubling, Growth::kFixedSteps}) {
        const PathListBuffer list(1024, growth);
        EXPECT_EQ(list.count(), 0u);
        EXPECT_EQ(list.capacity(), 1024u);
        EXPECT_EQ(list.data()[0], '\0');
        EXPECT_TRUE(list.Entries().empty());
    }
}

TEST(PathList, ManyEntriesRoundTrip) {
    for (const Growth growth : {Growth::kDoubling, Growth::kFixedSteps}) {
        PathListBuffer list(64, growth);
        std::vector<std::string> added;
        for (int i = 0; i < 3000; ++i) {
            added.push_back("folder " + std::to_string(i % 7) + "/IMG_" + std::to_string(i) +
                            ".jpg");
            list.Add(added.back());
        }
        EXPECT_EQ(list.count(), added.size());
        EXPECT_EQ(list.Entries(), added);
        const std::string expected = ExpectedBytes(added);
        ASSERT_GE(list.capacity(), expected.size());
        EXPECT_EQ(std::string(list.data(), expected.size()), expected);
        // Fixed steps never go past the step that holds the list.
        if (growth == Growth::kFixedSteps) {
            EXPECT_EQ(list.capacity() % 64, 0u);
            EXPECT_LT(list.capacity() - expected.size(), 64u);
        }
    }
}

}  // namespace
}  // namespace mk::paths
