// What this process uses right now, for the figures printed around the start of saving:
// resident memory and threads. Read the platform's way (ProcessFiguresPosix.cpp /
// ProcessFiguresWin.cpp); a figure that cannot be read is -1.
#pragma once

#include <cstdint>

namespace zxtools {

class ProcessFigures {
public:
    static std::int64_t residentBytes();
    static int threads();
};

} // namespace zxtools
