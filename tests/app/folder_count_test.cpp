// The folder commands' scan thread, without Qt: what it collects and in
// which order, its few running reports over a large folder, and a stop or a
// cleared "include sub-folders" from the watching thread, which end the
// scan at the next entry with the pictures before it kept. Run under
// ThreadSanitizer by the test command.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "folder_count.h"
#include "path_list.h"

namespace fs = std::filesystem;

using mk::app::FolderScan;
using mk::app::FolderScanListener;
using mk::app::FolderScanOptions;
using mk::app::FolderScanResult;
using mk::paths::PathListBuffer;

namespace {

using namespace std::chrono_literals;

class ScratchFolder {
  public:
    ScratchFolder() {
        std::string pattern = (fs::temp_directory_path() / "mk_folder_count_XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~ScratchFolder() {
        std::error_code error;
        fs::remove_all(path_, error);
    }
    ScratchFolder(const ScratchFolder &) = delete;
    ScratchFolder &operator=(const ScratchFolder &) = delete;

    const std::string &path() const { return path_; }

  private:
    std::string path_;
};

void Touch(const fs::path &path) {
    fs::create_directories(path.parent_path());
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0) << path;
    ::close(fd);
}

PathListBuffer NewList() {
    return PathListBuffer(mk::app::kPathListStep, PathListBuffer::Growth::kFixedSteps);
}

// A tree with hidden folders, a folder named like a picture, link loops and
// names in mixed case; what a scan with sub-folders collects, in order.
struct Tree {
    ScratchFolder dir;
    std::vector<std::string> flat;
    std::vector<std::string> all;

    Tree() {
        const fs::path root = dir.path();
        for (const char *name :
             {"b.JPG", "a.jpg", "notes.txt", "c.jpe", "sub/d.jpeg", "sub/deeper/e.jpg",
              "Sub2/f.jpg", ".hidden/g.jpg", "sub/.also/h.jpg", "x.jpg/inside.jpg"})
            Touch(root / name);
        // Loops through links are never followed.
        fs::create_directory_symlink("..", root / "sub" / "up");
        fs::create_directory_symlink(".", root / "self");
        flat = {"a.jpg", "b.JPG", "c.jpe"};
        all = {"a.jpg",      "b.JPG",           "c.jpe", "sub/d.jpeg", "sub/deeper/e.jpg",
               "Sub2/f.jpg", "x.jpg/inside.jpg"};
        for (std::string &name : flat) name = dir.path() + "/" + name;
        for (std::string &name : all) name = dir.path() + "/" + name;
    }
};

FolderScanResult Collect(const std::string &folder, bool includeSubFolders, PathListBuffer &list) {
    FolderScanOptions options;
    options.folder = folder;
    options.includeSubFolders = includeSubFolders;
    options.collect = &list;
    return FolderScan::Run(options, {});
}

}  // namespace

TEST(FolderCount, CollectsThePicturesInScanOrder) {
    Tree tree;
    struct Case {
        std::string folder;
        bool includeSubFolders;
        const std::vector<std::string> *expected;
    };
    const Case cases[] = {
        {tree.dir.path(), false, &tree.flat},
        {tree.dir.path(), true, &tree.all},
        // The separator written out gives the same paths, not "//".
        {tree.dir.path() + "/", false, &tree.flat},
        {tree.dir.path() + "/", true, &tree.all},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.folder + (c.includeSubFolders ? " with sub-folders" : ""));
        PathListBuffer list = NewList();
        const FolderScanResult result = Collect(c.folder, c.includeSubFolders, list);
        EXPECT_EQ(list.Entries(), *c.expected);
        EXPECT_EQ(result.pictures, int32_t(c.expected->size()));
        EXPECT_FALSE(result.stopped);
        // The thread collects the same.
        PathListBuffer threaded = NewList();
        FolderScanOptions options;
        options.folder = c.folder;
        options.includeSubFolders = c.includeSubFolders;
        options.collect = &threaded;
        FolderScan scan(options, {});
        scan.join();
        EXPECT_EQ(threaded.Entries(), *c.expected);
        EXPECT_TRUE(scan.finished());
        EXPECT_EQ(scan.result().pictures, int32_t(c.expected->size()));
    }
}

TEST(FolderCount, ManyPicturesSendAFewReportsAndAFinalCount) {
    ScratchFolder dir;
    constexpr int kPictures = 10000;
    for (int i = 0; i < kPictures; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "IMG_%05d.jpg", i);
        Touch(fs::path(dir.path()) / "pictures" / name);
    }
    struct Counts {
        std::mutex mutex;
        std::vector<int32_t> reports;
        int finishes = 0;
        int32_t final = -1;
    } counts;
    PathListBuffer list = NewList();
    FolderScanOptions options;
    options.folder = dir.path();
    options.includeSubFolders = true;
    options.collect = &list;
    options.reportInterval = 5ms;
    FolderScanListener listener;
    listener.progress = [&counts](int32_t pictures, int32_t) {
        const std::lock_guard<std::mutex> lock(counts.mutex);
        counts.reports.push_back(pictures);
    };
    listener.finished = [&counts](const FolderScanResult &result) {
        const std::lock_guard<std::mutex> lock(counts.mutex);
        ++counts.finishes;
        counts.final = result.pictures;
    };
    const auto start = std::chrono::steady_clock::now();
    FolderScan scan(options, listener);
    scan.join();
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(counts.finishes, 1);
    EXPECT_EQ(counts.final, kPictures);
    EXPECT_EQ(list.count(), size_t(kPictures));
    // No more reports than intervals went by, each count above the last.
    EXPECT_LE(counts.reports.size(), size_t(elapsed / options.reportInterval) + 1);
    for (size_t i = 1; i < counts.reports.size(); ++i)
        EXPECT_GE(counts.reports[i], counts.reports[i - 1]);
    // The list grows in whole steps.
    EXPECT_EQ(list.capacity() % mk::app::kPathListStep, 0u);
    EXPECT_GT(list.capacity(), mk::app::kPathListStep);
}

namespace {

// Holds the scan thread inside its picture rule at the `at`-th picture
// until the test lets it go on, so that a stop lands at a known entry.
class Gate {
  public:
    explicit Gate(int at) : at_(at) {}

    mk::app::PictureFilter filter() {
        return [this](std::string_view name) {
            const bool picture = name.size() > 4 && name.substr(name.size() - 4) == ".jpg";
            if (!picture) return false;
            if (asked_.fetch_add(1) + 1 == at_) {
                std::unique_lock<std::mutex> lock(mutex_);
                reached_ = true;
                changed_.notify_all();
                changed_.wait(lock, [this] { return released_; });
            }
            return true;
        };
    }
    void waitUntilReached() {
        std::unique_lock<std::mutex> lock(mutex_);
        ASSERT_TRUE(changed_.wait_for(lock, 30s, [this] { return reached_; }));
    }
    void release() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            released_ = true;
        }
        changed_.notify_all();
    }
    int asked() const { return asked_.load(); }

  private:
    const int at_;
    std::atomic<int> asked_{0};
    std::mutex mutex_;
    std::condition_variable changed_;
    bool reached_ = false;
    bool released_ = false;
};

// 5 folders of 20 pictures below the top, which has 3.
struct BigTree {
    ScratchFolder dir;
    BigTree() {
        const fs::path root = dir.path();
        for (const char *name : {"t1.jpg", "t2.jpg", "t3.jpg"}) Touch(root / name);
        for (int f = 0; f < 5; ++f) {
            for (int p = 0; p < 20; ++p) {
                char name[32];
                std::snprintf(name, sizeof name, "f%d/p%02d.jpg", f, p);
                Touch(root / name);
            }
        }
    }
    std::vector<std::string> FullOrder() const {
        PathListBuffer list = NewList();
        Collect(dir.path(), true, list);
        return list.Entries();
    }
};

}  // namespace

TEST(FolderCount, AStopKeepsThePicturesFoundBeforeIt) {
    BigTree tree;
    const std::vector<std::string> full = tree.FullOrder();
    ASSERT_EQ(full.size(), 103u);
    // Stopped at the 3rd picture of the top, in the middle of a sub-folder,
    // and at the very last picture.
    for (const int at : {3, 50, 103}) {
        SCOPED_TRACE(at);
        Gate gate(at);
        PathListBuffer list = NewList();
        std::atomic<int> finishes{0};
        FolderScanOptions options;
        options.folder = tree.dir.path();
        options.includeSubFolders = true;
        options.collect = &list;
        options.accept = gate.filter();
        FolderScanListener listener;
        listener.finished = [&finishes](const FolderScanResult &) { finishes.fetch_add(1); };
        FolderScan scan(options, listener);
        gate.waitUntilReached();
        EXPECT_FALSE(scan.finished());
        scan.requestStop();
        gate.release();
        scan.join();
        EXPECT_EQ(finishes.load(), 1);
        // The picture being looked at when the stop came is the last one.
        const std::vector<std::string> kept = list.Entries();
        ASSERT_EQ(kept.size(), size_t(at));
        EXPECT_TRUE(std::equal(kept.begin(), kept.end(), full.begin()));
        EXPECT_EQ(gate.asked(), at);
        EXPECT_TRUE(scan.result().stopped);
        EXPECT_EQ(scan.result().pictures, at);
    }
}

TEST(FolderCount, ClearingSubFoldersEndsTheDescentAtOnce) {
    BigTree tree;
    Gate gate(30);
    FolderScanOptions options;
    options.folder = tree.dir.path();
    options.includeSubFolders = true;
    options.accept = gate.filter();
    FolderScan scan(options, {});
    gate.waitUntilReached();
    scan.excludeSubFolders();
    gate.release();
    scan.join();
    // Not one picture more after the one in hand.
    EXPECT_EQ(gate.asked(), 30);
    EXPECT_EQ(scan.pictureCount(), 30);
    EXPECT_TRUE(scan.result().stopped);
}

TEST(FolderCount, DestroyingARunningScanStopsAndJoinsIt) {
    BigTree tree;
    Gate gate(10);
    std::atomic<int> finishes{0};
    std::thread opener;
    {
        FolderScanOptions options;
        options.folder = tree.dir.path();
        options.includeSubFolders = true;
        options.accept = gate.filter();
        FolderScanListener listener;
        listener.finished = [&finishes](const FolderScanResult &) { finishes.fetch_add(1); };
        FolderScan scan(options, listener);
        gate.waitUntilReached();
        // The destructor sets the stop before it joins; the gate opens
        // from another thread a little later.
        opener = std::thread([&gate] {
            std::this_thread::sleep_for(20ms);
            gate.release();
        });
    }
    opener.join();
    EXPECT_EQ(finishes.load(), 1);
    EXPECT_EQ(gate.asked(), 10);
}
