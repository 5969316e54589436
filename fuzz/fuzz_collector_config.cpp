// Reads the input as the collector's INI settings file and checks that loading ends
// with every module kind present, whatever the file holds.
#include "collector/ZxCollectorConfig.h"
#include "common/Log.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

// The log is started once and stopped, which turns it off: a failing input logs a line
// the library formats with fmt like any other, and keeping thousands of them in the
// log's memory backlog would only slow the search down.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    Common::logInit("/dev/null", 3, 1, 1);
    Common::logStart(false);
    Common::logStop();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The settings are read from a file. The settings layer keeps files it has read and
    // reads one again only when its size or time changed: every input gets a time of
    // its own, so the same file name serves (new names would grow that cache and set
    // off a leak scan on every run).
    static unsigned long serial = 1000000;
    static const std::string path = "/dev/shm/zx_fuzz_config_" + std::to_string(::getpid()) + ".ini";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::abort();
    }
    if (size > 0 && std::fwrite(data, 1, size, file) != size) {
        std::abort();
    }
    std::fclose(file);
    const timespec times[2] = {{static_cast<time_t>(serial), 0}, {static_cast<time_t>(serial), 0}};
    ++serial;
    if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) {
        std::abort();
    }
    {
        const ZxCollectorConfig config(QString::fromStdString(path));
        if (config.modules.size() != 4) {
            std::abort();
        }
    }
    return 0;
}
