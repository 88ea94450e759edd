// The per-file report that the batch calls for every file.
#pragma once

#include <cstdint>
#include <string>

#include "MK_Core.h"
#include "run_state.h"

namespace mk::cli {

// What the report prints for one file at the given level: nothing below 3;
// "%s %s %s\r" of the error mark, the operation and the destination at 3;
// the same and "\n" from 4 on.
std::string ReportText(int32_t verbosity, int32_t operation, int32_t result,
                       const char *destination);

// The line on standard error for a file that failed: the path and the
// reason in words. Empty for a file that was done.
std::string FailureText(const MK_FileReport &report);

// The ProcessReportCallback: prints ReportText on standard output and, for a
// failure, FailureText on standard error, each as soon as the file is done,
// and counts the failures. userData is the run's RunState.
int32_t ReportFile(const MK_FileReport *report, void *userData);

}  // namespace mk::cli
