// Batch throughput benchmark: stamps 40 pictures of 6, 12 and 24 megapixels
// through the batch driver with one worker and with the default count (one
// per core as memory permits), and prints the speed-up against its goal.
// For comparison it also runs the one-worker batch held to a single core, and
// two one-worker batches at once in two processes.
//   batch_bench [-n RUNS] [-d DATA_DIR] [FILES]
// Each batch runs in a child process of its own, so that its peak memory can
// be told apart.
#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "MK_Core.h"
#include "batch/batch_job.h"
#include "bench_support.h"

namespace {

namespace fs = std::filesystem;

constexpr int kDefaultFiles = 40;
// Speed-up wanted from all cores, per core.
constexpr double kGoalPerCore = 0.9;

struct PictureSize {
    int width;
    int height;
};
// About 6, 12 and 24 megapixels, in the 3:2 shape of a camera picture.
constexpr PictureSize kSizes[] = {{3000, 2000}, {4260, 2840}, {6000, 4000}};

// A PathList: the paths back to back, each ended by NUL, then an empty one.
std::string MakePathList(const std::vector<fs::path> &paths) {
    std::string list;
    for (const fs::path &p : paths) {
        list += p.string();
        list.push_back('\0');
    }
    list.push_back('\0');
    return list;
}

struct Tally {
    uint32_t done = 0;
    uint32_t failed = 0;
};

int32_t CountResult(const char *, int32_t result, void *userData) {
    auto *tally = static_cast<Tally *>(userData);
    ++tally->done;
    if (result != 0) ++tally->failed;
    return 0;
}

// What the child sends back: when its batch started and ended on the
// system's monotonic clock, which all processes share.
struct ChildReport {
    double start;
    double end;
    uint32_t done;
    uint32_t failed;
};

struct BatchRun {
    double start = 0;
    double seconds = 0;
    double cpuSeconds = 0;  // user and system time of the child, all threads
    long peakKiB = 0;
    bool ok = false;
};

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Holds the calling process, and the threads it starts, to the first
// processor it may run on.
bool HoldToOneCore() {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof allowed, &allowed) != 0) return false;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (!CPU_ISSET(cpu, &allowed)) continue;
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(cpu, &one);
        return sched_setaffinity(0, sizeof one, &one) == 0;
    }
    return false;
}

// The files of one batch, as the driver takes them.
struct BatchLists {
    std::string sources;
    std::string destinations;
    uint32_t files = 0;
};

// A batch running in a child process of its own.
struct StartedBatch {
    pid_t pid = -1;
    int reportFd = -1;
    uint32_t workers = 0;
    uint32_t files = 0;
};

// Starts one batch in a child process. `oneCore`: the child runs on a
// single processor.
StartedBatch StartBatch(const BatchLists &lists, uint32_t workers, bool oneCore) {
    StartedBatch started;
    started.workers = workers;
    started.files = lists.files;
    int ends[2];
    if (pipe(ends) != 0) return started;
    const pid_t pid = fork();
    if (pid == 0) {
        close(ends[0]);
        if (oneCore && !HoldToOneCore()) _exit(1);
        Setts settings{};
        MK_SettsLoadDefaults(&settings);
        Tally tally;
        const double start = Now();
        // The operations MK_ProcessFiles runs for a list of this length.
        mk::batch::ProcessFiles(
            nullptr, lists.sources.c_str(), lists.destinations.c_str(), OP_STAMP, 0, &settings,
            CountResult, &tally,
            mk::batch::StandardOperations(mk::batch::CountEntries(lists.sources.c_str())), workers);
        const ChildReport report{start, Now(), tally.done, tally.failed};
        const bool sent = write(ends[1], &report, sizeof report) == ssize_t(sizeof report);
        _exit(sent ? 0 : 1);
    }
    close(ends[1]);
    if (pid < 0) {
        close(ends[0]);
        return started;
    }
    started.pid = pid;
    started.reportFd = ends[0];
    return started;
}

// Waits for a started batch: the driver's own time, and the child's peak
// memory and processor time from wait4.
BatchRun FinishBatch(const StartedBatch &started) {
    BatchRun run;
    if (started.pid < 0) return run;
    ChildReport report{};
    const bool got = read(started.reportFd, &report, sizeof report) == ssize_t(sizeof report);
    close(started.reportFd);
    int status = 0;
    rusage usage{};
    pid_t waited;
    do {
        waited = wait4(started.pid, &status, 0, &usage);
    } while (waited < 0 && errno == EINTR);
    run.start = report.start;
    run.seconds = report.end - report.start;
    run.peakKiB = usage.ru_maxrss;
    run.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    run.ok = got && waited == started.pid && WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
             report.done == started.files && report.failed == 0;
    if (got && (report.done != started.files || report.failed != 0))
        std::fprintf(stderr, "batch with %u worker(s): %u of %u reported, %u failed\n",
                     started.workers, report.done, started.files, report.failed);
    return run;
}

// Two one-worker batches at once, each on files of its own, in two
// processes: what the machine gives work that shares nothing but its
// processors, memory and disk. Its time is from the earlier start to the
// later end; peak memory and processor time are those of both.
BatchRun RunTwoApart(const BatchLists &first, const BatchLists &second) {
    const StartedBatch a = StartBatch(first, 1, false);
    const StartedBatch b = StartBatch(second, 1, false);
    const BatchRun ra = FinishBatch(a);
    const BatchRun rb = FinishBatch(b);
    BatchRun both;
    both.ok = ra.ok && rb.ok;
    both.start = std::min(ra.start, rb.start);
    both.seconds = std::max(ra.start + ra.seconds, rb.start + rb.seconds) - both.start;
    both.cpuSeconds = ra.cpuSeconds + rb.cpuSeconds;
    both.peakKiB = ra.peakKiB + rb.peakKiB;
    return both;
}

}  // namespace

int main(int argc, char **argv) {
    mk::bench::CommonOptions options;
    if (!mk::bench::ParseCommonOptions(argc, argv, 7, &options)) return 2;
    int files = kDefaultFiles;
    if (options.rest.size() == 1) files = std::atoi(options.rest[0].c_str());
    if (options.rest.size() > 1 || files < 1 || files > 1000) {
        std::fprintf(stderr, "usage: batch_bench [-n RUNS] [-d DATA_DIR] [FILES]\n");
        return 2;
    }

    std::vector<fs::path> pictures;
    std::vector<double> megapixels;
    for (const PictureSize &size : kSizes) {
        const fs::path p =
            mk::bench::MakePicture(options.dataDir, mk::bench::Kind::k420, size.width, size.height);
        if (p.empty()) {
            std::fprintf(stderr, "cannot make the %d x %d picture\n", size.width, size.height);
            return 1;
        }
        pictures.push_back(p);
        megapixels.push_back(size.width * double(size.height) / 1e6);
    }

    // The batch: copies of the pictures in turn, stamped into copies of
    // their own beside them. A second set of copies, in a folder of its
    // own, is for the second of two batches run at once.
    const fs::path work = options.dataDir / "batch-run";
    std::error_code error;
    fs::remove_all(work, error);
    BatchLists lists[2];
    std::vector<fs::path> destinations;
    double totalMegapixels = 0;
    for (int set = 0; set < 2; ++set) {
        const fs::path folder = set == 0 ? work : work / "apart";
        fs::create_directories(folder, error);
        std::vector<fs::path> sources, outputs;
        for (int i = 0; i < files; ++i) {
            const size_t which = static_cast<size_t>(i) % pictures.size();
            char name[32];
            std::snprintf(name, sizeof name, "in_%03d.jpg", i);
            sources.push_back(folder / name);
            std::snprintf(name, sizeof name, "out_%03d.jpg", i);
            outputs.push_back(folder / name);
            fs::copy_file(pictures[which], sources.back(), fs::copy_options::overwrite_existing,
                          error);
            if (error) {
                std::fprintf(stderr, "cannot copy %s: %s\n", pictures[which].c_str(),
                             error.message().c_str());
                return 1;
            }
            if (set == 0) totalMegapixels += megapixels[which];
        }
        lists[set] =
            BatchLists{MakePathList(sources), MakePathList(outputs), static_cast<uint32_t>(files)};
        destinations.insert(destinations.end(), outputs.begin(), outputs.end());
    }
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const uint32_t chosen = mk::batch::DefaultWorkerCount(lists[0].sources.c_str());

    std::printf(
        "batch benchmark: %d pictures (copies of %zu pictures of 6, 12 and 24 MP from the "
        "%s), %.0f MP in all, %d runs each\n",
        files, pictures.size(), mk::bench::PictureSourceText().c_str(), totalMegapixels,
        options.runs);
    std::printf("cores: %u; default worker count for this batch: %u\n", cores, chosen);
    std::printf("load average before: %s\n", mk::bench::LoadText().c_str());
    std::fflush(stdout);

    // Worker count 1 and 0 (the default) in turn, starting with the other
    // one each round, so that neither always runs on a warmer machine. Then,
    // for comparison only:
    // - the one-worker batch once more, held to a single core: a worker's
    //   stamp reads and writes the coefficients on one thread and renders
    //   and codes the stamp's blocks beside them, so one worker alone keeps
    //   a little more than one core busy;
    // - two one-worker batches at once in two processes, each on copies of
    //   its own: how much faster two cores make work that shares nothing
    //   but the machine, the most one batch on two cores can hope for.
    enum { kOne, kAll, kOneCore, kTwoApart, kConfigs };
    std::vector<double> seconds[kConfigs], peaks[kConfigs], cpu[kConfigs];
    for (int run = 0; run < options.runs; ++run) {
        for (int k = 0; k < kConfigs; ++k) {
            const int which = k >= kOneCore ? k : (run % 2 == 0) ? k : 1 - k;
            for (const fs::path &d : destinations) fs::remove(d, error);
            BatchRun batch;
            if (which == kTwoApart)
                batch = RunTwoApart(lists[0], lists[1]);
            else
                batch = FinishBatch(StartBatch(lists[0], which == kAll ? 0 : 1, which == kOneCore));
            if (!batch.ok) {
                static const char *const kNames[kConfigs] = {
                    "with one worker", "with the default worker count",
                    "with one worker on one core", "pair run at once"};
                std::fprintf(stderr, "the batch %s failed\n", kNames[which]);
                return 1;
            }
            seconds[which].push_back(batch.seconds);
            peaks[which].push_back(static_cast<double>(batch.peakKiB));
            cpu[which].push_back(batch.cpuSeconds);
        }
    }
    for (const fs::path &d : destinations) fs::remove(d, error);

    std::printf("\nC. batch of %d pictures, wall time in seconds\n", files);
    // CPU: the median of the processor time over the median wall time, in
    // cores.
    std::printf("  %-25s %8s %8s %8s %10s %8s %10s %6s\n", "workers", "best", "median", "worst",
                "pictures/s", "MP/s", "peak MiB", "cores");
    mk::bench::Summary summaries[kConfigs];
    for (int which = 0; which < kConfigs; ++which) {
        const mk::bench::Summary s = mk::bench::Summarize(seconds[which]);
        const mk::bench::Summary p = mk::bench::Summarize(peaks[which]);
        const mk::bench::Summary c = mk::bench::Summarize(cpu[which]);
        summaries[which] = s;
        const std::string label = which == kOne   ? std::string("1")
                                  : which == kAll ? "0 (default: " + std::to_string(chosen) + ")"
                                  : which == kOneCore
                                      ? std::string("1, on one core")
                                      : "1, twice at once (2 x " + std::to_string(files) + ")";
        const double count = which == kTwoApart ? 2.0 * files : files;
        const double mp = which == kTwoApart ? 2 * totalMegapixels : totalMegapixels;
        std::printf("  %-25s %8.3f %8.3f %8.3f %10.2f %8.1f %10.1f %6.2f\n", label.c_str(), s.best,
                    s.median, s.worst, count / s.best, mp / s.best, p.median / 1024,
                    c.median / s.median);
    }
    const double speedUp = summaries[kOne].best / summaries[kAll].best;
    const double goal = kGoalPerCore * cores;
    std::printf(
        "  speed-up all cores / one worker: %.2f (median %.2f)   goal >= %.2f (%.1f x %u "
        "cores)  %s\n",
        speedUp, summaries[kOne].median / summaries[kAll].median, goal, kGoalPerCore, cores,
        mk::bench::Verdict(speedUp >= goal));
    // The batches of one round ran minutes apart at most, so their ratio is
    // less at the mercy of a machine whose speed drifts between rounds than
    // the ratio of the best times. `scale` turns a ratio of times into one
    // of throughputs where the two batches differ in their number of files.
    auto pairedMedian = [&](int slower, int faster, double scale, double *from, double *to) {
        std::vector<double> paired;
        for (size_t run = 0; run < seconds[slower].size(); ++run)
            paired.push_back(scale * seconds[slower][run] / seconds[faster][run]);
        const mk::bench::Summary rounds = mk::bench::Summarize(paired);
        *from = rounds.best;
        *to = rounds.worst;
        return rounds.median;
    };
    double from = 0, to = 0;
    const double paired = pairedMedian(kOne, kAll, 1, &from, &to);
    std::printf("  speed-up of each round's pair: median %.2f (from %.2f to %.2f)  %s\n", paired,
                from, to, mk::bench::Verdict(paired >= goal));
    const double pairedOneCore = pairedMedian(kOneCore, kAll, 1, &from, &to);
    std::printf(
        "  for comparison, all cores / one worker on one core: %.2f (median %.2f; each round's "
        "pair: median %.2f, from %.2f to %.2f)\n",
        summaries[kOneCore].best / summaries[kAll].best,
        summaries[kOneCore].median / summaries[kAll].median, pairedOneCore, from, to);
    // Two batches at once did twice the files of one.
    const double pairedApart = pairedMedian(kOne, kTwoApart, 2, &from, &to);
    std::printf(
        "  for comparison, two one-worker batches at once / one worker: %.2f (median %.2f; each "
        "round: median %.2f, from %.2f to %.2f)\n",
        2 * summaries[kOne].best / summaries[kTwoApart].best,
        2 * summaries[kOne].median / summaries[kTwoApart].median, pairedApart, from, to);
    const double pairedShare = pairedMedian(kAll, kTwoApart, 2, &from, &to);
    std::printf(
        "  one batch on all cores reaches %.2f of the throughput of the two apart (each "
        "round: median %.2f, from %.2f to %.2f)\n",
        2 * summaries[kAll].best / summaries[kTwoApart].best, pairedShare, from, to);
    std::printf("\nload average after: %s\n", mk::bench::LoadText().c_str());
    fs::remove_all(work, error);
    return 0;
}
