// The platform's hook for abnormal termination: fatal signals on POSIX, the
// unhandled-exception filter and SIGABRT on Windows. Whatever was installed before is kept and
// put back, so the process still ends as it would have and an unloaded library
// leaves no hook behind. On POSIX a signal handler the host installed before (a runtime
// turning faults into its own exceptions) takes the signal instead, and the hook runs
// only when the signal ends the process.
#pragma once

namespace Common {

class CrashHook {
public:
    using Callback = void (*)();

    // Installs the hook; onCrash runs before the process ends (on the failing thread on
    // POSIX; on Windows on a thread of its own, waited for 2 s at most).
    // A second install while installed changes nothing.
    static void install(Callback onCrash);
    // Puts back what was installed before. Harmless when not installed.
    static void uninstall();
};

} // namespace Common
