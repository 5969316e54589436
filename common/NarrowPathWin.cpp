#include "common/NarrowPath.h"

#include "common/LeanWindowsWin.h"

#include <climits>
#include <utility>

std::filesystem::path NarrowPath::toFileSystemPath(const std::string& narrow) noexcept {
    try {
        if (narrow.empty() || narrow.size() > static_cast<std::size_t>(INT_MAX)) {
            return {};
        }
        const int size = static_cast<int>(narrow.size());
        // No MB_ERR_INVALID_CHARS: the active code page decodes every byte of a host's
        // text; what it cannot map becomes its default character rather than a failure.
        const int length = ::MultiByteToWideChar(CP_ACP, 0, narrow.data(), size, nullptr, 0);
        if (length <= 0) {
            return {};
        }
        std::wstring wide(static_cast<std::size_t>(length), L'\0');
        if (::MultiByteToWideChar(CP_ACP, 0, narrow.data(), size, &wide[0], length) != length) {
            return {};
        }
        return std::filesystem::path(std::move(wide));
    } catch (...) {
        return {};
    }
}
