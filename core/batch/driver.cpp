// The batch driver: MK_ProcessFiles and MK_IsSupportedFile.
#include <strings.h>
#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "MK_Core.h"
#include "batch/batch_job.h"
#include "batch/fast_stamp.h"
#include "batch/operations.h"
#include "batch/progress_dialog.h"
#include "platform/files.h"
#include "platform/modules.h"
#include "platform/processors.h"

namespace mk::batch {
namespace {

int32_t IgnoreResult(const char *, int32_t, void *) { return 0; }

// The dialog module's entry, or null when the module is not installed. The
// module stays loaded: Qt cannot be unloaded safely from a process.
MK_ProgressDialogRunFn LoadProgressDialog() {
    return reinterpret_cast<MK_ProgressDialogRunFn>(
        platform::ModuleSymbol(platform::LoadModule(MK_PROGRESS_MODULE), MK_PROGRESS_ENTRY));
}

int32_t PollJob(void *context, char *status, size_t size, int32_t *percent) {
    auto &job = *static_cast<BatchJob *>(context);
    if (status != nullptr && size > 0) {
        const std::string text = job.Status();
        const size_t n = std::min(text.size(), size - 1);
        std::memcpy(status, text.data(), n);
        status[n] = '\0';
    }
    if (percent != nullptr) *percent = job.percent.load();
    return job.finished.load() ? 1 : 0;
}

void CancelJob(void *context) { static_cast<BatchJob *>(context)->cancelRequested.store(1); }

}  // namespace

bool BatchJob::CancelRequested() const {
    return cancelRequested.load() != 0 || (cancelled != nullptr && cancelled(userData) != 0);
}

void BatchJob::SetStatus(const char *path) {
    std::lock_guard lock(statusLock_);
    status_ = path;
}

std::string BatchJob::Status() const {
    std::lock_guard lock(statusLock_);
    return status_;
}

BatchOperations StandardOperations(uint32_t fileCount) {
    // A batch's stamps share a font catalogue and their overlays, and its
    // stamps and undos the memory of their coefficients. A single picture
    // reads its own catalogue and lets it go as soon as the stamp is
    // rendered, before the picture's coefficients are all in memory.
    const std::shared_ptr<BatchResources> batch =
        fileCount > 1 ? std::make_shared<BatchResources>() : nullptr;
    return {[batch](const char *source, const char *destination, const Setts *settings,
                    const std::function<void()> &diskWait, MK_FileReport *report) {
                return StampFile(source, destination, settings, batch.get(), diskWait, report);
            },
            [batch](const char *source, const char *destination, const Setts *settings,
                    const std::function<void()> &diskWait, MK_FileReport *report) {
                return UndoStampFile(source, destination, settings, batch.get(), diskWait, report);
            }};
}

uint32_t CountEntries(const char *list) {
    uint32_t count = 0;
    for (const char *p = list; p != nullptr && *p != '\0'; p += std::strlen(p) + 1) ++count;
    return count;
}

void PrepareJob(BatchJob &job, const char *sources, const char *destinations, int32_t operation,
                int32_t flags, const Setts *settings, ProcessCallback callback, void *userData) {
    if (settings != nullptr)
        std::memcpy(&job.settings, settings, sizeof(Setts));
    else
        MK_SettsLoadFromRegistry(&job.settings);
    job.sources = sources;
    job.destinations = destinations != nullptr ? destinations : sources;
    job.fileCount = CountEntries(sources);
    job.callback = callback != nullptr ? callback : IgnoreResult;
    job.userData = userData;
    job.operation = operation;
    job.flags = flags;
    job.cancelRequested.store(0);
    job.workers = DefaultWorkerCount(sources);
}

namespace {

struct FileEntry {
    const char *source;
    const char *destination;
};

std::vector<FileEntry> Entries(const BatchJob &job) {
    std::vector<FileEntry> entries;
    entries.reserve(job.fileCount);
    const char *source = job.sources;
    const char *destination = job.destinations;
    while (*source != '\0') {
        entries.push_back({source, destination});
        source += std::strlen(source) + 1;
        destination += std::strlen(destination) + 1;
    }
    return entries;
}

// What became of one file: its result, and why it failed.
struct FileOutcome {
    int32_t result = 0;
    int32_t reason = MK_REASON_NONE;
    std::string text;
};

// Processes one pair of paths and returns what became of it; a file
// processed in place keeps its modification time.
FileOutcome ProcessOne(const BatchJob &job, const BatchOperations &operations, const FileEntry &e,
                       const std::function<void()> &diskWait) {
    // Cutting a path would name another file: refuse it instead.
    if (!platform::FitsPathBuffer(e.source) || !platform::FitsPathBuffer(e.destination))
        return {MK_RESULT_PATH_TOO_LONG, MK_REASON_PATH_TOO_LONG,
                "the path is longer than 259 bytes"};
    if (job.operation != OP_STAMP && job.operation != OP_UNDO)
        return {MK_RESULT_UNKNOWN_OPERATION, MK_REASON_UNKNOWN_OPERATION, "unknown operation"};
    std::optional<timespec> time;
    if (platform::SameFile(e.source, e.destination)) time = platform::ModificationTime(e.source);
    const auto &operation = job.operation == OP_STAMP ? operations.stamp : operations.undo;
    MK_FileReport report{};
    int32_t result = -1;
    try {
        result = operation(e.source, e.destination, &job.settings, diskWait, &report);
    } catch (...) {
        result = -1;
    }
    if (time && result == 0) platform::SetModificationTime(e.destination, *time);
    if (result == 0) return {};
    // An operation that failed without saying why still gets a reason.
    if (report.reason == MK_REASON_NONE) return {result, MK_REASON_OTHER, "failed"};
    return {result, report.reason, report.text};
}

// What identifies a file on disk: device and inode when it exists, else its
// path. Two entries that share one are never processed at the same time.
using FileKey = std::pair<uint64_t, std::string>;

std::vector<FileKey> KeysOf(const FileEntry &e) {
    std::vector<FileKey> keys;
    for (const char *path : {e.source, e.destination}) {
        if (const auto id = platform::FileIdentity(path))
            keys.push_back({id->first, std::to_string(id->second)});
        else
            keys.push_back({~uint64_t{0}, path});
    }
    return keys;
}

bool Shares(const std::vector<FileKey> &a, const std::vector<FileKey> &b) {
    for (const auto &x : a)
        for (const auto &y : b)
            if (x == y) return true;
    return false;
}

}  // namespace

uint32_t DefaultWorkerCount(const char *sources) {
    const uint32_t cores = std::max(1u, std::thread::hardware_concurrency());
    // A stamp holds the picture's coefficients and a few buffers of its
    // size: allow for 64 times the largest file per worker in the memory
    // that is free.
    uint64_t largest = 0;
    for (const char *p = sources; *p != '\0'; p += std::strlen(p) + 1)
        largest = std::max<uint64_t>(largest, platform::FileSize(p).value_or(0));
    const uint64_t free = platform::AvailableMemory();
    if (largest == 0 || free == 0) return cores;
    const uint64_t fit = free / (largest * 64);
    return static_cast<uint32_t>(std::clamp<uint64_t>(fit, 1, cores));
}

void RunWorkerLoop(BatchJob &job, const BatchOperations &operations) {
    const std::vector<FileEntry> entries = Entries(job);
    const size_t count = entries.size();
    const size_t workers = std::max<size_t>(1, std::min<size_t>(job.workers, count));

    std::mutex lock;
    std::condition_variable changed;  // a file finished, a core came free or a worker stopped
    std::vector<FileOutcome> results(count);
    std::vector<char> done(count, 0);
    std::vector<std::vector<FileKey>> keys(count);
    std::vector<size_t> running;  // started, not yet done
    uint64_t changes = 0;
    size_t next = 0;      // next file to start
    size_t finished = 0;  // files done so far
    size_t reported = 0;  // files reported so far
    // Files on the processors are at most `workers`; one whose operation
    // waits for the disk gives its core to the next file.
    size_t freeCores = workers;
    // The processors given up that way, for the threads that start the next
    // files. Left to itself, the system may wake such a thread on a
    // processor that is busy with another file while the one given up goes
    // idle.
    std::vector<int> givenUp;
    givenUp.reserve(workers);

    // With `guard` held: starts the next file in list order, or none when the
    // list is done or a cancel is asked for. A file waits for a free core,
    // and for every running file it shares a file with to be done.
    auto take = [&](std::unique_lock<std::mutex> &guard, int *handedOver) -> std::optional<size_t> {
        for (;;) {
            if (next >= count || job.CancelRequested()) return std::nullopt;
            if (freeCores > 0) {
                keys[next] = KeysOf(entries[next]);
                if (std::none_of(running.begin(), running.end(),
                                 [&](size_t r) { return Shares(keys[r], keys[next]); }))
                    break;
            }
            const uint64_t seen = changes;
            changed.wait(guard, [&] { return changes != seen; });
        }
        --freeCores;
        if (handedOver != nullptr && !givenUp.empty()) {
            *handedOver = givenUp.back();
            givenUp.pop_back();
        }
        // A core taken without its processor leaves the oldest one given up
        // behind: it may be busy again by now.
        while (givenUp.size() > freeCores) givenUp.erase(givenUp.begin());
        job.SetStatus(entries[next].destination);
        job.percent.store(static_cast<int32_t>(uint64_t{finished} * 100 / count));
        running.push_back(next);
        return next++;
    };
    auto notify = [&] {
        ++changes;
        changed.notify_all();
    };
    auto finish = [&](size_t i, FileOutcome outcome) {
        results[i] = std::move(outcome);
        done[i] = 1;
        ++finished;
        running.erase(std::find(running.begin(), running.end(), i));
        notify();
    };
    auto report = [&](size_t i) {
        job.SetStatus(entries[i].destination);
        const FileOutcome &outcome = results[i];
        job.callback(entries[i].destination, outcome.result, job.userData);
        if (job.report != nullptr) {
            MK_FileReport fileReport{};
            fileReport.source = entries[i].source;
            fileReport.destination = entries[i].destination;
            fileReport.result = outcome.result;
            fileReport.reason = outcome.reason;
            SetReportText(fileReport, outcome.text);
            job.report(&fileReport, job.userData);
        }
        // The outcome's words are not needed any more.
        results[i].text = std::string();
    };
    // Processes file i with `guard` released; its core is given back when
    // its operation waits for the disk, else when it is done.
    auto process = [&](std::unique_lock<std::mutex> &guard, size_t i, int handedOver) {
        bool holdsCore = true;
        const std::function<void()> diskWait = [&] {
            const int processor = platform::CurrentProcessor();
            std::lock_guard relock(lock);
            if (!holdsCore) return;
            holdsCore = false;
            ++freeCores;
            // Never more than the free cores, and room is reserved for those.
            if (processor >= 0 && givenUp.size() < freeCores) givenUp.push_back(processor);
            notify();
        };
        guard.unlock();
        if (handedOver >= 0 && handedOver != platform::CurrentProcessor())
            platform::MoveToProcessor(handedOver);
        FileOutcome outcome = ProcessOne(job, operations, entries[i], diskWait);
        guard.lock();
        if (holdsCore) ++freeCores;
        finish(i, std::move(outcome));
        return holdsCore;
    };

    // Each worker starts its next file itself as soon as a core is free,
    // rather than waiting for this thread to wake up and hand one out.
    // Twice as many threads as files allowed on the processors, so that each
    // core has a file to go on with while another flushes its destination.
    size_t stopped = 0;
    auto work = [&] {
        std::unique_lock guard(lock);
        try {
            // A thread whose file kept its core to the end goes on with the
            // next file there; one that gave its core up takes a processor
            // given up with the next.
            bool onOwnCore = false;
            for (;;) {
                int handedOver = -1;
                const auto i = take(guard, onOwnCore ? nullptr : &handedOver);
                if (!i) break;
                onOwnCore = process(guard, *i, handedOver);
            }
        } catch (...) {
            // Out of memory while looking at the next file: start no more.
            if (!guard.owns_lock()) guard.lock();
        }
        ++stopped;
        notify();
    };
    std::vector<std::thread> threads;
    if (count > 1) {
        const size_t wanted = std::min(count, 2 * workers);
        threads.reserve(wanted);
        for (size_t w = 0; w < wanted; ++w) {
            try {
                threads.emplace_back(work);
            } catch (const std::system_error &) {
                break;  // fewer threads to be had: go on with those
            }
        }
    }

    if (threads.empty()) {
        // One at a time, on this thread: each file reported before the next.
        std::unique_lock guard(lock);
        while (const auto i = take(guard, nullptr)) {
            process(guard, *i, -1);
            guard.unlock();
            report(*i);
            guard.lock();
            ++reported;
        }
    } else {
        // Report finished files in list order, from this thread, until every
        // worker has stopped and every file started is reported.
        std::unique_lock guard(lock);
        for (;;) {
            changed.wait(guard, [&] {
                return (reported < next && done[reported]) || stopped == threads.size();
            });
            size_t ready = reported;
            while (ready < next && done[ready]) ++ready;
            if (ready == reported) break;
            guard.unlock();
            for (size_t i = reported; i < ready; ++i) report(i);
            guard.lock();
            reported = ready;
        }
        guard.unlock();
        for (std::thread &t : threads) t.join();
    }
    job.finished.store(true);
}

int32_t ProcessFiles(void *parent, const char *sources, const char *destinations, int32_t operation,
                     int32_t flags, const Setts *settings, ProcessCallback callback, void *userData,
                     const BatchOperations &operations, uint32_t workers,
                     ProcessReportCallback report, ProcessCancelPoll cancelled) {
    if (sources == nullptr) return 0;
    BatchJob job;
    PrepareJob(job, sources, destinations, operation, flags, settings, callback, userData);
    job.report = report;
    job.cancelled = cancelled;
    if (workers != 0) job.workers = workers;
    if ((flags & PF_SHOW_PROGRESS) == 0) {
        RunWorkerLoop(job, operations);
        return 0;
    }
    auto work = [&job, &operations] {
        try {
            RunWorkerLoop(job, operations);
        } catch (...) {
            job.finished.store(true);
        }
    };
    std::thread worker;
    try {
        worker = std::thread(work);
    } catch (const std::system_error &) {
        // No thread to be had: do the work here, without the dialog.
        work();
        return 0;
    }
    if (MK_ProgressDialogRunFn run = LoadProgressDialog()) {
        const MK_ProgressHooks hooks{&job, PollJob, CancelJob};
        run(parent, &hooks);
    }
    // Without a dialog (no display, no module) the same loop just runs to
    // its end on the worker.
    worker.join();
    return 0;
}

}  // namespace mk::batch

extern "C" MK_API int32_t MK_ProcessFiles(void *parent, PathList sources, PathList destinations,
                                          int32_t operation, int32_t flags, const Setts *settings,
                                          ProcessCallback callback, void *userData) {
    try {
        return mk::batch::ProcessFiles(
            parent, sources, destinations, operation, flags, settings, callback, userData,
            mk::batch::StandardOperations(mk::batch::CountEntries(sources)));
    } catch (...) {
        return 0;
    }
}

extern "C" MK_API int32_t MK_ProcessFilesEx(void *parent, PathList sources, PathList destinations,
                                            int32_t operation, int32_t flags, const Setts *settings,
                                            ProcessReportCallback report,
                                            ProcessCancelPoll cancelled, void *userData) {
    try {
        return mk::batch::ProcessFiles(
            parent, sources, destinations, operation, flags, settings, nullptr, userData,
            mk::batch::StandardOperations(mk::batch::CountEntries(sources)), 0, report, cancelled);
    } catch (...) {
        return 0;
    }
}

extern "C" MK_API int32_t MK_IsSupportedFile(const char *path) {
    if (path == nullptr) return 0;
    const char *dot = std::strrchr(path, '.');
    if (dot == nullptr) return 0;
    for (const char *extension : {".jpg", ".jpeg", ".jpe"})
        if (strcasecmp(dot, extension) == 0) return 1;
    return 0;
}
