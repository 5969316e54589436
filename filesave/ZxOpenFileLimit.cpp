#include "filesave/ZxOpenFileLimit.h"

#include <algorithm>

std::size_t ZxOpenFileLimit::savingFiles(std::size_t processLimit) {
    return std::clamp(processLimit / 4, kMinFiles, kMaxFiles);
}
