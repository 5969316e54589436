#include "filesave/ZxOpenFileLimit.h"

#include <sys/resource.h>

std::size_t ZxOpenFileLimit::processLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return kMaxFiles * 4;
    }
    return static_cast<std::size_t>(limit.rlim_cur);
}
