// The local time of a moment as text for file names, "%y%m%d_%H%M%S".
#pragma once

#include <cstddef>
#include <ctime>

class LocalTimeText {
public:
    static constexpr std::size_t kCapacity = 20;

    // Writes the NUL-terminated text of moment into out; returns its length (0 when
    // the moment cannot be converted).
    static std::size_t format(std::time_t moment, char (&out)[kCapacity]);
};
