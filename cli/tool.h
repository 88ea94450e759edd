// The mkquill main sequence.
#pragma once

namespace mk::cli {

// Runs the tool on its command line and returns the exit status: 0 when the
// batch was run, 1 when the settings file could not be used, -1 when no file
// was found.
int RunTool(int argc, const char *const *argv);

}  // namespace mk::cli
