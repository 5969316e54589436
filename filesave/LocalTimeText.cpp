#include "filesave/LocalTimeText.h"

#include "common/CalendarClock.h"

std::size_t LocalTimeText::format(std::time_t moment, char (&out)[kCapacity]) {
    out[0] = '\0';
    std::tm local{};
    if (!Common::CalendarClock::toLocal(moment, local)) {
        return 0;
    }
    return std::strftime(out, kCapacity, "%y%m%d_%H%M%S", &local);
}
