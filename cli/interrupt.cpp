// Signal handling for the batch: a lock-free atomic is all a handler may
// touch, and the batch polls it before starting each file.
#include "interrupt.h"

#include <csignal>

#include <atomic>

namespace mk::cli {
namespace {

// Written by the signal handler, read by the batch's threads.
std::atomic<int> caught{0};
static_assert(std::atomic<int>::is_always_lock_free);

void OnSignal(int signal) {
    caught.store(signal);
    // The next one takes the default action: the user means it.
    std::signal(signal, SIG_DFL);
}

}  // namespace

void CatchInterrupts() {
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

int InterruptSignal() { return caught.load(); }

int32_t InterruptRequested(void *) { return caught.load() != 0 ? 1 : 0; }

}  // namespace mk::cli
