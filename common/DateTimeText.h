// Writes a point in time as "2026-03-14 09:30:05.123456" (local) or
// "2026-03-14T08:30:05.123456Z" (UTC) without allocating or locking. Each thread
// keeps the text up to the second, so only the fraction is written per call.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Common {

class DateTimeText {
public:
    // The longest text written, without the NUL; out must hold kMaxLength + 1 bytes.
    static constexpr std::size_t kMaxLength = 27;
    static constexpr int kMaxFractionDigits = 6;

    // epochMicros: microseconds since 1970-01-01 UTC, clamped to 1970 .. 9999 so the
    // text keeps its shape. fractionDigits: 0..6 digits after the seconds (0: no point).
    // Writes a NUL after the text and returns its length.
    static std::size_t format(std::int64_t epochMicros, bool utc, int fractionDigits, char* out);
};

} // namespace Common
