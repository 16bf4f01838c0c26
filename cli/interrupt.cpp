#include "cli/interrupt.h"

#include <csignal>

namespace mbx::cli {

namespace {

std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the flag is set inside a signal handler");

void onInterrupt(int signal) {
    interrupted.store(true);
    std::signal(signal, SIG_DFL);
}

} // namespace

std::atomic<bool>& interruptFlag() {
    return interrupted;
}

void installInterruptHandlers() {
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
}

} // namespace mbx::cli
