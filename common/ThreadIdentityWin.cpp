#include "common/ThreadIdentity.h"

#include <windows.h>

namespace Common {

std::uint64_t ThreadIdentity::current() {
    return static_cast<std::uint64_t>(::GetCurrentThreadId());
}

} // namespace Common
