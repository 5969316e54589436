#include "filesave/LongPathWin.h"

#include "common/LeanWindowsWin.h"

#include <cwchar>

namespace {

const wchar_t kLocalPrefix[] = L"\\\\?\\";
const wchar_t kSharePrefix[] = L"\\\\?\\UNC\\";

bool startsWith(const std::wstring& text, const wchar_t* prefix) {
    return text.compare(0, std::wcslen(prefix), prefix) == 0;
}

} // namespace

std::wstring LongPathWin::forFileApi(const std::wstring& path) {
    if (path.empty() || startsWith(path, kLocalPrefix) || startsWith(path, L"\\\\.\\")) {
        return path;
    }
    const DWORD needed = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) {
        return path;
    }
    std::wstring full(needed, L'\0');
    const DWORD length = ::GetFullPathNameW(path.c_str(), needed, &full[0], nullptr);
    if (length == 0 || length >= needed) {
        return path;
    }
    full.resize(length);
    if (full.size() < MAX_PATH) {
        return path;
    }
    if (startsWith(full, L"\\\\")) {
        return kSharePrefix + full.substr(2); // \\server\share\... -> \\?\UNC\server\share\...
    }
    return kLocalPrefix + full;
}
