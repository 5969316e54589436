// The library's life in the host process: what happens when it is loaded, the
// shutdown sequence run when it is unloaded or the process crashes, and the log.
#pragma once

#include <cstdint>

class ZxLibrary {
public:
    // Load notification: creates the process-wide objects in their order (store,
    // device manager, collector manager), hooks the crash handler and fills the
    // store with its default devices.
    static void onLoad();
    // Unload notification: the shutdown sequence, then the crash hook is removed.
    static void onUnload();
    // Called by the crash hook: logs and shuts down.
    static void onCrash();

    static std::int32_t openLog(const char* logPath, std::int32_t minLevel, std::int32_t fileSizeMB,
                                std::int32_t fileCount);
    static std::int32_t closeLog();

    // "MAJOR.MINOR.PATCH" from the public header.
    static const char* version();

private:
    // Readers first (their saving stops), then the devices, a pause, then the log.
    static void shutdown();
};
