#include "tools/vci-sim/SimStopSignal.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <ctime>

namespace vcisim {

namespace {
sigset_t stopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}
} // namespace

void blockStopSignals() {
    const sigset_t set = stopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void waitForStopSignal(double seconds) {
    const sigset_t set = stopSignals();
    if (seconds <= 0) {
        int signal = 0;
        while (sigwait(&set, &signal) != 0) {
        }
        return;
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::nanoseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return;
        }
        timespec timeout{static_cast<time_t>(left.count() / 1000000000),
                         static_cast<long>(left.count() % 1000000000)};
        if (sigtimedwait(&set, nullptr, &timeout) >= 0) {
            return;
        }
        if (errno != EINTR && errno != EAGAIN) {
            return;
        }
    }
}

} // namespace vcisim
