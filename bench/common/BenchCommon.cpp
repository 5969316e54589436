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
constexpr std::uint64_t kTicksPerSecond = 10000000;

// The argument is the step between frames in ticks: 100 us, then the worst case of a
// new second every frame, where the calendar is asked each time.
void formatTimestampLocalDateTime(benchmark::State& state) {
    Common::UnifiedTimeManager manager;
    manager.initialize(std::chrono::system_clock::now(), 1e6);
    manager.registerDevice(0, kBaseTicks);
    const auto step = static_cast<std::uint64_t>(state.range(0));
    char text[32];
    std::uint64_t ticks = kBaseTicks;
    for (auto _ : state) {
        benchmark::DoNotOptimize(manager.formatTimestamp(
            0, ticks, Common::TimestampDisplayMode::LocalDateTime, text, sizeof(text)));
        benchmark::ClobberMemory();
        ticks += step;
    }
}
BENCHMARK(formatTimestampLocalDateTime)->Arg(kTicksPerFrame)->Arg(kTicksPerSecond);

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
