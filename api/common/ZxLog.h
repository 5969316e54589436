// The one way the library logs: the level is checked before anything is formatted,
// so a message whose level is off costs one atomic load.
#pragma once

#include "common/Log.h"

#include <fmt/format.h>

#include <utility>

template <typename... Args>
inline void zxLog(int level, fmt::format_string<Args...> format, Args&&... args) {
    if (!Common::shouldLogLevel(level)) {
        return;
    }
    Common::logRawString(level, fmt::format(format, std::forward<Args>(args)...));
}

// Log levels of the library's messages.
namespace ZxLevel {
constexpr int Debug = 0;
constexpr int Info = 1;
constexpr int Warning = 2;
constexpr int Error = 3;
} // namespace ZxLevel
