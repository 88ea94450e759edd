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

int32_t ReportFile(const char *destination, int32_t result, void *userData) {
    const auto &state = *static_cast<const RunState *>(userData);
    // Nothing may unwind into the batch: a line that cannot be built is lost.
    try {
        const std::string text = ReportText(state.verbosity, state.operation, result, destination);
        std::fwrite(text.data(), 1, text.size(), stdout);
    } catch (...) {
    }
    return 0;
}

}  // namespace mk::cli
