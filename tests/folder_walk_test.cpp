// Folder listings and the folder-tree scan of the path library, on trees
// made under a temporary folder: what is counted, what is entered, the
// order, the progress reports, and a stop or a cleared "include sub-folders"
// from a watching thread.
#include "folder_walk.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "path_list.h"

namespace fs = std::filesystem;

namespace mk::paths {
namespace {

// A fresh folder under the system's temporary folder, removed with its
// contents at the end.
class ScratchFolder {
  public:
    ScratchFolder() {
        std::string pattern = (fs::temp_directory_path() / "mk_paths_XXXXXX").string();
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

// An empty file, with its folders.
void Touch(const fs::path &path) {
    if (path.has_parent_path()) fs::create_directories(path.parent_path());
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0) << path;
    ::close(fd);
}

bool EndsWithJpg(std::string_view name) {
    if (name.size() < 4) return false;
    std::string tail(name.substr(name.size() - 4));
    for (char &c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return tail == ".jpg";
}

using Counts = std::pair<int32_t, int32_t>;

// What a scan told its caller.
struct Record {
    std::vector<std::string> asked;  // names given to accept
    std::vector<std::string> pictures;
    std::vector<Counts> progress;

    ScanEvents Events() {
        ScanEvents events;
        events.accept = [this](std::string_view name) {
            asked.emplace_back(name);
            // The view ends where its string does, for C callers.
            EXPECT_EQ(name.data()[name.size()], '\0');
            return EndsWithJpg(name);
        };
        events.picture = [this](const std::string &path) { pictures.push_back(path); };
        events.progress = [this](int32_t pictures, int32_t folders) {
            progress.emplace_back(pictures, folders);
        };
        return events;
    }
};

// Works in another folder until it goes away.
class InFolder {
  public:
    explicit InFolder(const fs::path &folder) : previous_(fs::current_path()) {
        fs::current_path(folder);
    }
    ~InFolder() {
        std::error_code error;
        fs::current_path(previous_, error);
    }
    InFolder(const InFolder &) = delete;
    InFolder &operator=(const InFolder &) = delete;

  private:
    fs::path previous_;
};

// Prefixes each name with the root.
std::vector<std::string> Under(const std::string &root, const std::vector<std::string> &names) {
    std::vector<std::string> paths;
    for (const std::string &name : names) paths.push_back(root + "/" + name);
    return paths;
}

TEST(FolderWalk, JoinPath) {
    const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
        {"/", "a", "/a"},
        {"x/", "a", "x/a"},
        {"", "a", "a"},
        {"x", "a", "x/a"},
        {"/x/y", "a.jpg", "/x/y/a.jpg"},
        {".", "a", "./a"},
        {"..", "a", "../a"},
        // Only a missing separator is added; what the caller wrote stays.
        {"x//", "a", "x//a"},
        {"//", "a", "//a"},
        {"x", "", "x/"},
        {"", "", ""},
    };
    for (const auto &[folder, name, joined] : cases)
        EXPECT_EQ(JoinPath(folder, name), joined) << '"' << folder << "\" + \"" << name << '"';
}

TEST(FolderWalk, ListFolderTypesAndFailures) {
    ScratchFolder dir;
    const fs::path root = dir.path();
    Touch(root / "b.jpg");
    fs::create_directory(root / "A");
    fs::create_symlink("b.jpg", root / "file_link");
    fs::create_directory_symlink("A", root / "folder_link");
    fs::create_symlink("dangling_target", root / "dangling");
    std::vector<std::pair<std::string, bool>> seen;
    for (const FolderEntry &e : ListFolder(dir.path())) seen.emplace_back(e.name, e.isFolder);
    const std::vector<std::pair<std::string, bool>> expected = {
        {".", true},
        {"..", true},
        {"A", true},
        {"b.jpg", false},
        {"dangling", false},
        {"file_link", false},
        {"folder_link", false},
    };
    EXPECT_EQ(seen, expected);
    // The same with the separator written out, and the current folder as "".
    seen.clear();
    for (const FolderEntry &e : ListFolder(dir.path() + "/")) seen.emplace_back(e.name, e.isFolder);
    EXPECT_EQ(seen, expected);
    std::vector<FolderEntry> current;
    {
        const InFolder in(root / "A");
        Touch("here.jpg");
        current = ListFolder("");
    }
    ASSERT_EQ(current.size(), 3u);
    EXPECT_EQ(current[2].name, "here.jpg");
    // Not folders: nothing at all, not even "." and "..".
    EXPECT_TRUE(ListFolder((root / "missing").string()).empty());
    EXPECT_TRUE(ListFolder((root / "b.jpg").string()).empty());
    EXPECT_TRUE(ListFolder((root / "dangling").string()).empty());
}

TEST(FolderWalk, ListingOrderIsNameLess) {
    // Case twins, names that begin others, bytes on either side of the
    // letters, dots, digits and bytes above 0x7F.
    const std::vector<std::string> names = {
        "b.jpg",
        "_u.jpg",
        "a.JPG",
        "A.jpg",
        "Dir",
        "!bang",
        ".hid",
        "a",
        "A",
        "aa",
        "aB",
        "Ab",
        "[x]",
        "Z",
        "z",
        "a.jpg2",
        "10.jpg",
        "9.jpg",
        "`q",
        "{q",
        "@q",
        "^q",
        "\xC3\xA9.jpg",
        "\xC3\x89.jpg",
        "IMG_0001.JPG",
        "img_0001.jpg",
        "img_0001.jpeg",
        "IMG_001.jpg",
        "~",
    };
    ScratchFolder dir;
    for (const std::string &name : names) Touch(fs::path(dir.path()) / name);
    std::vector<std::string> listed;
    for (const FolderEntry &e : ListFolder(dir.path())) listed.push_back(e.name);
    std::vector<std::string> sorted = names;
    sorted.push_back(".");
    sorted.push_back("..");
    std::sort(sorted.begin(), sorted.end(), NameLess);
    EXPECT_EQ(listed, sorted);
    // The order itself, written out for the names that are easy to get wrong.
    std::vector<std::string> some;
    for (const std::string &name : listed)
        if (name.size() <= 3 && name.front() != '.') some.push_back(name);
    EXPECT_EQ(some, (std::vector<std::string>{"@q", "A", "a", "aa", "Ab", "aB", "Dir", "Z", "z",
                                              "[x]", "^q", "`q", "{q", "~"}));
}

// A tree with every kind of entry the scan must tell apart.
class FolderScan : public ::testing::Test {
  protected:
    FolderScan() : root_(dir_.path()) {
        for (const char *name : {"a.jpg", "B.JPG", "n.txt", ".dot.jpg", "x.jpg/in.jpg", "s1/c.jpg",
                                 "s1/t/d.jpg", "s1/.g/g.jpg", "S0/e.jpg", ".h/f.jpg"})
            Touch(fs::path(root_) / name);
        fs::create_directories(fs::path(root_) / "s1/empty");
        // Links that would loop if they were followed: to the parent, to the
        // folder that holds the link, and to the link itself.
        fs::create_directory_symlink("..", fs::path(root_) / "s1/up");
        fs::create_directory_symlink(".", fs::path(root_) / "here");
        fs::create_symlink("loop", fs::path(root_) / "loop");
    }

    ScratchFolder dir_;
    const std::string root_;
};

// Pictures of the whole tree, in scan order: a folder's own, then each
// sub-folder's in listing order. The folder named "x.jpg" is entered, not
// counted; nothing below a dot folder is seen; the dot file is a picture.
const std::vector<std::string> kTreePictures = {
    ".dot.jpg", "a.jpg", "B.JPG", "S0/e.jpg", "s1/c.jpg", "s1/t/d.jpg", "x.jpg/in.jpg",
};

TEST_F(FolderScan, WholeTree) {
    ScanControl control;
    control.includeSubFolders = true;
    Record record;
    EXPECT_EQ(ScanFolderTree(root_, control, record.Events()), 7);
    EXPECT_EQ(record.pictures, Under(root_, kTreePictures));
    EXPECT_EQ(control.pictureCount, 7);
    // S0, s1, s1/empty, s1/t and x.jpg.
    EXPECT_EQ(control.folderCount, 5);
    // After each folder's own entries, and after each sub-folder tree.
    const std::vector<Counts> progress = {
        {3, 0},  // the top's own
        {4, 0},  // S0's own
        {4, 1},  // S0 done
        {5, 1},  // s1's own
        {5, 1},  // s1/empty's own
        {5, 2},  // s1/empty done
        {6, 2},  // s1/t's own
        {6, 3},  // s1/t done
        {6, 4},  // s1 done
        {7, 4},  // x.jpg's own
        {7, 5},  // x.jpg done
    };
    EXPECT_EQ(record.progress, progress);
    // Only what is not a real folder is asked about: links are, folders
    // (the dot entries, hidden ones and one named like a picture) are not.
    const std::vector<std::string> asked = {
        ".dot.jpg", "a.jpg", "B.JPG", "here",  "loop",   "n.txt",
        "e.jpg",    "c.jpg", "up",    "d.jpg", "in.jpg",
    };
    EXPECT_EQ(record.asked, asked);
}

TEST_F(FolderScan, RootEndingInSeparator) {
    ScanControl control;
    control.includeSubFolders = true;
    Record record;
    EXPECT_EQ(ScanFolderTree(root_ + "/", control, record.Events()), 7);
    EXPECT_EQ(record.pictures, Under(root_, kTreePictures));
}

TEST_F(FolderScan, CurrentFolder) {
    ScanControl control;
    control.includeSubFolders = true;
    Record record;
    int32_t found = -1;
    {
        const InFolder in(root_);
        found = ScanFolderTree("", control, record.Events());
    }
    EXPECT_EQ(found, 7);
    EXPECT_EQ(record.pictures, kTreePictures);
}

TEST_F(FolderScan, WithoutSubFoldersOnlyTheTop) {
    ScanControl control;
    Record record;
    EXPECT_EQ(ScanFolderTree(root_, control, record.Events()), 3);
    EXPECT_EQ(record.pictures, Under(root_, {".dot.jpg", "a.jpg", "B.JPG"}));
    EXPECT_EQ(record.progress, (std::vector<Counts>{{3, 0}}));
    EXPECT_EQ(control.pictureCount, 3);
    EXPECT_EQ(control.folderCount, 0);
}

TEST_F(FolderScan, StartsFromTheCountsGiven) {
    ScanControl control;
    control.pictureCount = 10;
    control.folderCount = 2;
    Record record;
    EXPECT_EQ(ScanFolderTree(root_, control, record.Events()), 3);
    EXPECT_EQ(control.pictureCount, 13);
    EXPECT_EQ(record.progress, (std::vector<Counts>{{13, 2}}));
}

TEST_F(FolderScan, WithoutEvents) {
    // No rule takes every file and link; no callbacks are needed to count.
    ScanControl control;
    control.includeSubFolders = true;
    EXPECT_EQ(ScanFolderTree(root_, control, ScanEvents{}), 11);
    EXPECT_EQ(control.pictureCount, 11);
    EXPECT_EQ(control.folderCount, 5);
}

TEST_F(FolderScan, StopSetBeforehand) {
    ScanControl control;
    control.includeSubFolders = true;
    control.stop = true;
    Record record;
    EXPECT_EQ(ScanFolderTree(root_, control, record.Events()), 0);
    EXPECT_TRUE(record.asked.empty());
    EXPECT_TRUE(record.progress.empty());
    EXPECT_EQ(control.pictureCount, 0);
}

TEST_F(FolderScan, StopDuringTheTopsOwnEntries) {
    ScanControl control;
    control.includeSubFolders = true;
    Record record;
    ScanEvents events = record.Events();
    events.picture = [&](const std::string &path) {
        record.pictures.push_back(path);
        if (record.pictures.size() == 2) control.stop = true;
    };
    EXPECT_EQ(ScanFolderTree(root_, control, events), 0);
    EXPECT_EQ(record.pictures, Under(root_, {".dot.jpg", "a.jpg"}));
    EXPECT_EQ(control.pictureCount, 2);
    EXPECT_TRUE(record.progress.empty());
}

TEST_F(FolderScan, ClearingSubFoldersDuringTheTopsOwnEntries) {
    // The top's own entries are scanned whatever the flag says; only the
    // descent is left out, as if it had been clear from the start.
    ScanControl control;
    control.includeSubFolders = true;
    Record record;
    ScanEvents events = record.Events();
    events.picture = [&](const std::string &path) {
        record.pictures.push_back(path);
        if (record.pictures.size() == 2) control.includeSubFolders = false;
    };
    EXPECT_EQ(ScanFolderTree(root_, control, events), 3);
    EXPECT_EQ(record.pictures, Under(root_, {".dot.jpg", "a.jpg", "B.JPG"}));
    EXPECT_EQ(record.progress, (std::vector<Counts>{{3, 0}}));
    EXPECT_EQ(control.folderCount, 0);
}

TEST_F(FolderScan, MissingFolderCountsNothing) {
    ScanControl control;
    control.includeSubFolders = true;
    Record record;
    EXPECT_EQ(ScanFolderTree(root_ + "/missing", control, record.Events()), 0);
    EXPECT_EQ(ScanFolderTree(root_ + "/a.jpg", control, record.Events()), 0);
    EXPECT_TRUE(record.asked.empty());
    EXPECT_TRUE(record.progress.empty());
    EXPECT_EQ(control.folderCount, 0);
}

TEST_F(FolderScan, SubFolderGoneBeforeItIsEnteredCountsNothing) {
    // s1 is listed while the top is read, and taken away before the scan
    // gets to it: it counts 0 and the scan goes on with x.jpg.
    ScanControl control;
    control.includeSubFolders = true;
    Record record;
    ScanEvents events = record.Events();
    events.picture = [&](const std::string &path) {
        record.pictures.push_back(path);
        if (path == root_ + "/a.jpg") fs::remove_all(fs::path(root_) / "s1");
    };
    EXPECT_EQ(ScanFolderTree(root_, control, events), 5);
    EXPECT_EQ(record.pictures,
              Under(root_, {".dot.jpg", "a.jpg", "B.JPG", "S0/e.jpg", "x.jpg/in.jpg"}));
    // Still a scanned sub-folder, with no report of its own entries.
    EXPECT_EQ(control.folderCount, 3);
    EXPECT_EQ(record.progress,
              (std::vector<Counts>{{3, 0}, {4, 0}, {4, 1}, {4, 2}, {5, 2}, {5, 3}}));
}

// Leaves root's rights for a while: an ordinary user cannot read a folder of
// mode 000, root can.
class AsOrdinaryUser {
  public:
    AsOrdinaryUser() {
        if (::geteuid() != 0) {
            ok_ = true;
            return;
        }
        // 65534 is the unprivileged "nobody" of Debian.
        ok_ = dropped_ = ::seteuid(65534) == 0;
    }
    ~AsOrdinaryUser() {
        if (dropped_ && ::seteuid(0) != 0) std::abort();
    }
    AsOrdinaryUser(const AsOrdinaryUser &) = delete;
    AsOrdinaryUser &operator=(const AsOrdinaryUser &) = delete;
    bool ok() const { return ok_; }

  private:
    bool ok_ = false;
    bool dropped_ = false;
};

TEST_F(FolderScan, UnreadableFolderCountsNothing) {
    // The rest of the tree must stay readable for whoever scans.
    for (const auto &entry : fs::recursive_directory_iterator(root_))
        if (!entry.is_symlink() && entry.is_directory())
            fs::permissions(entry.path(), fs::perms(0755));
    fs::permissions(root_, fs::perms(0755));
    const std::string locked = root_ + "/s1/t";
    fs::permissions(locked, fs::perms::none);
    ScanControl control;
    control.includeSubFolders = true;
    Record record;
    int32_t found = -1;
    int32_t lockedAlone = -1;
    bool ran = false;
    {
        const AsOrdinaryUser user;
        // Asked with the effective user, which access() alone would not.
        if (user.ok() && ::faccessat(AT_FDCWD, root_.c_str(), R_OK | X_OK, AT_EACCESS) == 0 &&
            ::faccessat(AT_FDCWD, locked.c_str(), R_OK, AT_EACCESS) != 0) {
            ran = true;
            found = ScanFolderTree(root_, control, record.Events());
            ScanControl alone;
            alone.includeSubFolders = true;
            lockedAlone = ScanFolderTree(locked, alone, ScanEvents{});
        }
    }
    fs::permissions(locked, fs::perms(0755));
    if (!ran) GTEST_SKIP() << "a folder of mode 000 stays readable here";
    EXPECT_EQ(found, 6);
    EXPECT_EQ(record.pictures,
              Under(root_, {".dot.jpg", "a.jpg", "B.JPG", "S0/e.jpg", "s1/c.jpg", "x.jpg/in.jpg"}));
    EXPECT_EQ(control.folderCount, 5);
    EXPECT_EQ(lockedAlone, 0);
}

TEST(FolderScanDepth, DeepTree) {
    ScratchFolder dir;
    fs::path folder = dir.path();
    std::vector<std::string> expected;
    std::string relative;
    constexpr int kDepth = 300;
    for (int level = 0; level < kDepth; ++level) {
        Touch(folder / "p.jpg");
        expected.push_back(dir.path() + "/" + relative + "p.jpg");
        folder /= "d";
        relative += "d/";
    }
    fs::create_directories(folder);
    ScanControl control;
    control.includeSubFolders = true;
    Record record;
    EXPECT_EQ(ScanFolderTree(dir.path(), control, record.Events()), kDepth);
    EXPECT_EQ(record.pictures, expected);
    EXPECT_EQ(control.folderCount, kDepth);
}

// A large tree: 200 folders f000..f199 of 50 pictures each, none at the top.
class LargeScan : public ::testing::Test {
  protected:
    static constexpr int kFolders = 200;
    static constexpr int kFiles = 50;

    LargeScan() {
        char name[32];
        for (int f = 0; f < kFolders; ++f) {
            std::snprintf(name, sizeof name, "f%03d", f);
            const fs::path folder = fs::path(dir_.path()) / name;
            fs::create_directory(folder);
            for (int i = 0; i < kFiles; ++i) {
                std::snprintf(name, sizeof name, "IMG_%02d.jpg", i);
                const int fd = ::open((folder / name).c_str(), O_WRONLY | O_CREAT, 0644);
                if (fd < 0) throw std::runtime_error("cannot make a test file");
                ::close(fd);
                all_.push_back((folder / name).string());
            }
        }
    }

    // Scans on a thread of its own. After the picture numbered `pauseAt`
    // (from 1) the scan waits in its callback until `onPause` has run on
    // this thread, so that it is stopped at a known place.
    template <typename OnPause>
    int32_t ScanPausingAt(size_t pauseAt, ScanControl &control, Record &record, OnPause onPause) {
        std::promise<void> paused;
        std::promise<void> resume;
        std::shared_future<void> resumed = resume.get_future().share();
        ScanEvents events = record.Events();
        events.picture = [&](const std::string &path) {
            record.pictures.push_back(path);
            if (record.pictures.size() == pauseAt) {
                paused.set_value();
                resumed.wait();
            }
        };
        int32_t found = -1;
        std::thread scanner([&] { found = ScanFolderTree(dir_.path(), control, events); });
        paused.get_future().wait();
        onPause();
        resume.set_value();
        scanner.join();
        return found;
    }

    std::vector<std::string> FirstPictures(size_t count) const {
        return std::vector<std::string>(all_.begin(), all_.begin() + count);
    }

    ScratchFolder dir_;
    std::vector<std::string> all_;
};

TEST_F(LargeScan, WholeTreeIntoAPathList) {
    // The desktop program's way: a list that grows by 64 KiB.
    PathListBuffer list(65536, PathListBuffer::Growth::kFixedSteps);
    ScanControl control;
    control.includeSubFolders = true;
    Record record;
    ScanEvents events = record.Events();
    events.picture = [&](const std::string &path) { list.Add(path); };
    EXPECT_EQ(ScanFolderTree(dir_.path(), control, events), kFolders * kFiles);
    EXPECT_EQ(list.count(), all_.size());
    EXPECT_EQ(list.Entries(), all_);
    EXPECT_EQ(control.folderCount, kFolders);
    EXPECT_EQ(record.progress.size(), 1u + 2 * kFolders);
    EXPECT_EQ(record.progress.back(), Counts(kFolders * kFiles, kFolders));
}

TEST_F(LargeScan, StopFromAnotherThread) {
    ScanControl control;
    control.includeSubFolders = true;
    Record record;
    // In f024, after its 34th picture.
    const size_t stopAt = 24 * kFiles + 34;
    const int32_t found = ScanPausingAt(stopAt, control, record, [&] { control.stop = true; });
    EXPECT_EQ(found, 0);
    // Nothing after the stop; what was found before it stays reported.
    EXPECT_EQ(record.pictures, FirstPictures(stopAt));
    EXPECT_EQ(control.pictureCount, static_cast<int32_t>(stopAt));
    // f024 was left unfinished: neither counted nor reported.
    EXPECT_EQ(control.folderCount, 24);
    EXPECT_EQ(record.progress.size(), 1u + 2 * 24);
    EXPECT_EQ(record.progress.back(), Counts(24 * kFiles, 24));
}

TEST_F(LargeScan, ClearingSubFoldersStopsTheDescent) {
    ScanControl control;
    control.includeSubFolders = true;
    Record record;
    const size_t stopAt = 3 * kFiles + 7;
    const int32_t found =
        ScanPausingAt(stopAt, control, record, [&] { control.includeSubFolders = false; });
    EXPECT_EQ(found, 0);
    EXPECT_EQ(record.pictures, FirstPictures(stopAt));
    EXPECT_EQ(control.folderCount, 3);
    EXPECT_EQ(record.progress.back(), Counts(3 * kFiles, 3));
}

TEST_F(LargeScan, WatcherReadsTheCountsWhileItRuns) {
    // The watcher reads the counters as the scan writes them, as an abort
    // dialog shows them, and stops the scan once it has seen some pictures.
    ScanControl control;
    control.includeSubFolders = true;
    Record record;
    std::atomic<bool> done{false};
    int32_t found = -1;
    std::thread scanner([&] {
        found = ScanFolderTree(dir_.path(), control, record.Events());
        done = true;
    });
    int32_t lastPictures = 0;
    int32_t lastFolders = 0;
    bool stopped = false;
    while (!done) {
        const int32_t folders = control.folderCount;
        const int32_t pictures = control.pictureCount;
        // A folder is counted after its pictures.
        EXPECT_GE(pictures, folders * kFiles);
        EXPECT_GE(pictures, lastPictures);
        EXPECT_GE(folders, lastFolders);
        lastPictures = pictures;
        lastFolders = folders;
        if (!stopped && pictures >= 500) {
            control.stop = true;
            stopped = true;
        }
        std::this_thread::yield();
    }
    scanner.join();
    const size_t reported = record.pictures.size();
    EXPECT_EQ(control.pictureCount, static_cast<int32_t>(reported));
    EXPECT_EQ(record.pictures, FirstPictures(reported));
    if (found == 0) {
        EXPECT_TRUE(stopped);
        EXPECT_LT(reported, all_.size());
    } else {
        // The scan was faster than the watcher: it found everything.
        EXPECT_EQ(found, kFolders * kFiles);
        EXPECT_EQ(reported, all_.size());
    }
}

}  // namespace
}  // namespace mk::paths
