#include "common/LogFile.h"

namespace Common {

// The wide name: the C runtime's narrow open would read the path in the active code page
// again, and a name the conversion kept is then opened exactly as the folders were made.
std::FILE* LogFile::openStream(const std::filesystem::path& path, bool append) {
    return ::_wfopen(path.c_str(), append ? L"ab" : L"wb");
}

} // namespace Common
