// Ctrl-C and SIGTERM during a batch: the first one asks the batch to stop
// after the files it has started, as the progress dialog's Cancel does; a
// second one ends the process at once (every file is replaced atomically,
// so that loses nothing either).
#pragma once

#include <cstdint>

namespace mk::cli {

// Installs the handlers for SIGINT and SIGTERM.
void CatchInterrupts();

// The signal that asked to stop, or 0.
int InterruptSignal();

// A ProcessCancelPoll: nonzero once a signal asked to stop.
int32_t InterruptRequested(void *userData);

}  // namespace mk::cli
