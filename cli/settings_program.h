// -D: runs the settings program (the desktop program) and waits for it.
#pragma once

namespace mk::cli {

// Starts the program at `path` as a new process, with no arguments beyond
// its own path as argv[0], this process's environment and current folder,
// and waits until it has ended. Returns false when it could not be started.
bool RunAndWait(const char *path);

// Runs the settings program named in the system store. A program that
// cannot be started (no path stored, a wrong path) is passed over without a
// message.
void RunSettingsProgram();

}  // namespace mk::cli
