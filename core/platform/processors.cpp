// Processor placement of the calling thread, over the system's affinity
// calls. A thread made to run on one processor only is moved there before
// the call returns; giving it its former set again lets the system move it
// on later, where it normally stays.
#include "platform/processors.h"

#if defined(__linux__)
#include <sched.h>
#endif

namespace mk::platform {

#if defined(__linux__)

int CurrentProcessor() noexcept { return ::sched_getcpu(); }

void MoveToProcessor(int processor) noexcept {
    if (processor < 0 || processor >= CPU_SETSIZE) return;
    cpu_set_t allowed;
    if (::sched_getaffinity(0, sizeof allowed, &allowed) != 0) return;
    if (!CPU_ISSET(processor, &allowed)) return;
    cpu_set_t only;
    CPU_ZERO(&only);
    CPU_SET(processor, &only);
    if (::sched_setaffinity(0, sizeof only, &only) != 0) return;
    ::sched_setaffinity(0, sizeof allowed, &allowed);
}

#else

int CurrentProcessor() noexcept { return -1; }
void MoveToProcessor(int) noexcept {}

#endif

}  // namespace mk::platform
