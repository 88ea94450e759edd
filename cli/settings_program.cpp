// Starting and waiting for the settings program.
#include "settings_program.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "MK_Core.h"

extern char **environ;

namespace mk::cli {

bool RunAndWait(const char *path) {
    if (path == nullptr || path[0] == '\0') return false;
    // Whatever the tool printed so far comes before the program's own output.
    std::fflush(stdout);
    char *const argv[] = {const_cast<char *>(path), nullptr};
    pid_t child = 0;
    if (::posix_spawn(&child, path, nullptr, nullptr, argv, environ) != 0) return false;
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return true;
}

void RunSettingsProgram() {
    char path[MK_MAX_PATH];
    // Zero-filled by the call, so a missing value leaves an empty path.
    MK_ExecFilenameLoadFromRegistry(path);
    RunAndWait(path);
}

}  // namespace mk::cli
