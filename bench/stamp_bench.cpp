// End-to-end stamp benchmark: `mkquill -L -V0` on a copy of a 24-megapixel
// picture of each kind, against `jpegtran -copy all` (lossless copy of the
// same file) and ImageMagick's convert drawing the same text, all measured
// in the same run. Prints wall times, peak memory and the ratios with their
// goals.
//   stamp_bench [-n RUNS] [-d DATA_DIR] [--no-convert] [KIND...]
// KIND: 4:2:0 (or 420), 4:2:2, 4:4:4, gray, progressive; all when none given.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "MK_Core.h"
#include "bench_support.h"
#include "engine/engine.h"
#include "metadata/stamp_date.h"
#include "overlay/font_match.h"
#include "settings/geometry.h"

namespace {

namespace fs = std::filesystem;
using mk::bench::Kind;

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;
// A picture so small that the tools' times and memory are their fixed cost.
constexpr int kTinySide = 64;

// Goals of the stamp against the references.
constexpr double kGoal420 = 1.10;      // stamp / jpegtran, 4:2:0
constexpr double kGoalAnyKind = 1.15;  // stamp / jpegtran, every kind
constexpr double kGoalMemory = 1.15;   // peak memory stamp / jpegtran
constexpr double kGoalConvert = 0.33;  // stamp / convert

struct ToolFigures {
    mk::bench::Summary seconds;
    mk::bench::Summary peakKiB;
    bool measured = false;
};

struct KindFigures {
    Kind kind = Kind::k420;
    uintmax_t bytes = 0;
    uintmax_t stampedBytes = 0;  // the stamped copy, undo data included
    std::string text;
    int fontHeight = 0;
    ToolFigures jpegtran, stamp, convert;
};

double MiB(double kib) { return kib / 1024.0; }

void Collect(const mk::bench::Run &run, std::vector<double> &seconds, std::vector<double> &peaks) {
    seconds.push_back(run.seconds);
    peaks.push_back(static_cast<double>(run.peakKiB));
}

ToolFigures Figures(const std::vector<double> &seconds, const std::vector<double> &peaks) {
    return {mk::bench::Summarize(seconds), mk::bench::Summarize(peaks), !seconds.empty()};
}

// True when the picture decodes whole at the size given.
bool DecodesAs(const fs::path &picture, int32_t width, int32_t height) {
    std::vector<uint8_t> pixels(size_t(width) * size_t(height) * 4);
    int32_t w = width, h = height;
    return mk::engine::ReadJpegFile(picture.c_str(), pixels.data(), &w, &h, nullptr) == 0 &&
           w == width && h == height;
}

// Measures one kind; false after a message when something could not run.
bool MeasureKind(const fs::path &dataDir, Kind kind, int wantedWidth, int wantedHeight, int runs,
                 bool withConvert, KindFigures *figures) {
    const fs::path picture = mk::bench::MakePicture(dataDir, kind, wantedWidth, wantedHeight);
    if (picture.empty()) {
        std::fprintf(stderr, "cannot make the %s picture\n", mk::bench::KindName(kind));
        return false;
    }
    const fs::path work = dataDir / "stamp-run";
    std::error_code error;
    fs::create_directories(work, error);
    // The stamp runs on a copy, as a user's file would be: its date is the
    // copy's own (the made pictures have no EXIF date of their own).
    const std::string name = picture.stem().string() + ".jpg";
    const fs::path copy = work / ("in_" + name);
    const fs::path stamped = work / ("stamp_in_" + name);
    const fs::path copied = work / ("jpegtran_" + name);
    const fs::path drawn = work / ("convert_" + name);
    const fs::path log = work / "last.log";
    fs::copy_file(picture, copy, fs::copy_options::overwrite_existing, error);
    if (error) {
        std::fprintf(stderr, "cannot copy %s: %s\n", picture.c_str(), error.message().c_str());
        return false;
    }

    int32_t width = 0, height = 0;
    if (mk::engine::ReadJpegFile(copy.c_str(), nullptr, &width, &height, nullptr) != 0) {
        std::fprintf(stderr, "cannot read %s\n", copy.c_str());
        return false;
    }
    Setts settings{};
    MK_SettsLoadDefaults(&settings);
    char text[256] = "";
    mk::metadata::MakeStampText(copy.c_str(), settings.flags, mk::settings::DateFormatOf(settings),
                                text);
    figures->kind = kind;
    figures->bytes = fs::file_size(copy);
    figures->text = text;
    figures->fontHeight = mk::settings::GeometryInPixels(settings, width, height).fontHeight;
    // convert draws with the face the stamp takes; its own default face
    // need not be installed.
    mk::overlay::FontWish wish;
    wish.family.assign(settings.fontFace, ::strnlen(settings.fontFace, sizeof settings.fontFace));
    wish.weight = settings.fontWeight;
    wish.italic = settings.fontItalic;
    wish.charSet = settings.fontCharSet;
    const mk::overlay::FontMatch font = mk::overlay::SeekInstalledFont(wish);

    const std::vector<std::string> jpegtran = {"jpegtran", "-copy",         "all",
                                               "-outfile", copied.string(), copy.string()};
    const std::vector<std::string> stamp = {MK_BENCH_MKQUILL, "-L", "-V0", copy.string()};
    std::vector<std::string> convert = {
        "/usr/bin/convert", copy.string(), "-fill",
        "#FF8000",          "-pointsize",  std::to_string(figures->fontHeight),
        "-gravity",         "SouthEast",   "-annotate",
        "+80+45",           figures->text, drawn.string()};
    if (font.face) convert.insert(convert.begin() + 2, {"-font", font.face->file});

    std::vector<double> seconds[3], peaks[3];
    for (int run = 0; run < runs; ++run) {
        for (const fs::path &output : {stamped, copied, drawn}) fs::remove(output, error);
        const mk::bench::Run reference = mk::bench::RunProcess(jpegtran, log);
        if (!reference.ok) {
            std::fprintf(stderr, "jpegtran failed on %s:\n%s", copy.c_str(),
                         mk::bench::LogText(log).c_str());
            return false;
        }
        Collect(reference, seconds[0], peaks[0]);
        const mk::bench::Run ours = mk::bench::RunProcess(stamp, log);
        // mkquill's exit status tells that the batch ran; the copy tells
        // that the file was stamped.
        if (!ours.ok || !fs::exists(stamped) || fs::file_size(stamped) == 0) {
            std::fprintf(stderr, "mkquill did not stamp %s:\n%s", copy.c_str(),
                         mk::bench::LogText(log).c_str());
            return false;
        }
        Collect(ours, seconds[1], peaks[1]);
        figures->stampedBytes = fs::file_size(stamped);
        if (withConvert) {
            const mk::bench::Run drawing = mk::bench::RunProcess(convert, log);
            if (!drawing.ok) {
                std::fprintf(stderr, "convert failed on %s (--no-convert leaves it out):\n%s",
                             copy.c_str(), mk::bench::LogText(log).c_str());
                return false;
            }
            Collect(drawing, seconds[2], peaks[2]);
        }
    }
    // Outside the timing: the last stamped copy is a whole picture.
    if (!DecodesAs(stamped, width, height)) {
        std::fprintf(stderr, "the stamped copy %s does not decode\n", stamped.c_str());
        return false;
    }
    figures->jpegtran = Figures(seconds[0], peaks[0]);
    figures->stamp = Figures(seconds[1], peaks[1]);
    figures->convert = Figures(seconds[2], peaks[2]);
    for (const fs::path &output : {copy, stamped, copied, drawn}) fs::remove(output, error);
    return true;
}

void PrintTool(const char *kind, const char *tool, const ToolFigures &t) {
    if (!t.measured) return;
    std::printf("  %-12s %-9s %8.3f %8.3f %8.3f %10.1f\n", kind, tool, t.seconds.best,
                t.seconds.median, t.seconds.worst, MiB(t.peakKiB.median));
}

void PrintRatio(const char *what, double best, double median, const char *relation, double goal) {
    const bool met = relation[0] == '<' ? best <= goal : best >= goal;
    std::printf("  %-34s %6.2f (median %5.2f)   goal %s %.2f  %s\n", what, best, median, relation,
                goal, mk::bench::Verdict(met));
}

}  // namespace

int main(int argc, char **argv) {
    mk::bench::CommonOptions options;
    if (!mk::bench::ParseCommonOptions(argc, argv, 5, &options)) return 2;
    bool withConvert = true;
    std::vector<Kind> kinds;
    for (const std::string &arg : options.rest) {
        if (arg == "--no-convert") {
            withConvert = false;
        } else if (const auto kind = mk::bench::KindFromName(arg)) {
            kinds.push_back(*kind);
        } else {
            std::fprintf(stderr,
                         "usage: stamp_bench [-n RUNS] [-d DATA_DIR] [--no-convert] "
                         "[4:2:0|4:2:2|4:4:4|gray|progressive...]\n");
            return 2;
        }
    }
    if (kinds.empty()) kinds = mk::bench::AllKinds();

    std::printf("stamp benchmark: %d x %d pictures from the %s, %d runs of each tool\n", kWidth,
                kHeight, mk::bench::PictureSourceText().c_str(), options.runs);
    std::printf("load average before: %s\n", mk::bench::LoadText().c_str());
    std::fflush(stdout);

    std::vector<KindFigures> all;
    for (Kind kind : kinds) {
        KindFigures figures;
        if (!MeasureKind(options.dataDir, kind, kWidth, kHeight, options.runs, withConvert,
                         &figures))
            return 1;
        all.push_back(figures);
    }
    KindFigures tiny;
    if (!MeasureKind(options.dataDir, Kind::k420, kTinySide, kTinySide, options.runs, false, &tiny))
        return 1;

    std::printf("\nwall time in seconds (best, median, worst) and median peak memory\n");
    std::printf("  %-12s %-9s %8s %8s %8s %10s\n", "kind", "tool", "best", "median", "worst",
                "peak MiB");
    for (const KindFigures &f : all) {
        const char *kind = mk::bench::KindName(f.kind);
        PrintTool(kind, "jpegtran", f.jpegtran);
        PrintTool(kind, "mkquill", f.stamp);
        PrintTool(kind, "convert", f.convert);
        std::printf("  %-12s %.2f MB file, stamped copy %+.0f kB; stamp text \"%s\" at %d px\n", "",
                    f.bytes / 1e6, (double(f.stampedBytes) - double(f.bytes)) / 1e3, f.text.c_str(),
                    f.fontHeight);
    }

    std::printf(
        "  fixed cost, %d x %d 4:2:0 picture: jpegtran %.1f ms, %.1f MiB; mkquill %.1f "
        "ms, %.1f MiB\n",
        kTinySide, kTinySide, tiny.jpegtran.seconds.best * 1e3, MiB(tiny.jpegtran.peakKiB.median),
        tiny.stamp.seconds.best * 1e3, MiB(tiny.stamp.peakKiB.median));

    for (const KindFigures &f : all) {
        if (f.kind != Kind::k420) continue;
        std::printf("\nA. end-to-end stamp, 24 MP baseline 4:2:0 (ratios of best times)\n");
        PrintRatio("stamp / jpegtran, time", f.stamp.seconds.best / f.jpegtran.seconds.best,
                   f.stamp.seconds.median / f.jpegtran.seconds.median, "<=", kGoal420);
        PrintRatio("stamp / jpegtran, peak memory", f.stamp.peakKiB.best / f.jpegtran.peakKiB.best,
                   f.stamp.peakKiB.median / f.jpegtran.peakKiB.median, "<=", kGoalMemory);
        if (f.convert.measured)
            PrintRatio("stamp / convert, time", f.stamp.seconds.best / f.convert.seconds.best,
                       f.stamp.seconds.median / f.convert.seconds.median, "<=", kGoalConvert);
    }

    std::printf("\nB. stamp / jpegtran per kind, 24 MP (ratios of best times)\n");
    std::printf("  %-12s %6s %7s %10s %-7s %7s %-7s\n", "kind", "time", "median", "goal", "",
                "memory", "");
    for (const KindFigures &f : all) {
        const double goal = f.kind == Kind::k420 ? kGoal420 : kGoalAnyKind;
        const double time = f.stamp.seconds.best / f.jpegtran.seconds.best;
        const double memory = f.stamp.peakKiB.median / f.jpegtran.peakKiB.median;
        std::printf("  %-12s %6.2f %7.2f   <= %4.2f %-7s %7.2f %-7s\n", mk::bench::KindName(f.kind),
                    time, f.stamp.seconds.median / f.jpegtran.seconds.median, goal,
                    mk::bench::Verdict(time <= goal), memory,
                    mk::bench::Verdict(memory <= kGoalMemory));
    }
    std::printf("\nload average after: %s\n", mk::bench::LoadText().c_str());
    return 0;
}
