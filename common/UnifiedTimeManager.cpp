#include "common/UnifiedTimeManager.h"

#include "common/DateTimeText.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace Common {

namespace {

constexpr std::int64_t kTicksPerMicro = 10;
constexpr std::int64_t kTicksPerSecond = 10000000;
// Every text fits here with its NUL: 27 characters at most, 31 promised.
constexpr std::size_t kTextBufferSize = 32;

std::int64_t wallClockMicros(std::chrono::system_clock::time_point when) {
    return std::chrono::duration_cast<std::chrono::microseconds>(when.time_since_epoch()).count();
}

// Floor division, so times before a base still round towards the past.
std::int64_t floorDiv(std::int64_t value, std::int64_t divisor) {
    const std::int64_t quotient = value / divisor;
    return (value % divisor < 0) ? quotient - 1 : quotient;
}

// a + b, held at the int64 limits instead of wrapping for absurd timestamps.
std::int64_t saturatingAdd(std::int64_t a, std::int64_t b) {
    if (b > 0 && a > std::numeric_limits<std::int64_t>::max() - b) {
        return std::numeric_limits<std::int64_t>::max();
    }
    if (b < 0 && a < std::numeric_limits<std::int64_t>::min() - b) {
        return std::numeric_limits<std::int64_t>::min();
    }
    return a + b;
}

std::int64_t microsToTicks(std::int64_t micros) {
    constexpr std::int64_t kLimit = std::numeric_limits<std::int64_t>::max() / kTicksPerMicro;
    return micros > kLimit ? kLimit * kTicksPerMicro
                           : (micros < -kLimit ? -kLimit * kTicksPerMicro : micros * kTicksPerMicro);
}

std::size_t writeUnsigned(std::uint64_t value, char* out) {
    char digits[20];
    std::size_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (std::size_t i = 0; i < count; ++i) {
        out[i] = digits[count - 1 - i];
    }
    return count;
}

std::size_t writeSigned(std::int64_t value, char* out) {
    if (value < 0) {
        out[0] = '-';
        // Negating in unsigned arithmetic keeps the minimum value well defined.
        return 1 + writeUnsigned(0 - static_cast<std::uint64_t>(value), out + 1);
    }
    return writeUnsigned(static_cast<std::uint64_t>(value), out);
}

// "12.345678" from a signed tick count, the fraction cut to digits.
std::size_t writeSeconds(std::int64_t ticks, int digits, char* out) {
    std::size_t length = 0;
    std::uint64_t magnitude = static_cast<std::uint64_t>(ticks);
    if (ticks < 0) {
        out[length++] = '-';
        magnitude = 0 - magnitude;
    }
    length += writeUnsigned(magnitude / kTicksPerSecond, out + length);
    if (digits > 0) {
        std::uint64_t fraction = (magnitude % kTicksPerSecond) / kTicksPerMicro;
        for (int i = digits; i < DateTimeText::kMaxFractionDigits; ++i) {
            fraction /= 10;
        }
        out[length++] = '.';
        for (int i = digits - 1; i >= 0; --i) {
            out[length + static_cast<std::size_t>(i)] = static_cast<char>('0' + fraction % 10);
            fraction /= 10;
        }
        length += static_cast<std::size_t>(digits);
    }
    return length;
}

int fractionDigitsFor(double unitsPerSecond) {
    if (!(unitsPerSecond >= 1.0) || !std::isfinite(unitsPerSecond)) {
        return DateTimeText::kMaxFractionDigits;
    }
    const long digits = std::lround(std::log10(unitsPerSecond));
    return digits > DateTimeText::kMaxFractionDigits ? DateTimeText::kMaxFractionDigits
                                                     : static_cast<int>(digits);
}

} // namespace

UnifiedTimeManager::UnifiedTimeManager() : startMicros_(wallClockMicros(std::chrono::system_clock::now())) {}

void UnifiedTimeManager::initialize(std::chrono::system_clock::time_point hostNow, double unitsPerSecond) {
    startMicros_.store(wallClockMicros(hostNow), std::memory_order_relaxed);
    fractionDigits_.store(fractionDigitsFor(unitsPerSecond), std::memory_order_relaxed);
}

void UnifiedTimeManager::registerDevice(int deviceIndex, std::uint64_t baseTime) {
    if (deviceIndex < 0 || deviceIndex >= kMaxDevices) {
        return;
    }
    DeviceBase& device = devices_[static_cast<std::size_t>(deviceIndex)];
    std::int64_t hostMicros = wallClockMicros(std::chrono::system_clock::now());
    if (hostMicros == 0) {
        hostMicros = 1; // 0 means "never registered"
    }
    // Writers take the sequence from even to odd; a second writer waits for the first.
    std::uint32_t sequence = device.sequence.load(std::memory_order_relaxed);
    for (;;) {
        if ((sequence & 1u) == 0 &&
            device.sequence.compare_exchange_weak(sequence, sequence + 1, std::memory_order_acquire,
                                                  std::memory_order_relaxed)) {
            break;
        }
        sequence = device.sequence.load(std::memory_order_relaxed);
    }
    // Release stores keep the odd sequence ahead of the pair for any reader that sees
    // the new pair (no fences, which sanitizers cannot follow; free on x86 anyway).
    device.baseTicks.store(baseTime, std::memory_order_release);
    device.hostMicros.store(hostMicros, std::memory_order_release);
    device.sequence.store(sequence + 2, std::memory_order_release);
}

UnifiedTimeManager::TimeBase UnifiedTimeManager::timeBase(int deviceIndex) const {
    if (deviceIndex >= 0 && deviceIndex < kMaxDevices) {
        const DeviceBase& device = devices_[static_cast<std::size_t>(deviceIndex)];
        for (;;) {
            const std::uint32_t before = device.sequence.load(std::memory_order_acquire);
            if ((before & 1u) != 0) {
                continue;
            }
            // Acquire loads: a reader that sees part of a new pair also sees its odd sequence below.
            const TimeBase base{device.baseTicks.load(std::memory_order_acquire),
                                device.hostMicros.load(std::memory_order_acquire)};
            if (device.sequence.load(std::memory_order_relaxed) != before) {
                continue;
            }
            if (base.hostMicros != 0) {
                return base;
            }
            break;
        }
    }
    return TimeBase{0, startMicros_.load(std::memory_order_relaxed)};
}

std::size_t UnifiedTimeManager::formatTimestamp(int deviceIndex, std::uint64_t timestamp,
                                                TimestampDisplayMode mode, char* out,
                                                std::size_t capacity) const {
    if (out == nullptr || capacity == 0) {
        return 0;
    }
    char text[kTextBufferSize];
    std::size_t length = 0;
    if (mode == TimestampDisplayMode::DeviceTicks) {
        length = writeUnsigned(timestamp, text);
    } else {
        const TimeBase base = timeBase(deviceIndex);
        // Wrapping subtraction read as signed: frames just before the base are negative.
        const std::int64_t sinceBase = static_cast<std::int64_t>(timestamp - base.baseTicks);
        const int digits = fractionDigits_.load(std::memory_order_relaxed);
        if (mode == TimestampDisplayMode::SecondsSinceOpen) {
            length = writeSeconds(sinceBase, digits, text);
        } else {
            const std::int64_t epochMicros =
                floorDiv(saturatingAdd(microsToTicks(base.hostMicros), sinceBase), kTicksPerMicro);
            if (mode == TimestampDisplayMode::EpochMicroseconds) {
                length = writeSigned(epochMicros, text);
            } else {
                length = DateTimeText::format(epochMicros, mode == TimestampDisplayMode::UtcDateTime, digits,
                                              text);
            }
        }
    }
    if (length >= capacity) {
        length = capacity - 1;
    }
    std::memcpy(out, text, length);
    out[length] = '\0';
    return length;
}

} // namespace Common
