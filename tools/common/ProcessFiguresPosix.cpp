#include "tools/common/ProcessFigures.h"

#include <cstdio>
#include <cstring>

namespace {

// The number after "<key>:" in /proc/self/status, or -1.
long long statusField(const char* key) {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) {
        return -1;
    }
    long long value = -1;
    char line[256];
    const std::size_t keyLength = std::strlen(key);
    while (std::fgets(line, sizeof line, status) != nullptr) {
        if (std::strncmp(line, key, keyLength) == 0 && line[keyLength] == ':') {
            std::sscanf(line + keyLength + 1, "%lld", &value);
            break;
        }
    }
    std::fclose(status);
    return value;
}

} // namespace

namespace zxtools {

std::int64_t ProcessFigures::residentBytes() {
    const long long kib = statusField("VmRSS");
    return kib < 0 ? -1 : kib * 1024;
}

int ProcessFigures::threads() {
    return static_cast<int>(statusField("Threads"));
}

} // namespace zxtools
