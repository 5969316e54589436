#include "common/LogFile.h"

namespace Common {

std::FILE* LogFile::openStream(const std::filesystem::path& path, bool append) {
    return std::fopen(path.c_str(), append ? "ab" : "wb");
}

} // namespace Common
