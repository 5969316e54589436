#include "filesave/LocalTimeText.h"

bool LocalTimeText::toLocal(std::time_t moment, std::tm& local) {
    return ::localtime_s(&local, &moment) == 0;
}
