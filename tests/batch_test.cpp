// Tests of the batch driver with its file operations replaced.
#include <gtest/gtest.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "MK_Core.h"
#include "batch/batch_job.h"
#include "platform/files.h"
#include "platform/processors.h"
#include "test_support.h"

using mk::batch::BatchJob;
using mk::batch::BatchOperations;
using mk::test::MakeList;
using mk::test::ReadFile;
using mk::test::TempDir;
using mk::test::WriteFile;

namespace {

struct Report {
    std::string destination;
    int32_t result;
};

int32_t Record(const char *destination, int32_t result, void *userData) {
    static_cast<std::vector<Report> *>(userData)->push_back({destination, result});
    return 77;  // ignored
}

struct Call {
    std::string source, destination;
};

// Operations that note each call and change the destination's content and
// time, as a real stamp does.
// The batch may run them on several threads at once.
struct FakeOperations {
    std::mutex lock;
    std::vector<Call> calls;
    int32_t result = 0;

    BatchOperations Make() {
        auto op = [this](const char *s, const char *d, const Setts *, const std::function<void()> &,
                         MK_FileReport *) {
            {
                std::lock_guard guard(lock);
                calls.push_back({s, d});
            }
            WriteFile(d, std::string("stamped"));
            return result;
        };
        return {op, op};
    }
};

timespec Past() { return {1300000000, 123456789}; }

class Driver : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("XDG_CONFIG_HOME", dir_.file("config").c_str(), 1);
        MK_SettsLoadDefaults(&settings_);
    }
    std::string Picture(const std::string &name) {
        const std::string path = dir_.file(name);
        WriteFile(path, std::string("original"));
        mk::platform::SetModificationTime(path.c_str(), Past());
        return path;
    }
    void Run(const std::string &sources, const std::string *destinations, int32_t operation) {
        mk::batch::ProcessFiles(nullptr, sources.c_str(),
                                destinations ? destinations->c_str() : nullptr, operation, 0,
                                &settings_, Record, &reports_, ops_.Make());
    }

    TempDir dir_;
    Setts settings_{};
    FakeOperations ops_;
    std::vector<Report> reports_;
};

TEST_F(Driver, EmptyListReportsNothing) {
    const std::string empty(1, '\0');
    Run(empty, nullptr, OP_STAMP);
    EXPECT_TRUE(reports_.empty());
    EXPECT_TRUE(ops_.calls.empty());
}

TEST_F(Driver, UnknownOperationReports100AndTouchesNothing) {
    const auto a = Picture("a.jpg"), b = Picture("b.jpg");
    Run(MakeList({a, b}), nullptr, 3);
    ASSERT_EQ(reports_.size(), 2u);
    for (const auto &r : reports_) EXPECT_EQ(r.result, 100);
    EXPECT_TRUE(ops_.calls.empty());
    EXPECT_EQ(ReadFile(a), mk::test::Bytes({'o', 'r', 'i', 'g', 'i', 'n', 'a', 'l'}));
}

TEST_F(Driver, InPlaceKeepsTheModificationTimeToTheNanosecond) {
    const auto a = Picture("a.jpg");
    Run(MakeList({a}), nullptr, OP_STAMP);
    ASSERT_EQ(reports_.size(), 1u);
    EXPECT_EQ(reports_[0].destination, a);
    EXPECT_EQ(reports_[0].result, 0);
    const auto time = mk::platform::ModificationTime(a.c_str());
    ASSERT_TRUE(time);
    EXPECT_EQ(time->tv_sec, Past().tv_sec);
    EXPECT_EQ(time->tv_nsec, Past().tv_nsec);
}

TEST_F(Driver, SameFileUnderAnotherSpellingKeepsItsTime) {
    const auto a = Picture("a.jpg");
    const std::string other = dir_.path().string() + "/./a.jpg";
    const std::string destinations = MakeList({other});
    Run(MakeList({a}), &destinations, OP_UNDO);
    const auto time = mk::platform::ModificationTime(a.c_str());
    EXPECT_EQ(time->tv_sec, Past().tv_sec);
}

TEST_F(Driver, LetterCaseMakesAnotherFile) {
    const auto a = Picture("a.jpg");
    const auto upper = Picture("A.jpg");
    const std::string destinations = MakeList({upper});
    Run(MakeList({a}), &destinations, OP_STAMP);
    // A.jpg is a file of its own: it was written, and its time is not the
    // source's.
    EXPECT_NE(mk::platform::ModificationTime(upper.c_str())->tv_sec, Past().tv_sec);
}

TEST_F(Driver, FailedOperationOrDistinctDestinationKeepsNoTime) {
    const auto a = Picture("a.jpg");
    const std::string copy = dir_.file("stamp_a.jpg");
    const std::string destinations = MakeList({copy});
    Run(MakeList({a}), &destinations, OP_STAMP);
    ASSERT_EQ(ops_.calls.size(), 1u);
    EXPECT_EQ(ops_.calls[0].source, a);
    EXPECT_EQ(ops_.calls[0].destination, copy);
    EXPECT_NE(mk::platform::ModificationTime(copy.c_str())->tv_sec, Past().tv_sec);

    const auto b = Picture("b.jpg");
    ops_.result = -1;
    Run(MakeList({b}), nullptr, OP_STAMP);
    EXPECT_NE(mk::platform::ModificationTime(b.c_str())->tv_sec, Past().tv_sec);
    EXPECT_EQ(reports_.back().result, -1);
}

TEST_F(Driver, ReportsEveryFileInOrderWithItsDestination) {
    const auto a = Picture("a.jpg"), b = Picture("b.jpg"), c = Picture("c.jpg");
    const std::string destinations =
        MakeList({dir_.file("x"), dir_.file("y"), dir_.file("z"), dir_.file("ignored")});
    Run(MakeList({a, b, c}), &destinations, OP_STAMP);
    ASSERT_EQ(reports_.size(), 3u);
    EXPECT_EQ(reports_[0].destination, dir_.file("x"));
    EXPECT_EQ(reports_[2].destination, dir_.file("z"));
}

TEST_F(Driver, PathsTooLongAreRefusedNotCut) {
    const auto a = Picture("a.jpg");
    const std::string tooLong = dir_.path().string() + "/" + std::string(300, 'n') + ".jpg";
    Run(MakeList({tooLong, a}), nullptr, OP_STAMP);
    ASSERT_EQ(reports_.size(), 2u);
    EXPECT_EQ(reports_[0].result, MK_RESULT_PATH_TOO_LONG);
    EXPECT_EQ(reports_[0].destination, tooLong);
    EXPECT_EQ(reports_[1].result, 0);
    ASSERT_EQ(ops_.calls.size(), 1u);
    EXPECT_EQ(ops_.calls[0].source, a);

    // A long destination is refused too; 259 bytes still fit.
    const std::string destinations = MakeList({dir_.file(std::string(300, 'd'))});
    Run(MakeList({a}), &destinations, OP_STAMP);
    EXPECT_EQ(reports_.back().result, MK_RESULT_PATH_TOO_LONG);
    const std::string folder = dir_.path().string() + "/";
    const std::string fits = folder + std::string(259 - folder.size(), 'k');
    ASSERT_EQ(fits.size(), 259u);
    const std::string fitting = MakeList({fits});
    Run(MakeList({a}), &fitting, OP_STAMP);
    EXPECT_EQ(ops_.calls.back().destination, fits);
}

TEST_F(Driver, CancelDuringTheThirdFileFinishesItAndStartsNoOther) {
    std::vector<std::string> paths;
    for (int i = 0; i < 5; ++i) paths.push_back(Picture("p" + std::to_string(i) + ".jpg"));
    const std::string list = MakeList(paths);
    BatchJob job;
    mk::batch::PrepareJob(job, list.c_str(), nullptr, OP_STAMP, 0, &settings_, Record, &reports_);
    EXPECT_EQ(job.fileCount, 5u);
    job.workers = 1;
    int calls = 0;
    auto op = [&](const char *, const char *, const Setts *, const std::function<void()> &,
                  MK_FileReport *) {
        if (++calls == 3) job.cancelRequested.store(1);
        return 0;
    };
    mk::batch::RunWorkerLoop(job, {op, op});
    EXPECT_EQ(calls, 3);
    ASSERT_EQ(reports_.size(), 3u);
    EXPECT_EQ(reports_[2].destination, paths[2]);
    EXPECT_TRUE(job.finished.load());
}

TEST_F(Driver, ProgressIsTheShareOfFilesDone) {
    const std::string list = MakeList({"a", "b", "c"});
    BatchJob job;
    mk::batch::PrepareJob(job, list.c_str(), nullptr, 3, 0, &settings_, nullptr, nullptr);
    job.workers = 1;
    std::vector<int32_t> seen;
    std::vector<std::string> status;
    job.callback = [](const char *, int32_t, void *) { return 0; };
    auto op = [](const char *, const char *, const Setts *, const std::function<void()> &,
                 MK_FileReport *) { return 0; };
    // With an unknown operation the loop still walks and reports progress.
    mk::batch::RunWorkerLoop(job, {op, op});
    EXPECT_EQ(job.percent.load(), 66);
    EXPECT_EQ(job.Status(), "c");
}

TEST_F(Driver, SettingsAreCopiedOrLoadedFromThePreferences) {
    Setts stored;
    MK_SettsLoadDefaults(&stored);
    stored.fontWeight = 700;
    ASSERT_EQ(MK_SettsSaveToRegistry(&stored), 0);
    const std::string list = MakeList({"a"});
    BatchJob fromStore;
    mk::batch::PrepareJob(fromStore, list.c_str(), nullptr, OP_STAMP, 0, nullptr, nullptr, nullptr);
    EXPECT_EQ(fromStore.settings.fontWeight, 700);
    EXPECT_EQ(fromStore.destinations, fromStore.sources);
    BatchJob given;
    settings_.fontWeight = 300;
    mk::batch::PrepareJob(given, list.c_str(), nullptr, OP_STAMP, 0, &settings_, nullptr, nullptr);
    settings_.fontWeight = 900;
    EXPECT_EQ(given.settings.fontWeight, 300);
    EXPECT_NE(given.callback, nullptr);
}

// Several files at once: the callback still sees every file once, in list
// order, on the calling thread, and a file named twice is never worked on by
// two threads at the same time.
TEST_F(Driver, ParallelFilesAreReportedInOrderFromOneThread) {
    std::vector<std::string> paths;
    for (int i = 0; i < 12; ++i) paths.push_back(Picture("p" + std::to_string(i) + ".jpg"));
    paths[4] = paths[1];                            // the same file again
    paths[7] = dir_.path().string() + "/./p1.jpg";  // and under another spelling
    const std::string list = MakeList(paths);
    BatchJob job;
    mk::batch::PrepareJob(job, list.c_str(), nullptr, OP_STAMP, 0, &settings_, Record, &reports_);
    job.workers = 4;

    std::mutex lock;
    std::map<uint64_t, int> busy;  // inode -> threads working on it
    int active = 0, mostActive = 0;
    bool overlapped = false;
    auto op = [&](const char *source, const char *, const Setts *, const std::function<void()> &,
                  MK_FileReport *) {
        const uint64_t inode = mk::platform::FileIdentity(source)->second;
        {
            std::lock_guard guard(lock);
            if (++busy[inode] > 1) overlapped = true;
            mostActive = std::max(mostActive, ++active);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5 + (inode % 7) * 3));
        std::lock_guard guard(lock);
        --busy[inode];
        --active;
        return 0;
    };
    std::vector<std::thread::id> callbackThreads;
    job.callback = [](const char *d, int32_t r, void *u) {
        auto *self =
            static_cast<std::pair<std::vector<Report> *, std::vector<std::thread::id> *> *>(u);
        self->first->push_back({d, r});
        self->second->push_back(std::this_thread::get_id());
        return 0;
    };
    std::pair<std::vector<Report> *, std::vector<std::thread::id> *> sinks{&reports_,
                                                                           &callbackThreads};
    job.userData = &sinks;
    mk::batch::RunWorkerLoop(job, {op, op});

    ASSERT_EQ(reports_.size(), paths.size());
    for (size_t i = 0; i < paths.size(); ++i) {
        EXPECT_EQ(reports_[i].destination, paths[i]);
        EXPECT_EQ(callbackThreads[i], std::this_thread::get_id());
    }
    EXPECT_FALSE(overlapped);
    EXPECT_GT(mostActive, 1);
    EXPECT_LE(mostActive, 4);
    // In-place files keep their time also when processed in parallel.
    EXPECT_EQ(mk::platform::ModificationTime(paths[11].c_str())->tv_nsec, Past().tv_nsec);
}

TEST_F(Driver, CancelInParallelReportsExactlyTheFilesStarted) {
    std::vector<std::string> paths;
    for (int i = 0; i < 8; ++i) paths.push_back(Picture("c" + std::to_string(i) + ".jpg"));
    const std::string list = MakeList(paths);
    BatchJob job;
    mk::batch::PrepareJob(job, list.c_str(), nullptr, OP_STAMP, 0, &settings_, Record, &reports_);
    job.workers = 2;
    std::atomic<int> started{0};
    auto op = [&](const char *, const char *, const Setts *, const std::function<void()> &,
                  MK_FileReport *) {
        if (++started == 3) job.cancelRequested.store(1);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return 0;
    };
    mk::batch::RunWorkerLoop(job, {op, op});
    ASSERT_EQ(reports_.size(), size_t(started.load()));
    EXPECT_LT(reports_.size(), paths.size());
    for (size_t i = 0; i < reports_.size(); ++i) EXPECT_EQ(reports_[i].destination, paths[i]);
}

// An operation that has told the driver it only waits for the disk gives its
// core to the next file, but a file that shares a file with it still waits
// for it to be done.
TEST_F(Driver, AFileWaitingForTheDiskGivesItsCoreToTheNext) {
    for (const uint32_t workers : {1u, 2u}) {
        SCOPED_TRACE(workers);
        std::vector<std::string> paths;
        for (int i = 0; i < 7; ++i) paths.push_back(Picture("w" + std::to_string(i) + ".jpg"));
        paths[5] = paths[4];  // the same file again, right behind it
        const std::string list = MakeList(paths);
        std::vector<Report> reports;
        BatchJob job;
        mk::batch::PrepareJob(job, list.c_str(), nullptr, OP_STAMP, 0, &settings_, Record,
                              &reports);
        job.workers = workers;

        std::mutex lock;
        std::condition_variable started;
        size_t starts = 0;
        int onCores = 0, mostOnCores = 0, inFlight = 0, mostInFlight = 0;
        std::map<std::string, int> busy;
        bool overlapped = false;      // two operations on one file at once
        int startedWhileWaiting = 0;  // files started during another's disk wait
        auto op = [&](const char *source, const char *, const Setts *,
                      const std::function<void()> &diskWait, MK_FileReport *) {
            std::unique_lock guard(lock);
            const size_t mine = ++starts;
            started.notify_all();
            if (++busy[source] > 1) overlapped = true;
            mostOnCores = std::max(mostOnCores, ++onCores);
            mostInFlight = std::max(mostInFlight, ++inFlight);
            guard.unlock();
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
            guard.lock();
            --onCores;
            guard.unlock();
            diskWait();
            diskWait();  // a second call gives back nothing more
            guard.lock();
            // Waits for the disk until another file has started, or a
            // while when none can.
            if (started.wait_for(guard, std::chrono::milliseconds(150),
                                 [&] { return starts > mine + workers - 1; }))
                ++startedWhileWaiting;
            --busy[source];
            --inFlight;
            return 0;
        };
        mk::batch::RunWorkerLoop(job, {op, op});

        ASSERT_EQ(reports.size(), paths.size());
        for (size_t i = 0; i < paths.size(); ++i) EXPECT_EQ(reports[i].destination, paths[i]);
        EXPECT_FALSE(overlapped);
        EXPECT_EQ(mostOnCores, int(workers));
        EXPECT_GT(mostInFlight, int(workers));
        EXPECT_LE(mostInFlight, int(2 * workers));
        EXPECT_GE(startedWhileWaiting, 2);
    }
}

// The processors this thread may run on.
std::vector<int> AllowedProcessors() {
    cpu_set_t set;
    std::vector<int> processors;
    if (sched_getaffinity(0, sizeof set, &set) != 0) return processors;
    for (int p = 0; p < CPU_SETSIZE; ++p)
        if (CPU_ISSET(p, &set)) processors.push_back(p);
    return processors;
}

void RunOnAny(const std::vector<int> &processors) {
    cpu_set_t set;
    CPU_ZERO(&set);
    for (const int p : processors) CPU_SET(p, &set);
    sched_setaffinity(0, sizeof set, &set);
}

TEST(Processors, AMovedThreadRunsThereAndKeepsTheProcessorsItMayUse) {
    std::thread([] {
        const std::vector<int> allowed = AllowedProcessors();
        ASSERT_FALSE(allowed.empty());
        for (const int p : {allowed.back(), allowed.front(), allowed.back()}) {
            mk::platform::MoveToProcessor(p);
            EXPECT_EQ(mk::platform::CurrentProcessor(), p);
            EXPECT_EQ(AllowedProcessors(), allowed);
        }
        // Neither a processor outside the set nor an impossible one.
        RunOnAny({allowed.front()});
        for (const int p : {allowed.back() + 1, -1, CPU_SETSIZE}) {
            mk::platform::MoveToProcessor(p);
            EXPECT_EQ(mk::platform::CurrentProcessor(), allowed.front());
            EXPECT_EQ(AllowedProcessors(), std::vector<int>{allowed.front()});
        }
    }).join();
}

// The file started while another waits for the disk runs on the processor
// that the waiting one gave up, not wherever the system woke its thread.
TEST_F(Driver, TheNextFileTakesTheProcessorOfTheFileWaitingForTheDisk) {
    const std::vector<int> allowed = AllowedProcessors();
    if (allowed.size() < 2) GTEST_SKIP() << "one processor only";
    std::vector<std::string> paths;
    for (int i = 0; i < 8; ++i) paths.push_back(Picture("p" + std::to_string(i) + ".jpg"));
    const std::string list = MakeList(paths);
    std::vector<Report> reports;
    BatchJob job;
    mk::batch::PrepareJob(job, list.c_str(), nullptr, OP_STAMP, 0, &settings_, Record, &reports);
    job.workers = 1;

    std::mutex lock;
    std::condition_variable started;
    std::vector<int> gaveUp(paths.size(), -1), startedOn(paths.size(), -1);
    size_t starts = 0;
    auto op = [&](const char *source, const char *, const Setts *,
                  const std::function<void()> &diskWait, MK_FileReport *) {
        std::unique_lock guard(lock);
        const size_t mine = starts++;
        startedOn[mine] = mk::platform::CurrentProcessor();
        started.notify_all();
        guard.unlock();
        // Each file waits for the disk on another processor in turn, so the
        // next file's thread cannot be there by chance every time.
        const int processor = allowed[mine % allowed.size()];
        RunOnAny({processor});
        gaveUp[mine] = processor;
        diskWait();
        RunOnAny(allowed);
        guard.lock();
        started.wait_for(guard, std::chrono::milliseconds(500),
                         [&] { return starts > mine + 1 || mine + 1 == paths.size(); });
        (void)source;
        return 0;
    };
    mk::batch::RunWorkerLoop(job, {op, op});

    ASSERT_EQ(reports.size(), paths.size());
    int handedOver = 0;
    for (size_t i = 1; i < paths.size(); ++i)
        if (startedOn[i] == gaveUp[i - 1]) ++handedOver;
    // A busy machine may move a thread on at once; almost never each time.
    EXPECT_GE(handedOver, int(paths.size()) - 2)
        << ::testing::PrintToString(gaveUp) << " " << ::testing::PrintToString(startedOn);
}

TEST(SupportedFile, ByTheNameAlone) {
    struct Case {
        const char *path;
        int32_t expected;
    };
    const Case cases[] = {
        {"a.jpg", 1},  {"IMG_0001.JPG", 1}, {"x.Jpeg", 1},
        {"y.jpe", 1},  {"dir.x/p.JPE", 1},  {"a.jpg.bak", 0},
        {"a.jfif", 0}, {"noext", 0},        {"fold.jpg/name", 0},
        {"", 0},       {".jpg", 1},         {"a.jpgx", 0},
    };
    for (const auto &c : cases) EXPECT_EQ(MK_IsSupportedFile(c.path), c.expected) << c.path;
    EXPECT_EQ(MK_IsSupportedFile(nullptr), 0);
}

}  // namespace
