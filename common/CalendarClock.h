// Converts seconds since 1970 into calendar fields, in local time or UTC, through
// the reentrant call each platform offers (localtime_r here, localtime_s on Windows).
#pragma once

#include <ctime>

namespace Common {

class CalendarClock {
public:
    // False when the platform cannot represent the time.
    static bool toLocal(std::time_t seconds, std::tm& out);
    static bool toUtc(std::time_t seconds, std::tm& out);
};

} // namespace Common
