// The start-up every fuzz target shares: the log is started once and stopped, which
// turns it off, so a failing input does not keep its formatted line in the log's memory
// backlog (thousands of them would only slow the search down). check() ends the run on
// a broken property.
#pragma once

#include "common/Log.h"

#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    Common::logInit("/dev/null", 3, 1, 1);
    Common::logStart(false);
    Common::logStop();
    return 0;
}

inline void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}
