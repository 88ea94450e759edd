// Which processor a thread runs on, and moving a thread to another one: a
// batch hands the processor of a file that waits for the disk to the thread
// that starts the next file, instead of leaving the choice to the system.
#pragma once

namespace mk::platform {

// The processor the calling thread runs on now; -1 when unknown.
int CurrentProcessor() noexcept;

// Moves the calling thread to `processor` now, leaving the set of
// processors it may later run on as it was. Does nothing where the thread
// cannot be moved.
void MoveToProcessor(int processor) noexcept;

}  // namespace mk::platform
