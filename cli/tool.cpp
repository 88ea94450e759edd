// The mkquill main sequence: banner, arguments, lists, settings program,
// settings, batch, closing line.
#include "tool.h"

#include <cstdio>
#include <cstring>

#include "MK_Core.h"
#include "expand.h"
#include "interrupt.h"
#include "naming.h"
#include "options.h"
#include "path_list.h"
#include "report.h"
#include "run_state.h"
#include "settings_program.h"

namespace mk::cli {
namespace {

constexpr const char *kBanner = "Mirelkanzoar command-line tool.\r\n";
constexpr const char *kUsage =
    "Usage: mkquill.exe options infiles\r\n"
    "  e.g. mkquill.exe t1.jpg t2.jpg test*.jpg \r\n"
    "  infiles: list of file names, wildcards supported\r\n"
    "  options:\r\n"
    "   -S stamp[default]\r\n"
    "   -U undo stamp\r\n"
    "   -R recursive \r\n"
    "   -D show settings dlialog before file operations\r\n"
    "   -O overwrite existing files\r\n"
    "   -Pstr prefix for processed files [stamp_]\r\n"
    "   -Lfile load settings from .mks file\r\n"
    "   -L use default settings\r\n"
    "   -V0 silent \r\n";

constexpr size_t kInitialListSize = 1024;

// Exit status when at least one file could not be processed.
constexpr int kSomeFilesFailed = 2;

// The letter as typed; a lone "-" or "/" has none, so the introducer itself
// stands for it rather than a NUL byte.
char TypedLetter(const char *argument) { return argument[1] != '\0' ? argument[1] : argument[0]; }

}  // namespace

int RunTool(int argc, const char *const *argv) {
    std::printf("%s", kBanner);

    RunState state;
    paths::PathListBuffer sources(kInitialListSize);
    for (int i = 1; i < argc; ++i) {
        const char *argument = argv[i];
        if (IsOption(argument)) {
            if (!ApplyOption(argument, state))
                std::printf("Unknown option %c\r\n", TypedLetter(argument));
        } else {
            // -R counts for the patterns after it only, so it is read now.
            ExpandPattern(argument, state.recursive, sources);
        }
    }

    if (sources.count() == 0) {
        std::printf("%s", kUsage);
        return -1;
    }

    const paths::PathListBuffer destinations = BuildDestinations(sources, state);

    if (state.showSettings) RunSettingsProgram();

    Setts settings;
    std::memset(&settings, 0, sizeof settings);
    if (state.defaultSettings) {
        MK_SettsLoadDefaults(&settings);
    } else if (!state.settingsFile.empty()) {
        if (MK_SettsLoadFromFile(&settings, state.settingsFile.c_str()) != 0) {
            if (state.verbosity >= 1) std::printf("Can't open settings file");
            return 1;
        }
    }

    CatchInterrupts();
    MK_ProcessFilesEx(nullptr, sources.data(), destinations.data(), state.operation, 0,
                      settings.recordSize != 0 ? &settings : nullptr, ReportFile,
                      InterruptRequested, &state);

    if (state.verbosity >= 2) std::printf("\nFinished.\n");
    if (const int signal = InterruptSignal(); signal != 0) {
        std::fprintf(stderr, "mkquill: stopped by signal %d before every file was processed\n",
                     signal);
        return 128 + signal;
    }
    return state.failures != 0 ? kSomeFilesFailed : 0;
}

}  // namespace mk::cli
