// The desktop program's folder scan: how long mk::paths::ScanFolderTree
// takes to collect the pictures of a large folder, and of a tree of
// folders, into the path list the program hands to the batch (64 KiB steps),
// beside `find <folder> -iname '*.jpg'` run as a child process on the same
// folder in the same run. Both see the same warm caches; find's time
// includes starting a process, which the printed start-up time of `find`
// on an empty folder shows.
//
//   scan_bench [-n RUNS] [-d FOLDER]
//
// The files are made empty under a fresh folder in FOLDER (default: the
// system's temporary folder) and removed at the end.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "MK_Core.h"
#include "bench_support.h"
#include "folder_walk.h"
#include "path_list.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

// Removes the made files whatever happens after they were made.
class Scratch {
  public:
    explicit Scratch(const fs::path &parent) {
        std::string pattern = (parent / "scan_bench_XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~Scratch() {
        std::error_code error;
        if (!path_.empty()) fs::remove_all(path_, error);
    }
    Scratch(const Scratch &) = delete;
    Scratch &operator=(const Scratch &) = delete;
    const fs::path &path() const { return path_; }

  private:
    fs::path path_;
};

bool MakeEmptyFile(const fs::path &path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

// `folders` sub-folders of `files` pictures each, or with folders 0 the
// pictures directly in `root`. Numbers run on across the folders.
bool MakeTree(const fs::path &root, int folders, int files) {
    fs::create_directories(root);
    char name[32];
    int number = 0;
    for (int f = 0; f < (folders == 0 ? 1 : folders); ++f) {
        fs::path folder = root;
        if (folders != 0) {
            std::snprintf(name, sizeof name, "folder_%03d", f);
            folder /= name;
            fs::create_directory(folder);
        }
        for (int i = 0; i < files; ++i) {
            std::snprintf(name, sizeof name, "IMG_%05d.jpg", number++);
            if (!MakeEmptyFile(folder / name)) return false;
        }
    }
    return true;
}

// One scan as the desktop program's folder command runs it.
size_t ScanOnce(const std::string &root) {
    mk::paths::PathListBuffer list(65536, mk::paths::PathListBuffer::Growth::kFixedSteps);
    mk::paths::ScanControl control;
    control.includeSubFolders = true;
    mk::paths::ScanEvents events;
    events.accept = [](std::string_view name) { return MK_IsSupportedFile(name.data()) != 0; };
    events.picture = [&](const std::string &path) { list.Add(path); };
    mk::paths::ScanFolderTree(root, control, events);
    return list.count();
}

size_t LineCount(const fs::path &file) {
    std::ifstream in(file);
    size_t lines = 0;
    for (std::string line; std::getline(in, line);) ++lines;
    return lines;
}

struct Case {
    const char *name;
    int folders;
    int files;
};

}  // namespace

int main(int argc, char **argv) {
    int runs = 21;
    fs::path parent = fs::temp_directory_path();
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-n") == 0 && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "-d") == 0 && i + 1 < argc) {
            parent = argv[++i];
        } else {
            std::fprintf(stderr, "usage: scan_bench [-n RUNS] [-d FOLDER]\n");
            return 2;
        }
    }
    const Scratch scratch(parent);
    if (scratch.path().empty()) {
        std::fprintf(stderr, "scan_bench: cannot make a folder in %s\n", parent.c_str());
        return 1;
    }

    const std::vector<Case> cases = {
        {"one folder, 10000 files", 0, 10000},
        {"100 folders x 100 files", 100, 100},
    };
    std::printf("scan_bench: median of %d runs; load %s\n", runs, mk::bench::LoadText().c_str());

    // The cost of starting find at all, on a folder with nothing in it.
    const fs::path empty = scratch.path() / "empty";
    fs::create_directory(empty);
    std::vector<double> startTimes;
    for (int r = 0; r < runs; ++r)
        startTimes.push_back(
            mk::bench::RunProcess({"find", empty.string(), "-iname", "*.jpg"}).seconds);
    std::printf("find on an empty folder (start-up): %.2f ms\n\n",
                mk::bench::Summarize(startTimes).median * 1e3);

    std::printf("%-26s %8s %12s %12s %14s\n", "case", "pictures", "scan", "find", "scan / find");
    bool ok = true;
    for (const Case &c : cases) {
        const fs::path root = scratch.path() / (c.folders == 0 ? "flat" : "tree");
        if (!MakeTree(root, c.folders, c.files)) {
            std::fprintf(stderr, "scan_bench: cannot make the files of %s\n", c.name);
            return 1;
        }
        const size_t expected = static_cast<size_t>(c.files) * (c.folders == 0 ? 1 : c.folders);
        const std::vector<std::string> find = {"find", root.string(), "-iname", "*.jpg"};
        // Once each to warm the caches, and to see that both find everything.
        const fs::path log = scratch.path() / "find.log";
        const size_t scanned = ScanOnce(root.string());
        const bool found = mk::bench::RunProcess(find, log).ok;
        const size_t listed = LineCount(log);
        if (scanned != expected || !found || listed != expected) {
            std::fprintf(stderr, "scan_bench: %s: the scan found %zu, find %zu of %zu\n", c.name,
                         scanned, listed, expected);
            ok = false;
            continue;
        }
        // The two take turns, so that both see the machine alike.
        std::vector<double> scanTimes;
        std::vector<double> findTimes;
        for (int r = 0; r < runs; ++r) {
            const auto start = Clock::now();
            ScanOnce(root.string());
            scanTimes.push_back(std::chrono::duration<double>(Clock::now() - start).count());
            findTimes.push_back(mk::bench::RunProcess(find).seconds);
        }
        const double scan = mk::bench::Summarize(scanTimes).median;
        const double reference = mk::bench::Summarize(findTimes).median;
        std::printf("%-26s %8zu %9.2f ms %9.2f ms %14.2f\n", c.name, expected, scan * 1e3,
                    reference * 1e3, scan / reference);
    }
    std::printf("\nload afterwards %s\n", mk::bench::LoadText().c_str());
    return ok ? 0 : 1;
}
