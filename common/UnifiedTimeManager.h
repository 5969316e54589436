// Turns box timestamps (0.1 us ticks of each box's own clock) into host time texts.
// At registration a box's base time is paired with the host's wall clock, so a frame
// stamped t is shown at hostTimeAtRegistration + (t - baseTime) / 10 us.
// A box that was never registered (and any index outside 0..kMaxDevices-1) counts as
// registered at the manager's start with base time 0: its texts are the manager's start
// time plus the frame's ticks. Frames stamped before the base time show times before it.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace Common {

// What formatTimestamp shows; every text has at most 31 characters. The fraction of
// modes 0..2 has as many digits as initialize's unitsPerSecond asks (6 for 1e6), always
// cut, never rounded up, so a text never shows a later second than the frame's.
enum class TimestampDisplayMode : std::uint32_t {
    LocalDateTime = 0,     // local date and time with microseconds: 2026-03-14 09:30:05.123456
                           // (spreadsheets and pandas read it as a date-time)
    UtcDateTime = 1,       // the same in UTC, ISO 8601 with a Z: 2026-03-14T08:30:05.123456Z
    SecondsSinceOpen = 2,  // seconds since the box was registered, microseconds: 12.345678
                           // (negative, -0.000100, for frames stamped before the base time)
    DeviceTicks = 3,       // the raw box timestamp in 0.1 us ticks: 123456789
    EpochMicroseconds = 4, // microseconds since 1970-01-01 UTC: 1773477005123456
};
// Any other value is shown as LocalDateTime. Date-times are kept within 1970..9999.

class UnifiedTimeManager {
public:
    static constexpr int kMaxDevices = 256;

    // Until initialize runs the manager's start is its construction, with microseconds.
    UnifiedTimeManager();

    // hostNow: the wall clock at start; unitsPerSecond: the resolution of the texts
    // (1e6: microseconds, 1e3: milliseconds; rounded to a power of ten from 1 to 1e6).
    // Meant to run once, before formatting starts.
    void initialize(std::chrono::system_clock::time_point hostNow, double unitsPerSecond);
    // Pairs the box's base time (0.1 us ticks) with the host's wall clock now. Indices
    // outside 0..kMaxDevices-1 are ignored. Safe while other threads format: they see
    // the old pair or the new one, never a mix.
    void registerDevice(int deviceIndex, std::uint64_t baseTime);

    // Allocation- and lock-free, for hot paths: writes at most capacity - 1 characters
    // and a NUL into out, returns the number of characters written (0 and nothing
    // written when out is null or capacity is 0).
    std::size_t formatTimestamp(int deviceIndex, std::uint64_t timestamp, TimestampDisplayMode mode,
                                char* out, std::size_t capacity) const;

private:
    // A sequence lock: the pair is written between two increments of sequence, so a
    // reader that sees an odd or changed sequence reads again.
    struct DeviceBase {
        std::atomic<std::uint32_t> sequence{0};
        std::atomic<std::uint64_t> baseTicks{0};
        std::atomic<std::int64_t> hostMicros{0}; // wall clock at registration, us since epoch; 0: never
    };
    struct TimeBase {
        std::uint64_t baseTicks;
        std::int64_t hostMicros;
    };
    TimeBase timeBase(int deviceIndex) const;

    std::array<DeviceBase, kMaxDevices> devices_;
    std::atomic<std::int64_t> startMicros_{0};
    std::atomic<int> fractionDigits_{6};
};

} // namespace Common
