// The library's handler for abnormal termination: registered once at load, run at
// most once when the process fails (a fatal signal that ends it, an unhandled exception
// on Windows); afterwards the process ends as it would have. A signal the host's own
// handler recovers from leaves the library running.
#pragma once

#include <functional>

namespace Common {

class CrashHandler {
public:
    static void registerHandler(std::function<void()> handler);
    // Hooks the platform's crash path (CrashHook) to the registered handler.
    static void install();
    // Removes the hook and forgets the handler (the library calls this when it is unloaded).
    static void remove();
};

} // namespace Common
