// Batch throughput benchmark: stamps 40 pictures of 6, 12 and 24 megapixels
// through the batch driver with one worker and with the default count (one
// per core as memory permits), and prints the speed-up against its goal.
// For comparison it also runs the one-worker batch held to a single core.
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

// What the child sends back.
struct ChildReport {
    double seconds;
    uint32_t done;
    uint32_t failed;
};

struct BatchRun {
    double seconds = 0;
    double cpuSeconds = 0;  // user and system time of the child, all threads
    long peakKiB = 0;
    bool ok = false;
};

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

// One batch in a child process: the driver's own time, and the child's peak
// memory from wait4. `oneCore`: the child runs on a single processor.
BatchRun RunBatch(const std::string &sources, const std::string &destinations, uint32_t files,
                  uint32_t workers, bool oneCore) {
    BatchRun run;
    int ends[2];
    if (pipe(ends) != 0) return run;
    const pid_t pid = fork();
    if (pid == 0) {
        close(ends[0]);
        if (oneCore && !HoldToOneCore()) _exit(1);
        Setts settings{};
        MK_SettsLoadDefaults(&settings);
        Tally tally;
        const auto start = std::chrono::steady_clock::now();
        // The operations MK_ProcessFiles runs for a list of this length.
        mk::batch::ProcessFiles(
            nullptr, sources.c_str(), destinations.c_str(), OP_STAMP, 0, &settings, CountResult,
            &tally, mk::batch::StandardOperations(mk::batch::CountEntries(sources.c_str())),
            workers);
        const ChildReport report{
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
            tally.done, tally.failed};
        const bool sent = write(ends[1], &report, sizeof report) == ssize_t(sizeof report);
        _exit(sent ? 0 : 1);
    }
    close(ends[1]);
    if (pid < 0) {
        close(ends[0]);
        return run;
    }
    ChildReport report{};
    const bool got = read(ends[0], &report, sizeof report) == ssize_t(sizeof report);
    close(ends[0]);
    int status = 0;
    rusage usage{};
    pid_t waited;
    do {
        waited = wait4(pid, &status, 0, &usage);
    } while (waited < 0 && errno == EINTR);
    run.seconds = report.seconds;
    run.peakKiB = usage.ru_maxrss;
    run.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    run.ok = got && waited == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
             report.done == files && report.failed == 0;
    if (got && (report.done != files || report.failed != 0))
        std::fprintf(stderr, "batch with %u worker(s): %u of %u reported, %u failed\n", workers,
                     report.done, files, report.failed);
    return run;
}

}  // namespace

int main(int argc, char **argv) {
    mk::bench::CommonOptions options;
    if (!mk::bench::ParseCommonOptions(argc, argv, 3, &options)) return 2;
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
    // their own beside them.
    const fs::path work = options.dataDir / "batch-run";
    std::error_code error;
    fs::remove_all(work, error);
    fs::create_directories(work, error);
    std::vector<fs::path> sources, destinations;
    double totalMegapixels = 0;
    for (int i = 0; i < files; ++i) {
        const size_t which = static_cast<size_t>(i) % pictures.size();
        char name[32];
        std::snprintf(name, sizeof name, "in_%03d.jpg", i);
        sources.push_back(work / name);
        std::snprintf(name, sizeof name, "out_%03d.jpg", i);
        destinations.push_back(work / name);
        fs::copy_file(pictures[which], sources.back(), fs::copy_options::overwrite_existing, error);
        if (error) {
            std::fprintf(stderr, "cannot copy %s: %s\n", pictures[which].c_str(),
                         error.message().c_str());
            return 1;
        }
        totalMegapixels += megapixels[which];
    }
    const std::string sourceList = MakePathList(sources);
    const std::string destinationList = MakePathList(destinations);
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const uint32_t chosen = mk::batch::DefaultWorkerCount(sourceList.c_str());

    std::printf(
        "batch benchmark: %d pictures (copies of %zu pictures of 6, 12 and 24 MP from the "
        "%s), %.0f MP in all, %d runs each\n",
        files, pictures.size(), mk::bench::PictureSourceText().c_str(), totalMegapixels,
        options.runs);
    std::printf("cores: %u; default worker count for this batch: %u\n", cores, chosen);
    std::printf("load average before: %s\n", mk::bench::LoadText().c_str());
    std::fflush(stdout);

    // Worker count 1 and 0 (the default) in turn, starting with the other
    // one each round, so that neither always runs on a warmer machine. Then
    // the one-worker batch once more, held to a single core: a worker's
    // stamp reads and writes the coefficients on one thread and renders and
    // codes the stamp's blocks beside them, so one worker alone keeps a
    // little more than one core busy.
    struct Config {
        uint32_t workers;
        bool oneCore;
    };
    const Config configs[3] = {{1, false}, {0, false}, {1, true}};
    std::vector<double> seconds[3], peaks[3], cpu[3];
    for (int run = 0; run < options.runs; ++run) {
        for (int k = 0; k < 3; ++k) {
            const int which = k == 2 ? 2 : (run % 2 == 0) ? k : 1 - k;
            for (const fs::path &d : destinations) fs::remove(d, error);
            const BatchRun batch =
                RunBatch(sourceList, destinationList, static_cast<uint32_t>(files),
                         configs[which].workers, configs[which].oneCore);
            if (!batch.ok) {
                std::fprintf(stderr, "the batch with worker count %u%s failed\n",
                             configs[which].workers, configs[which].oneCore ? " on one core" : "");
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
    std::printf("  %-22s %8s %8s %8s %10s %8s %10s %6s\n", "workers", "best", "median", "worst",
                "pictures/s", "MP/s", "peak MiB", "cores");
    mk::bench::Summary summaries[3];
    for (int which = 0; which < 3; ++which) {
        const mk::bench::Summary s = mk::bench::Summarize(seconds[which]);
        const mk::bench::Summary p = mk::bench::Summarize(peaks[which]);
        const mk::bench::Summary c = mk::bench::Summarize(cpu[which]);
        summaries[which] = s;
        const std::string label = which == 0   ? std::string("1")
                                  : which == 1 ? "0 (default: " + std::to_string(chosen) + ")"
                                               : std::string("1, on one core");
        std::printf("  %-22s %8.3f %8.3f %8.3f %10.2f %8.1f %10.1f %6.2f\n", label.c_str(), s.best,
                    s.median, s.worst, files / s.best, totalMegapixels / s.best, p.median / 1024,
                    c.median / s.median);
    }
    const double speedUp = summaries[0].best / summaries[1].best;
    const double goal = kGoalPerCore * cores;
    std::printf(
        "  speed-up all cores / one worker: %.2f (median %.2f)   goal >= %.2f (%.1f x %u "
        "cores)  %s\n",
        speedUp, summaries[0].median / summaries[1].median, goal, kGoalPerCore, cores,
        mk::bench::Verdict(speedUp >= goal));
    // The batches of one round ran minutes apart at most, so their ratio is
    // less at the mercy of a machine whose speed drifts between rounds than
    // the ratio of the best times.
    auto pairedMedian = [&](int single, double *from, double *to) {
        std::vector<double> paired;
        for (size_t run = 0; run < seconds[single].size(); ++run)
            paired.push_back(seconds[single][run] / seconds[1][run]);
        const mk::bench::Summary rounds = mk::bench::Summarize(paired);
        *from = rounds.best;
        *to = rounds.worst;
        return rounds.median;
    };
    double from = 0, to = 0;
    const double paired = pairedMedian(0, &from, &to);
    std::printf("  speed-up of each round's pair: median %.2f (from %.2f to %.2f)  %s\n", paired,
                from, to, mk::bench::Verdict(paired >= goal));
    const double pairedOneCore = pairedMedian(2, &from, &to);
    std::printf(
        "  for comparison, all cores / one worker on one core: %.2f (median %.2f; each round's "
        "pair: median %.2f, from %.2f to %.2f)\n",
        summaries[2].best / summaries[1].best, summaries[2].median / summaries[1].median,
        pairedOneCore, from, to);
    std::printf("\nload average after: %s\n", mk::bench::LoadText().c_str());
    fs::remove_all(work, error);
    return 0;
}
