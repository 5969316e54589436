// Waiting for something that happens on another thread or process: poll a predicate
// until it holds or a deadline passes, instead of sleeping and hoping.
#pragma once

#include <chrono>
#include <thread>

namespace zxtest {

// True as soon as predicate() is true; false when the deadline passed first
// (the predicate is always tried once more at the deadline).
template <typename Predicate>
bool pollUntil(std::chrono::steady_clock::time_point deadline, Predicate predicate,
               std::chrono::milliseconds interval = std::chrono::milliseconds(2)) {
    for (;;) {
        if (predicate()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return predicate();
        }
        std::this_thread::sleep_for(interval);
    }
}

template <typename Rep, typename Period, typename Predicate>
bool pollUntil(std::chrono::duration<Rep, Period> timeout, Predicate predicate,
               std::chrono::milliseconds interval = std::chrono::milliseconds(2)) {
    return pollUntil(std::chrono::steady_clock::now() +
                         std::chrono::duration_cast<std::chrono::steady_clock::duration>(timeout),
                     predicate, interval);
}

} // namespace zxtest
