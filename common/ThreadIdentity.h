// The id the operating system gives the calling thread (the one debuggers and
// process monitors show), not the opaque std::thread::id.
#pragma once

#include <cstdint>

namespace Common {

class ThreadIdentity {
public:
    static std::uint64_t current();
};

} // namespace Common
