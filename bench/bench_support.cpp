// Process timing, summaries and the test pictures of the stamp benchmarks.
#include "bench_support.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>

namespace mk::bench {
namespace {

namespace fs = std::filesystem;

// A real photograph shipped by a Debian wallpaper package (6028 x 3391).
constexpr const char *kPhotograph = "/usr/share/backgrounds/Kleiber_by_Lukas_Baubkus.jpg";
// The fallback: a 12-megapixel camera picture of the corpus.
constexpr const char *kCorpusPicture = "canon_eos450d_12mp.jpg";
// The real ImageMagick, not a stand-in earlier in PATH.
constexpr const char *kConvert = "/usr/bin/convert";

double Now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

fs::path SourcePicture() {
    if (fs::exists(kPhotograph)) return kPhotograph;
    const fs::path corpus = fs::path(MK_BENCH_CORPUS_DIR) / kCorpusPicture;
    if (fs::exists(corpus)) return corpus;
    return {};
}

}  // namespace

Run RunProcess(const std::vector<std::string> &args, const std::filesystem::path &log) {
    Run run;
    // Everything the child needs is prepared before fork.
    std::vector<char *> argv;
    for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    const std::string logPath = log.empty() ? "/dev/null" : log.string();

    const double start = Now();
    const pid_t pid = fork();
    if (pid == 0) {
        const int in = open("/dev/null", O_RDONLY);
        const int out = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0) _exit(126);
        dup2(in, 0);
        dup2(out, 1);
        dup2(out, 2);
        execvp(argv[0], argv.data());
        // The benchmarks run no other threads when they fork, so the child
        // may still format the reason for the log.
        dprintf(2, "cannot run %s: %s\n", argv[0], std::strerror(errno));
        _exit(127);
    }
    if (pid < 0) return run;
    int status = 0;
    rusage usage{};
    pid_t waited;
    do {
        waited = wait4(pid, &status, 0, &usage);
    } while (waited < 0 && errno == EINTR);
    run.seconds = Now() - start;
    run.peakKiB = usage.ru_maxrss;
    run.ok = waited == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

std::string LogText(const std::filesystem::path &log) {
    std::string text(4096, '\0');
    FILE *file = std::fopen(log.c_str(), "r");
    if (file == nullptr) return "(no log)\n";
    text.resize(std::fread(text.data(), 1, text.size(), file));
    std::fclose(file);
    if (text.empty()) return "(nothing in the log)\n";
    if (text.back() != '\n') text.push_back('\n');
    return text;
}

Summary Summarize(std::vector<double> values) {
    Summary s;
    if (values.empty()) return s;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    s.best = values.front();
    s.worst = values.back();
    s.median = n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    return s;
}

std::string LoadText() {
    double load[3] = {0, 0, 0};
    if (getloadavg(load, 3) != 3) load[0] = load[1] = load[2] = -1;
    char text[96];
    std::snprintf(text, sizeof text, "%.2f %.2f %.2f (%u cores)", load[0], load[1], load[2],
                  std::thread::hardware_concurrency());
    return text;
}

const char *KindName(Kind kind) {
    switch (kind) {
        case Kind::k420:
            return "4:2:0";
        case Kind::k422:
            return "4:2:2";
        case Kind::k444:
            return "4:4:4";
        case Kind::kGray:
            return "gray";
        case Kind::kProgressive:
            return "progressive";
    }
    return "?";
}

std::optional<Kind> KindFromName(const std::string &name) {
    for (Kind kind : AllKinds())
        if (name == KindName(kind)) return kind;
    if (name == "420") return Kind::k420;
    if (name == "422") return Kind::k422;
    if (name == "444") return Kind::k444;
    return std::nullopt;
}

std::vector<Kind> AllKinds() {
    return {Kind::k420, Kind::k422, Kind::k444, Kind::kGray, Kind::kProgressive};
}

std::filesystem::path MakePicture(const std::filesystem::path &dataDir, Kind kind, int width,
                                  int height) {
    const fs::path source = SourcePicture();
    if (source.empty()) return {};
    static constexpr const char *kFileTags[] = {"420", "422", "444", "gray", "progressive"};
    const char *tag = kFileTags[static_cast<int>(kind)];
    const std::string origin = source.string() == kPhotograph ? "photo" : "corpus";
    const fs::path target = dataDir / (origin + "_" + std::to_string(width) + "x" +
                                       std::to_string(height) + "_" + tag + ".jpg");
    if (fs::exists(target)) return target;

    std::error_code error;
    fs::create_directories(dataDir, error);
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    // Fill the size and cut the overhang, so that no side is stretched.
    std::vector<std::string> args = {kConvert, source.string(), "-resize", size + "^", "-gravity",
                                     "center", "-extent",       size,      "-quality", "92"};
    switch (kind) {
        case Kind::k420:
            args.insert(args.end(), {"-sampling-factor", "2x2"});
            break;
        case Kind::k422:
            args.insert(args.end(), {"-sampling-factor", "2x1"});
            break;
        case Kind::k444:
            args.insert(args.end(), {"-sampling-factor", "1x1"});
            break;
        case Kind::kGray:
            args.insert(args.end(), {"-colorspace", "Gray"});
            break;
        case Kind::kProgressive:
            args.insert(args.end(), {"-sampling-factor", "2x2", "-interlace", "JPEG"});
            break;
    }
    // Written under another name first: an interrupted run leaves no half
    // picture that a later run would take.
    const fs::path partial = dataDir / (target.filename().string() + ".part.jpg");
    args.push_back(partial.string());
    std::printf("making %s from %s\n", target.filename().c_str(), source.c_str());
    std::fflush(stdout);
    if (!RunProcess(args).ok) {
        fs::remove(partial, error);
        return {};
    }
    fs::rename(partial, target, error);
    return error ? fs::path() : target;
}

std::string PictureSourceText() {
    const fs::path source = SourcePicture();
    if (source.empty()) return "none found";
    if (source.string() == kPhotograph) return "photograph " + source.filename().string();
    return "corpus picture " + source.filename().string();
}

bool ParseCommonOptions(int argc, char **argv, int defaultRuns, CommonOptions *options) {
    options->runs = defaultRuns;
    options->dataDir = MK_BENCH_DATA_DIR;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "-n" || arg == "-d") && i + 1 < argc) {
            const std::string value = argv[++i];
            if (arg == "-d") {
                options->dataDir = value;
                continue;
            }
            char *end = nullptr;
            const long runs = std::strtol(value.c_str(), &end, 10);
            if (end == value.c_str() || *end != '\0' || runs < 1 || runs > 100) {
                std::fprintf(stderr, "-n wants a number of runs from 1 to 100\n");
                return false;
            }
            options->runs = static_cast<int>(runs);
        } else {
            options->rest.push_back(arg);
        }
    }
    return true;
}

}  // namespace mk::bench
