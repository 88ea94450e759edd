// Shared pieces of the stamp benchmarks: running a program as a child with
// its wall time and peak memory, summing up repeated runs, the machine's
// load, and making the test pictures (cached between runs).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace mk::bench {

// One run of a child process.
struct Run {
    double seconds = 0;  // from before fork to after wait4
    long peakKiB = 0;    // ru_maxrss of the child
    bool ok = false;     // exited with status 0
};

// Runs args[0] (searched in PATH) with the arguments, standard input from
// /dev/null, standard output and error into `log` (or /dev/null when empty).
Run RunProcess(const std::vector<std::string> &args, const std::filesystem::path &log = {});

// The first few kilobytes of a child's log, for a failure message.
std::string LogText(const std::filesystem::path &log);

// Best and median of repeated measurements.
struct Summary {
    double best = 0;
    double median = 0;
    double worst = 0;
};
Summary Summarize(std::vector<double> values);

// "0.52 0.80 1.20 (2 cores)": the load averages and the number of cores.
std::string LoadText();

// The kinds of test picture.
enum class Kind { k420, k422, k444, kGray, kProgressive };
const char *KindName(Kind kind);
std::optional<Kind> KindFromName(const std::string &name);
std::vector<Kind> AllKinds();

// Makes (or finds in `dataDir`) a picture of the kind at width x height,
// scaled and cropped from the photograph of the wallpaper package, else from
// a corpus picture. Empty when no source or no convert could make it.
std::filesystem::path MakePicture(const std::filesystem::path &dataDir, Kind kind, int width,
                                  int height);

// Where the pictures come from, for the report.
std::string PictureSourceText();

// Options shared by the programs: -n RUNS and -d DATA_DIR.
struct CommonOptions {
    int runs = 5;
    std::filesystem::path dataDir;
    std::vector<std::string> rest;  // arguments not taken
};
// False (after a message) on a bad option.
bool ParseCommonOptions(int argc, char **argv, int defaultRuns, CommonOptions *options);

// "met" or "MISSED" beside a goal.
inline const char *Verdict(bool met) { return met ? "met" : "MISSED"; }

}  // namespace mk::bench
