// How a thread of ours ends while the library is being unloaded. On Windows the unload
// runs under the loader lock, which a thread needs to finish exiting, so it cannot be
// waited for; instead it leaves through the system alone, and the unload waits until
// its instruction pointer is out of our code, from where it never comes back.
#pragma once

#include <thread>

namespace Common {

class ThreadExit {
public:
    // Ends the calling thread at once through the system (Windows), skipping the thread
    // runtime's own exit code, which lives in DLLs the unload may take away with ours.
    // Elsewhere it returns: the thread ends as usual.
    static void endHereWhileUnloading();

    // Whether the thread (whose body has returned) runs no code of the module holding
    // this one any more. True where the question does not arise (POSIX).
    static bool leftOurCode(std::thread& thread);
};

} // namespace Common
