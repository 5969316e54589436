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
    sigaddset(&set, SIGUSR1);
    return set;
}
} // namespace

void blockStopSignals() {
    const sigset_t set = stopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

SimSignal waitForStopSignal(double seconds) {
    const sigset_t set = stopSignals();
    if (seconds <= 0) {
        int signal = 0;
        while (sigwait(&set, &signal) != 0) {
        }
        return signal == SIGUSR1 ? SimSignal::Restart : SimSignal::Stop;
    }
    static const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::nanoseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return SimSignal::Stop;
        }
        timespec timeout{static_cast<time_t>(left.count() / 1000000000),
                         static_cast<long>(left.count() % 1000000000)};
        const int signal = sigtimedwait(&set, nullptr, &timeout);
        if (signal >= 0) {
            return signal == SIGUSR1 ? SimSignal::Restart : SimSignal::Stop;
        }
        if (errno != EINTR && errno != EAGAIN) {
            return SimSignal::Stop;
        }
    }
}

} // namespace vcisim
