#include "common/CalendarClock.h"

namespace Common {

bool CalendarClock::toLocal(std::time_t seconds, std::tm& out) {
    return localtime_r(&seconds, &out) != nullptr;
}

bool CalendarClock::toUtc(std::time_t seconds, std::tm& out) {
    return gmtime_r(&seconds, &out) != nullptr;
}

} // namespace Common
