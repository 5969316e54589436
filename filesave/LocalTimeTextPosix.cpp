#include "filesave/LocalTimeText.h"

bool LocalTimeText::toLocal(std::time_t moment, std::tm& local) {
    return ::localtime_r(&moment, &local) != nullptr;
}
