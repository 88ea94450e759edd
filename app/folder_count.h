// The folder commands' scan: counts (for the folder chooser's status line)
// or collects (for the batch) the pictures of a folder, with or without its
// sub-folders, on a thread of its own. The thread reports running counts at
// most once per interval, so a folder of many thousands of pictures sends a
// handful of reports, not one per picture, and a last report when it ends.
// The user-interface thread stops it through the scan's flags and always
// joins it before it reads the collected list. No Qt here, so that the
// thread can be tested under ThreadSanitizer on its own.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

#include "folder_walk.h"
#include "path_list.h"

namespace mk::app {

// The path list of a command starts with this many bytes and grows by as
// many at a time.
inline constexpr size_t kPathListStep = 65536;

// Tells whether a file name is a picture to take (its view is
// NUL-terminated). The core's MK_IsSupportedFile unless one is given.
using PictureFilter = std::function<bool(std::string_view name)>;

struct FolderScanResult {
    int32_t pictures = 0;
    int32_t folders = 0;
    // Stopped before the end: the counts are those reached by then.
    bool stopped = false;
    // The collected list could not grow; it holds the pictures before it.
    bool outOfMemory = false;
};

struct FolderScanOptions {
    // The folder as the file system names it (bytes).
    std::string folder;
    bool includeSubFolders = false;
    // Where the pictures' paths go, in scan order; none when only counting.
    // Owned by the caller, who must not touch it until the scan is joined.
    paths::PathListBuffer *collect = nullptr;
    PictureFilter accept;
    // The least time between two running reports.
    std::chrono::steady_clock::duration reportInterval = std::chrono::milliseconds(100);
};

struct FolderScanListener {
    // Running counts (pictures, sub-folders scanned), on the scan thread.
    std::function<void(int32_t pictures, int32_t folders)> progress;
    // Once, as the last thing the thread does, also after a stop.
    std::function<void(const FolderScanResult &result)> finished;
};

class FolderScan {
  public:
    // Starts the thread.
    FolderScan(FolderScanOptions options, FolderScanListener listener);
    // Stops and joins.
    ~FolderScan();
    FolderScan(const FolderScan &) = delete;
    FolderScan &operator=(const FolderScan &) = delete;

    // Asks the scan to end at its next entry; returns at once.
    void requestStop();
    // Ends the descent into sub-folders at once; the top folder's own
    // count is what a scan without sub-folders would have found.
    void excludeSubFolders();
    // Waits for the thread; idempotent.
    void join();
    // requestStop, then join.
    void stop();

    // The thread has finished its work (its last report is on its way).
    bool finished() const { return finished_.load(); }
    int32_t pictureCount() const { return control_.pictureCount.load(); }
    int32_t folderCount() const { return control_.folderCount.load(); }
    // What the scan found; read it only after join.
    const FolderScanResult &result() const { return result_; }

    // The same scan on the calling thread, reporting as the thread does:
    // for a folder without its sub-folders, which is read at once.
    static FolderScanResult Run(const FolderScanOptions &options,
                                const FolderScanListener &listener);

  private:
    static FolderScanResult Scan(const FolderScanOptions &options, paths::ScanControl &control,
                                 const FolderScanListener &listener);

    const FolderScanOptions options_;
    const FolderScanListener listener_;
    paths::ScanControl control_;
    std::atomic<bool> finished_{false};
    // Written by the thread before it ends; join orders the reads after it.
    FolderScanResult result_;
    std::thread thread_;
};

}  // namespace mk::app
