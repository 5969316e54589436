#include "common/CalendarClock.h"

namespace Common {

bool CalendarClock::toLocal(std::time_t seconds, std::tm& out) {
    return localtime_s(&out, &seconds) == 0;
}

bool CalendarClock::toUtc(std::time_t seconds, std::tm& out) {
    return gmtime_s(&out, &seconds) == 0;
}

} // namespace Common
