#include "common/ThreadIdentity.h"

#include <functional>
#include <thread>

#if defined(__linux__)
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace Common {

std::uint64_t ThreadIdentity::current() {
#if defined(__linux__)
    // The kernel's thread id: the number top, ps -L and gdb show.
    thread_local const std::uint64_t id = static_cast<std::uint64_t>(::syscall(SYS_gettid));
    return id;
#else
    return std::hash<std::thread::id>{}(std::this_thread::get_id());
#endif
}

} // namespace Common
