#include "ZxHostName.h"

#include <unistd.h>

std::string zxHostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') {
        return "localhost";
    }
    return name;
}
