#include "ZxConsole.h"

#include <atomic>

namespace {

// Written from a signal handler, so it must never take a lock.
std::atomic<bool> stopFlag{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the stop flag is set from a signal handler");

} // namespace

bool ZxConsole::stopRequested() {
    return stopFlag.load(std::memory_order_relaxed);
}

void ZxConsole::requestStop() {
    stopFlag.store(true, std::memory_order_relaxed);
}
