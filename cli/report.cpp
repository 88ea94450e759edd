// The per-file report.
#include "report.h"

#include <cstdio>

namespace mk::cli {

std::string ReportText(int32_t verbosity, int32_t operation, int32_t result,
                       const char *destination) {
    if (verbosity < 3) return {};
    std::string text = result != 0 ? "Error - " : "";
    text += ' ';
    text += operation == OP_STAMP ? "Stamp: " : "Undo Stamp: ";
    text += ' ';
    text += destination;
    // At level 3 each line overwrites the previous one on a console.
    text += '\r';
    if (verbosity >= 4) text += '\n';
    return text;
}

std::string FailureText(const MK_FileReport &report) {
    if (report.result == 0) return {};
    std::string text = "mkquill: ";
    text += report.source;
    text += ": ";
    text += report.text[0] != '\0' ? report.text : "failed";
    text += '\n';
    return text;
}

namespace {

// Writes the text and hands it on at once: a line must reach a pipe or a
// log even if the process ends before the next file.
void Emit(FILE *stream, const std::string &text) {
    if (text.empty()) return;
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

}  // namespace

int32_t ReportFile(const MK_FileReport *report, void *userData) {
    auto &state = *static_cast<RunState *>(userData);
    if (report->result != 0) ++state.failures;
    // Nothing may unwind into the batch: a line that cannot be built is lost.
    try {
        Emit(stdout,
             ReportText(state.verbosity, state.operation, report->result, report->destination));
        Emit(stderr, FailureText(*report));
    } catch (...) {
    }
    return 0;
}

}  // namespace mk::cli
