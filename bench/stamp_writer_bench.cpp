// Benchmark of the stamped-image writer on a 24-megapixel 4:2:0 picture:
// its time against `jpegtran -copy all` on the same file, measured in the
// same run, and its peak memory per pixel.
//   stamp_writer_bench [source.jpg]
// Without an argument the picture is made from a corpus file, scaled up.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/engine.h"

namespace {

constexpr int kRuns = 3;

struct Measure {
    double seconds = 0;
    long peakKiB = 0;
};

// Resident set size now, in KiB.
long CurrentKiB() {
    FILE *file = std::fopen("/proc/self/statm", "r");
    long pages = 0, resident = 0;
    if (file != nullptr) {
        if (std::fscanf(file, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(file);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Runs a command in a child; its wall time and peak memory.
bool RunTool(const std::vector<std::string> &args, Measure *measure) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<char *> argv;
        for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return false;
    measure->seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    measure->peakKiB = usage.ru_maxrss;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// In a child: decode, paint a box, then time the writer alone. The child
// reports the writer's time, the memory before it and its peak.
struct WriterReport {
    double seconds;
    long beforeKiB;
    long peakKiB;
    int32_t result;
};

bool RunWriter(const std::string &source, const std::string &destination, WriterReport *report) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return false;
    const pid_t pid = fork();
    if (pid == 0) {
        close(pipeEnds[0]);
        WriterReport r{};
        int32_t width = 0, height = 0;
        r.result = mk::engine::ReadJpegFile(source.c_str(), nullptr, &width, &height, nullptr);
        std::vector<uint8_t> pixels;
        if (r.result == 0) {
            pixels.resize(static_cast<size_t>(width) * height * 4);
            r.result =
                mk::engine::ReadJpegFile(source.c_str(), pixels.data(), &width, &height, nullptr);
        }
        // A date stamp's box near the bottom right corner: 1500 x 250 pixels.
        const int left = width - 1700, right = width - 201, top = height - 450,
                  bottom = height - 201;
        for (int y = top; r.result == 0 && y <= bottom; ++y)
            for (int x = left; x <= right; ++x) {
                uint8_t *p =
                    pixels.data() + ((static_cast<size_t>(height) - 1 - y) * width + x) * 4;
                p[0] = p[1] = p[2] = ((x / 9 + y / 13) % 2) ? 240 : 20;
            }
        r.beforeKiB = CurrentKiB();
        const auto start = std::chrono::steady_clock::now();
        if (r.result == 0)
            r.result = mk::engine::WriteStampedJpeg(source.c_str(), destination.c_str(),
                                                    pixels.data(), left, height - 1 - bottom, right,
                                                    height - 1 - top, 1, nullptr);
        r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        r.peakKiB = usage.ru_maxrss;
        const bool sent = write(pipeEnds[1], &r, sizeof r) == static_cast<ssize_t>(sizeof r);
        _exit(sent ? 0 : 1);
    }
    close(pipeEnds[1]);
    const bool got =
        read(pipeEnds[0], report, sizeof *report) == static_cast<ssize_t>(sizeof *report);
    close(pipeEnds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return got && WIFEXITED(status) && WEXITSTATUS(status) == 0 && report->result == 0;
}

}  // namespace

int main(int argc, char **argv) {
    const std::filesystem::path work = std::filesystem::temp_directory_path() / "mk-stamp-bench";
    std::filesystem::create_directories(work);
    std::string source = argc > 1 ? argv[1] : (work / "24mp_420.jpg").string();
    if (argc <= 1 && !std::filesystem::exists(source)) {
        const std::string from = std::string(MK_BENCH_CORPUS_DIR) + "/canon_eos450d_12mp.jpg";
        std::printf("making %s from %s\n", source.c_str(), from.c_str());
        Measure ignored;
        if (!RunTool({"convert", from, "-resize", "6000x4000!", "-sampling-factor", "2x2,1x1,1x1",
                      "-quality", "92", source},
                     &ignored)) {
            std::fprintf(stderr, "convert failed\n");
            return 1;
        }
    }
    int32_t width = 0, height = 0;
    if (mk::engine::ReadJpegFile(source.c_str(), nullptr, &width, &height, nullptr) != 0) {
        std::fprintf(stderr, "cannot read %s\n", source.c_str());
        return 1;
    }
    const double pixels = static_cast<double>(width) * height;
    std::printf("picture: %d x %d (%.1f MP), %ju bytes\n", width, height, pixels / 1e6,
                static_cast<uintmax_t>(std::filesystem::file_size(source)));

    double toolSeconds = 1e30, writerSeconds = 1e30;
    long toolPeak = 0, writerPeak = 0, writerBefore = 0;
    for (int run = 0; run < kRuns; ++run) {
        Measure tool;
        if (!RunTool(
                {"jpegtran", "-copy", "all", "-outfile", (work / "jpegtran.jpg").string(), source},
                &tool)) {
            std::fprintf(stderr, "jpegtran failed\n");
            return 1;
        }
        WriterReport writer{};
        if (!RunWriter(source, (work / "stamped.jpg").string(), &writer)) {
            std::fprintf(stderr, "writer failed (%d)\n", writer.result);
            return 1;
        }
        toolSeconds = std::min(toolSeconds, tool.seconds);
        toolPeak = std::max(toolPeak, tool.peakKiB);
        writerSeconds = std::min(writerSeconds, writer.seconds);
        writerPeak = std::max(writerPeak, writer.peakKiB);
        writerBefore = std::max(writerBefore, writer.beforeKiB);
    }
    std::printf("jpegtran -copy all: %.3f s, peak %ld KiB\n", toolSeconds, toolPeak);
    std::printf(
        "writer:             %.3f s, peak %ld KiB (%ld KiB before the call: "
        "decoded pixels)\n",
        writerSeconds, writerPeak, writerBefore);
    std::printf("time ratio writer / jpegtran: %.2f\n", writerSeconds / toolSeconds);
    std::printf("peak memory per pixel: %.2f bytes (process), %.2f bytes (writer's own)\n",
                writerPeak * 1024.0 / pixels, (writerPeak - writerBefore) * 1024.0 / pixels);
    std::printf("jpegtran peak memory per pixel: %.2f bytes\n", toolPeak * 1024.0 / pixels);
    return 0;
}
