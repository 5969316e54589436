#include "common/NarrowPath.h"

std::filesystem::path NarrowPath::toFileSystemPath(const std::string& narrow) noexcept {
    try {
        return std::filesystem::path(narrow); // POSIX paths are bytes: taken as they are
    } catch (...) {
        return {};
    }
}
