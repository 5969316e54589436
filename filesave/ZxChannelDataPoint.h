// One CSV line to be: the timestamp text and one channel value of a received record.
// Fixed size, so the router and the writers move points without allocating.
#pragma once

#include <cstdint>

struct ZxChannelDataPoint {
    static constexpr std::uint32_t kTimestampCapacity = 32;

    char timestamp[kTimestampCapacity]; // NUL-terminated text, at most 31 characters
    std::uint32_t timestampLength;      // characters before the NUL
    std::int32_t value;                 // ZX_NO_VALUE writes no line
};
static_assert(sizeof(ZxChannelDataPoint) == 40, "points are moved in bulk; keep them compact");
