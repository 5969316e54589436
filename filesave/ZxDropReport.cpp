#include "filesave/ZxDropReport.h"

#include <chrono>

namespace {

constexpr std::int64_t kReportIntervalMs = 10000;

} // namespace

std::uint64_t ZxDropReport::add(std::uint64_t count) {
    total_.fetch_add(count);
    unreported_.fetch_add(count);
    const std::int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now().time_since_epoch())
                                 .count();
    std::int64_t last = lastReportMs_.load();
    if (now - last < kReportIntervalMs || !lastReportMs_.compare_exchange_strong(last, now)) {
        return 0;
    }
    return unreported_.exchange(0);
}
