// Turns box timestamps (0.1 us ticks of each box's own clock) into host time texts.
// At registration a box's base time is paired with the host's wall clock, so a frame
// stamped t is shown at hostTimeAtRegistration + (t - baseTime) / 10 us.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace Common {

// What formatTimestamp shows; every text has at most 31 characters.
enum class TimestampDisplayMode : std::uint32_t {
    LocalDateTime = 0,     // local date and time with microseconds: 2026-03-14 09:30:05.123456
    UtcDateTime = 1,       // the same in UTC with a Z: 2026-03-14T08:30:05.123456Z
    SecondsSinceOpen = 2,  // seconds since the box was registered, microseconds: 12.345678
    DeviceTicks = 3,       // the raw box timestamp in 0.1 us ticks: 123456789
    EpochMicroseconds = 4, // microseconds since 1970-01-01 UTC: 1773477005123456
};

class UnifiedTimeManager {
public:
    static constexpr int kMaxDevices = 256;

    UnifiedTimeManager();

    // hostNow: the wall clock at start; unitsPerSecond: the resolution of the texts
    // (1e6: microseconds).
    void initialize(std::chrono::system_clock::time_point hostNow, double unitsPerSecond);
    // Pairs the box's base time (0.1 us ticks) with the host's wall clock now.
    // Indices outside 0..kMaxDevices-1 are ignored.
    void registerDevice(int deviceIndex, std::uint64_t baseTime);

    std::string formatTimestamp(int deviceIndex, std::uint64_t timestamp, TimestampDisplayMode mode) const;
    // Allocation-free form for hot paths: writes at most capacity - 1 characters and a
    // NUL into out, returns the number of characters written.
    std::size_t formatTimestamp(int deviceIndex, std::uint64_t timestamp, TimestampDisplayMode mode, char* out,
                                std::size_t capacity) const;

private:
    struct DeviceBase {
        std::atomic<std::uint64_t> baseTicks{0};
        std::atomic<std::int64_t> hostMicros{0}; // wall clock at registration, us since epoch
    };
    std::array<DeviceBase, kMaxDevices> devices_;
    std::atomic<std::int64_t> startMicros_{0};
    double unitsPerSecond_ = 1e6;
};

} // namespace Common
