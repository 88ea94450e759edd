// The batch driver's internals: the record shared by the driver, its worker
// and the progress dialog for one call, and the worker loop.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "MK_Core.h"

namespace mk::batch {

// One file's operation. It may call `diskWait` once its work on the
// processor is done and only the flush of the destination to disk is left;
// the driver then starts another file on that core. A failure's reason
// goes into `report` (its reason and text).
using FileOperation =
    std::function<int32_t(const char *source, const char *destination, const Setts *settings,
                          const std::function<void()> &diskWait, MK_FileReport *report)>;

// The operations the worker runs per file; tests put their own in.
struct BatchOperations {
    FileOperation stamp;
    FileOperation undo;
};

// StampFile and UndoStampFile. The stamps of a batch of more than one file
// share one font catalogue, read when the first of them needs it, and hand
// the memory of one picture's coefficients on to the next.
BatchOperations StandardOperations(uint32_t fileCount = 1);

struct BatchJob {
    Setts settings{};                    // the driver's private copy
    const char *sources = nullptr;       // start of the source list
    const char *destinations = nullptr;  // start of the destination list
    uint32_t fileCount = 0;              // entries in the source list
    ProcessCallback callback = nullptr;  // never null once filled
    void *userData = nullptr;
    // With MK_ProcessFilesEx: the report of every file (or null), and the
    // caller's question whether to stop (or null), both given userData.
    ProcessReportCallback report = nullptr;
    ProcessCancelPoll cancelled = nullptr;
    int32_t operation = 0;
    int32_t flags = 0;
    // Files processed on the processors at the same time (at least 1); as
    // many again may be waiting for their flush to disk.
    uint32_t workers = 1;

    // Written by the dialog, read by the worker before each file.
    std::atomic<int32_t> cancelRequested{0};
    // Progress for the dialog: percent of files done and the current path.
    std::atomic<int32_t> percent{0};
    std::atomic<bool> finished{false};

    // Whether the dialog or the caller asked to stop.
    bool CancelRequested() const;

    void SetStatus(const char *path);
    std::string Status() const;

  private:
    mutable std::mutex statusLock_;
    std::string status_;
};

// Number of entries of a PathList.
uint32_t CountEntries(const char *list);

// Fills a job for one call: the settings (the caller's copy or the stored
// preferences), the lists, the callback (a no-op when null).
void PrepareJob(BatchJob &job, const char *sources, const char *destinations, int32_t operation,
                int32_t flags, const Setts *settings, ProcessCallback callback, void *userData);

// How many files to process at once: one per core, as memory permits.
uint32_t DefaultWorkerCount(const char *sources);

// Processes the files of the job, up to job.workers at once on the
// processors (and as many more whose operation waits for the disk only),
// until the list ends or a cancel is requested. Each result is reported through the
// callback in list order, from the calling thread. Files started before a
// cancel are finished and reported; no file starts after it.
void RunWorkerLoop(BatchJob &job, const BatchOperations &operations);

// The whole call: with PF_SHOW_PROGRESS a worker thread behind the progress
// dialog (or without the dialog when none can be shown), else the caller's
// thread. `workers` 0 chooses by cores and memory. `report` and `cancelled`
// as for MK_ProcessFilesEx. Always 0.
int32_t ProcessFiles(void *parent, const char *sources, const char *destinations, int32_t operation,
                     int32_t flags, const Setts *settings, ProcessCallback callback, void *userData,
                     const BatchOperations &operations, uint32_t workers = 0,
                     ProcessReportCallback report = nullptr, ProcessCancelPoll cancelled = nullptr);

}  // namespace mk::batch
