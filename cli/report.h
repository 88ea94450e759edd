// The per-file report that the batch calls for every file.
#pragma once

#include <cstdint>
#include <string>

#include "run_state.h"

namespace mk::cli {

// What the report prints for one file at the given level: nothing below 3;
// "%s %s %s\r" of the error mark, the operation and the destination at 3;
// the same and "\n" from 4 on.
std::string ReportText(int32_t verbosity, int32_t operation, int32_t result,
                       const char *destination);

// The ProcessCallback: prints ReportText. userData is the run's RunState.
int32_t ReportFile(const char *destination, int32_t result, void *userData);

}  // namespace mk::cli
