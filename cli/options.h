// Command-line options: which arguments are options, and what each one
// does to the run state.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "run_state.h"

namespace mk::cli {

// True when the argument is an option rather than a file pattern: it begins
// with '-', or with '/' and holds no further '/' (so "/S" is an option and
// "/photos/*.jpg" an absolute pattern).
bool IsOption(const char *argument);

// Applies an option to the state. Returns false for an unknown option letter
// (the state is then unchanged).
bool ApplyOption(const char *argument, RunState &state);

// The first whitespace-delimited word of text, as the "%s" scan conversion
// reads it; nullopt when there is none. Never cut short.
std::optional<std::string> ScanWord(const char *text);

// The decimal integer at the start of text (after blanks, with an optional
// sign), as the "%d" scan conversion reads it; nullopt when none can be read.
// Values outside the 32-bit range are clamped to it.
std::optional<int32_t> ScanInteger(const char *text);

}  // namespace mk::cli
