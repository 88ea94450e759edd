// The folder commands' scan thread.
#include "folder_count.h"

#include <new>
#include <utility>

#include "MK_Core.h"

namespace mk::app {

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

FolderScan::FolderScan(FolderScanOptions options, FolderScanListener listener)
    : options_(std::move(options)), listener_(std::move(listener)) {
    control_.includeSubFolders.store(options_.includeSubFolders);
    // Started last: the thread reads the members above.
    thread_ = std::thread([this] {
        result_ = Scan(options_, control_, listener_);
        finished_.store(true);
        if (listener_.finished) listener_.finished(result_);
    });
}

FolderScan::~FolderScan() { stop(); }

void FolderScan::requestStop() { control_.stop.store(true); }

void FolderScan::excludeSubFolders() { control_.includeSubFolders.store(false); }

void FolderScan::join() {
    if (thread_.joinable()) thread_.join();
}

void FolderScan::stop() {
    requestStop();
    join();
}

FolderScanResult FolderScan::Run(const FolderScanOptions &options,
                                 const FolderScanListener &listener) {
    paths::ScanControl control;
    control.includeSubFolders.store(options.includeSubFolders);
    const FolderScanResult result = Scan(options, control, listener);
    if (listener.finished) listener.finished(result);
    return result;
}

FolderScanResult FolderScan::Scan(const FolderScanOptions &options, paths::ScanControl &control,
                                  const FolderScanListener &listener) {
    FolderScanResult result;
    Clock::time_point nextReport = Clock::now() + options.reportInterval;
    // Asked at every picture and after every folder; the clock is cheap
    // beside reading a folder, and a flat folder of many pictures gets its
    // running counts too.
    const auto report = [&] {
        if (!listener.progress) return;
        const Clock::time_point now = Clock::now();
        if (now < nextReport) return;
        nextReport = now + options.reportInterval;
        listener.progress(control.pictureCount.load(), control.folderCount.load());
    };
    paths::ScanEvents events;
    if (options.accept) {
        events.accept = options.accept;
    } else {
        events.accept = [](std::string_view name) { return MK_IsSupportedFile(name.data()) != 0; };
    }
    events.picture = [&](const std::string &path) {
        if (options.collect != nullptr) options.collect->Add(path);
        report();
    };
    events.progress = [&](int32_t, int32_t) { report(); };
    try {
        paths::ScanFolderTree(options.folder, control, events);
    } catch (const std::bad_alloc &) {
        result.outOfMemory = true;
    }
    result.pictures = control.pictureCount.load();
    result.folders = control.folderCount.load();
    // The picture that did not fit was counted; the list, which always
    // holds a whole list, has those before it.
    if (result.outOfMemory && options.collect != nullptr)
        result.pictures = static_cast<int32_t>(options.collect->count());
    result.stopped =
        control.stop.load() || (options.includeSubFolders && !control.includeSubFolders.load());
    return result;
}

}  // namespace mk::app
