// The names under which the library calls the crash handler and the thread ids;
// each forwards to the class that does the work (CrashHandler, ThreadIdentity).
#pragma once

#include <functional>
#include <string>

namespace Common {

class Utils {
public:
    static void registerCrashHandler(std::function<void()> handler);
    static void setupCrashHandler();
    static void removeCrashHandler();

    // The calling thread's id as decimal text.
    static std::string getThreadIdString();
};

} // namespace Common
