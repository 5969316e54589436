// Reads the input as the collector's INI settings file and checks that loading ends
// with every module kind present, whatever the file holds.
#include "collector/ZxCollectorConfig.h"
#include "fuzz/FuzzStart.h"

#include <QString>

#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The settings layer keeps files it has read and reads one again only when its size
    // or time changed: every input gets a time of its own, so one file name serves (new
    // names would grow that cache and set off a leak scan on every run).
    static long serial = 1000000;
    static const std::string path = "/dev/shm/zx_fuzz_config_" + std::to_string(::getpid()) + ".ini";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    check(file != nullptr && (size == 0 || std::fwrite(data, 1, size, file) == size));
    std::fclose(file);
    const timespec times[2] = {{static_cast<time_t>(serial), 0}, {static_cast<time_t>(serial), 0}};
    ++serial;
    check(::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0);
    check(ZxCollectorConfig(QString::fromStdString(path)).modules.size() == 4);
    return 0;
}
