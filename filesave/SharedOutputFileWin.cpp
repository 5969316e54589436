#include "filesave/SharedOutputFile.h"

#include "common/LeanWindowsWin.h"
#include "filesave/LongPathWin.h"

#include <fcntl.h>
#include <io.h>

#include <string>
#include <system_error>

namespace {

// Host paths are UTF-8; the wide API is the only one that reaches every file name, and
// beyond 260 characters only with the long-path prefix.
bool toWidePath(const std::string& utf8, std::wstring& wide) {
    if (utf8.empty()) {
        wide.clear();
        return true;
    }
    const int length = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                             static_cast<int>(utf8.size()), nullptr, 0);
    if (length <= 0) {
        return false;
    }
    wide.assign(static_cast<std::size_t>(length), L'\0');
    if (::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()),
                              &wide[0], length) != length) {
        return false;
    }
    // A long root and a long name pass 260 characters.
    wide = LongPathWin::forFileApi(wide);
    return true;
}

} // namespace

// FILE_SHARE_READ lets viewers open the CSV while it grows but keeps other writers
// out; CREATE_NEW fails instead of truncating a file that is already there.
std::FILE* SharedOutputFile::openExclusive(const std::string& utf8Path, CreateResult& result,
                                           std::string& errorText) {
    result = CreateResult::Failed;
    std::wstring widePath;
    if (!toWidePath(utf8Path, widePath)) {
        errorText = "the path is not valid UTF-8";
        return nullptr;
    }
    HANDLE handle = ::CreateFileW(widePath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) {
            result = CreateResult::AlreadyExists;
        }
        errorText = std::system_category().message(static_cast<int>(error));
        return nullptr;
    }
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (fd == -1) {
        ::CloseHandle(handle);
        ::DeleteFileW(widePath.c_str()); // it was created empty a moment ago by us
        errorText = "no C runtime descriptor for the file";
        return nullptr;
    }
    std::FILE* stream = ::_fdopen(fd, "wb");
    if (stream == nullptr) {
        ::_close(fd); // also closes the handle
        ::DeleteFileW(widePath.c_str());
        errorText = "no C runtime stream for the file";
        return nullptr;
    }
    result = CreateResult::Created;
    return stream;
}

void SharedOutputFile::removeFile(const std::string& utf8Path) {
    std::wstring widePath;
    if (toWidePath(utf8Path, widePath)) {
        ::DeleteFileW(widePath.c_str());
    }
}
