// Tests of MK_ProcessFiles with the progress dialog, through the shared
// library: the files are processed on a worker thread, behind the dialog when
// a display is there and without it when none is.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <thread>
#include <vector>

#include "MK_Core.h"
#include "test_support.h"

namespace {

struct Seen {
    std::vector<std::string> destinations;
    std::vector<int32_t> results;
    std::vector<std::thread::id> threads;
};

int32_t Note(const char *destination, int32_t result, void *userData) {
    auto &seen = *static_cast<Seen *>(userData);
    seen.destinations.push_back(destination);
    seen.results.push_back(result);
    seen.threads.push_back(std::this_thread::get_id());
    return 0;
}

void RunWithProgress(Seen &seen) {
    mk::test::TempDir dir;
    setenv("XDG_CONFIG_HOME", dir.file("config").c_str(), 1);
    std::string list;
    for (const char *name : {"one.txt", "two.txt"}) list.append(dir.file(name)).push_back('\0');
    list.push_back('\0');
    // Unknown operation: every file is reported with 100, nothing is touched.
    EXPECT_EQ(
        MK_ProcessFiles(nullptr, list.c_str(), nullptr, 7, PF_SHOW_PROGRESS, nullptr, Note, &seen),
        0);
}

TEST(Progress, DialogOnAnOffscreenDisplay) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    Seen seen;
    RunWithProgress(seen);
    ASSERT_EQ(seen.results.size(), 2u);
    EXPECT_EQ(seen.results[0], 100);
    EXPECT_NE(seen.threads[0], std::this_thread::get_id());
}

TEST(Progress, NoDisplayRunsTheSameLoopWithoutTheDialog) {
    unsetenv("QT_QPA_PLATFORM");
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    Seen seen;
    RunWithProgress(seen);
    ASSERT_EQ(seen.results.size(), 2u);
    EXPECT_EQ(seen.results[1], 100);
    EXPECT_NE(seen.destinations[1].find("two.txt"), std::string::npos);
}

}  // namespace
