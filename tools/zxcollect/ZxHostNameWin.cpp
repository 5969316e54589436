#include "ZxHostName.h"

#include <windows.h>

std::string zxHostName() {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    if (!GetComputerNameA(name, &size) || size == 0) {
        return "localhost";
    }
    return std::string(name, size);
}
