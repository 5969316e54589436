#include "common/DateTimeText.h"

#include "common/CalendarClock.h"

#include <cstring>
#include <ctime>

namespace Common {

namespace {

constexpr std::int64_t kMicrosPerSecond = 1000000;
// 9999-12-31 23:59:59 UTC: later times would need a fifth year digit.
constexpr std::int64_t kLastSecond = 253402300799;
constexpr std::size_t kSecondTextLength = 19; // "2026-03-14 09:30:05"

// The text of one second; plain data so the thread_local needs no constructor call.
struct SecondCache {
    std::int64_t second;
    bool valid;
    char text[kSecondTextLength];
};

thread_local SecondCache localCache{0, false, {}};
thread_local SecondCache utcCache{0, false, {}};

void writeDigits(char* out, int value, int count) {
    for (int i = count - 1; i >= 0; --i) {
        out[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
}

int clampField(int value, int low, int high) {
    return value < low ? low : (value > high ? high : value);
}

void fillSecond(SecondCache& cache, std::int64_t second, bool utc) {
    std::tm fields{};
    const std::time_t t = static_cast<std::time_t>(second);
    const bool ok = utc ? CalendarClock::toUtc(t, fields) : CalendarClock::toLocal(t, fields);
    if (!ok) {
        // Keeps the shape a reader's parser expects rather than writing an error text.
        std::memcpy(cache.text, "1970-01-01 00:00:00", kSecondTextLength);
    } else {
        char* p = cache.text;
        writeDigits(p, clampField(fields.tm_year + 1900, 0, 9999), 4);
        p[4] = '-';
        writeDigits(p + 5, clampField(fields.tm_mon + 1, 1, 12), 2);
        p[7] = '-';
        writeDigits(p + 8, clampField(fields.tm_mday, 1, 31), 2);
        p[10] = ' ';
        writeDigits(p + 11, clampField(fields.tm_hour, 0, 23), 2);
        p[13] = ':';
        writeDigits(p + 14, clampField(fields.tm_min, 0, 59), 2);
        p[16] = ':';
        // 60 is a leap second some platforms report.
        writeDigits(p + 17, clampField(fields.tm_sec, 0, 60), 2);
    }
    cache.text[10] = utc ? 'T' : ' ';
    cache.second = second;
    cache.valid = true;
}

} // namespace

std::size_t DateTimeText::format(std::int64_t epochMicros, bool utc, int fractionDigits, char* out) {
    std::int64_t second = epochMicros / kMicrosPerSecond;
    std::int64_t micros = epochMicros % kMicrosPerSecond;
    if (micros < 0) {
        micros += kMicrosPerSecond;
        --second;
    }
    if (second < 0) {
        second = 0;
        micros = 0;
    } else if (second > kLastSecond) {
        second = kLastSecond;
        micros = kMicrosPerSecond - 1;
    }

    SecondCache& cache = utc ? utcCache : localCache;
    if (!cache.valid || cache.second != second) {
        fillSecond(cache, second, utc);
    }
    std::memcpy(out, cache.text, kSecondTextLength);
    std::size_t length = kSecondTextLength;

    const int digits = clampField(fractionDigits, 0, kMaxFractionDigits);
    if (digits > 0) {
        int fraction = static_cast<int>(micros);
        for (int i = digits; i < kMaxFractionDigits; ++i) {
            fraction /= 10;
        }
        out[length++] = '.';
        writeDigits(out + length, fraction, digits);
        length += static_cast<std::size_t>(digits);
    }
    if (utc) {
        out[length++] = 'Z';
    }
    out[length] = '\0';
    return length;
}

} // namespace Common
