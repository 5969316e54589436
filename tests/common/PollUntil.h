// Waits for a condition by polling it until a deadline, never by sleeping and hoping.
#pragma once

#include <chrono>
#include <thread>

namespace zxtest {

template <typename Condition>
bool pollUntil(Condition condition, std::chrono::milliseconds deadline = std::chrono::seconds(5)) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end) {
            return condition();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace zxtest
