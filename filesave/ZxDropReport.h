// Counts items that file saving had to drop and says when to report them: at most one
// line per 10 s, each with the number dropped since the line before, so a lasting fault
// neither floods the log nor loses count. Safe to use from several threads.
#pragma once

#include <atomic>
#include <cstdint>

class ZxDropReport {
public:
    // Counts count dropped items; returns how many to report now (all counted since the
    // last report), or 0 while the last report is younger than 10 s.
    std::uint64_t add(std::uint64_t count);
    // Whatever was counted and not yet reported; the count starts again from zero.
    std::uint64_t takeUnreported() { return unreported_.exchange(0); }
    std::uint64_t total() const { return total_.load(); }

private:
    std::atomic<std::uint64_t> total_{0};
    std::atomic<std::uint64_t> unreported_{0};
    std::atomic<std::int64_t> lastReportMs_{INT64_MIN / 2};
};
