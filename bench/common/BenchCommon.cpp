// Nanoseconds per call of the common library's hot paths: the reader's timestamp text
// and the level check of a log line that is off.
#include "common/Log.h"
#include "common/UnifiedTimeManager.h"

#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <cstdint>

namespace {

constexpr std::uint64_t kBaseTicks = 5000000000ull;
constexpr std::uint64_t kTicksPerFrame = 1000; // 100 us between frames

void formatTimestampLocalDateTime(benchmark::State& state) {
    Common::UnifiedTimeManager manager;
    manager.initialize(std::chrono::system_clock::now(), 1e6);
    manager.registerDevice(0, kBaseTicks);
    char text[32];
    std::uint64_t ticks = kBaseTicks;
    for (auto _ : state) {
        benchmark::DoNotOptimize(manager.formatTimestamp(
            0, ticks, Common::TimestampDisplayMode::LocalDateTime, text, sizeof(text)));
        benchmark::ClobberMemory();
        ticks += kTicksPerFrame;
    }
}
BENCHMARK(formatTimestampLocalDateTime);

void formatTimestampNewSecondEveryCall(benchmark::State& state) {
    // The worst case: every frame lands in a new second, so the calendar is asked each time.
    Common::UnifiedTimeManager manager;
    manager.initialize(std::chrono::system_clock::now(), 1e6);
    manager.registerDevice(0, kBaseTicks);
    char text[32];
    std::uint64_t ticks = kBaseTicks;
    for (auto _ : state) {
        benchmark::DoNotOptimize(manager.formatTimestamp(
            0, ticks, Common::TimestampDisplayMode::LocalDateTime, text, sizeof(text)));
        benchmark::ClobberMemory();
        ticks += 10000000;
    }
}
BENCHMARK(formatTimestampNewSecondEveryCall);

void shouldLogLevelWhenOff(benchmark::State& state) {
    Common::logStop();
    int level = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(Common::shouldLogLevel(level));
        level = (level + 1) & 3;
    }
}
BENCHMARK(shouldLogLevelWhenOff);

void logDebugHexWhenOff(benchmark::State& state) {
    Common::logStop();
    const std::array<std::uint8_t, 90> datagram{};
    for (auto _ : state) {
        Common::logDebugHex("1 RD:", datagram.data(), datagram.size());
    }
}
BENCHMARK(logDebugHexWhenOff);

} // namespace

BENCHMARK_MAIN();
