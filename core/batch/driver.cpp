// The batch driver: MK_ProcessFiles and MK_IsSupportedFile.
#include <dlfcn.h>

#include <strings.h>
#include <cstring>
#include <string>
#include <system_error>
#include <thread>

#include "MK_Core.h"
#include "batch/batch_job.h"
#include "batch/operations.h"
#include "batch/progress_dialog.h"
#include "platform/files.h"

namespace mk::batch {
namespace {

int32_t IgnoreResult(const char *, int32_t, void *) { return 0; }

bool FitsPathBuffer(const char *path) { return std::strlen(path) < MK_MAX_PATH; }

// Finds the dialog module beside this library and returns its entry, or null.
MK_ProgressDialogRunFn LoadProgressDialog() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void *>(&LoadProgressDialog), &info) == 0 ||
        info.dli_fname == nullptr)
        return nullptr;
    std::string path = info.dli_fname;
    const auto slash = path.find_last_of('/');
    path = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) +
           MK_PROGRESS_MODULE;
    // The module stays loaded: Qt cannot be unloaded safely from a process.
    void *module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) return nullptr;
    return reinterpret_cast<MK_ProgressDialogRunFn>(dlsym(module, MK_PROGRESS_ENTRY));
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

void BatchJob::SetStatus(const char *path) {
    std::lock_guard lock(statusLock_);
    status_ = path;
}

std::string BatchJob::Status() const {
    std::lock_guard lock(statusLock_);
    return status_;
}

BatchOperations StandardOperations() { return {StampFile, UndoStampFile}; }

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
}

void RunWorkerLoop(BatchJob &job, const BatchOperations &operations) {
    const char *source = job.sources;
    const char *destination = job.destinations;
    for (uint32_t i = 0; *source != '\0' && job.cancelRequested.load() == 0; ++i) {
        int32_t result = MK_RESULT_UNKNOWN_OPERATION;
        job.SetStatus(destination);
        job.percent.store(static_cast<int32_t>(uint64_t{i} * 100 / job.fileCount));

        if (!FitsPathBuffer(source) || !FitsPathBuffer(destination)) {
            // Cutting the path would name another file: refuse it instead.
            result = MK_RESULT_PATH_TOO_LONG;
        } else if (job.operation == OP_STAMP || job.operation == OP_UNDO) {
            std::optional<timespec> time;
            if (platform::SameFile(source, destination)) time = platform::ModificationTime(source);
            const auto &operation = job.operation == OP_STAMP ? operations.stamp : operations.undo;
            result = operation(source, destination, &job.settings);
            if (time && result == 0) platform::SetModificationTime(destination, *time);
        }
        job.callback(destination, result, job.userData);
        source += std::strlen(source) + 1;
        destination += std::strlen(destination) + 1;
    }
    job.finished.store(true);
}

int32_t ProcessFiles(void *parent, const char *sources, const char *destinations, int32_t operation,
                     int32_t flags, const Setts *settings, ProcessCallback callback, void *userData,
                     const BatchOperations &operations) {
    if (sources == nullptr) return 0;
    BatchJob job;
    PrepareJob(job, sources, destinations, operation, flags, settings, callback, userData);
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
        return mk::batch::ProcessFiles(parent, sources, destinations, operation, flags, settings,
                                       callback, userData, mk::batch::StandardOperations());
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
