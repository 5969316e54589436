#include "filesave/SharedOutputFile.h"

#include "common/LeanWindowsWin.h"
#include "filesave/LongPathWin.h"

#include <fcntl.h>
#include <io.h>

#include <algorithm>
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

std::FILE* SharedOutputFile::openAppend(const std::string& utf8Path, std::string& errorText) {
    std::wstring widePath;
    if (!toWidePath(utf8Path, widePath)) {
        errorText = "the path is not valid UTF-8";
        return nullptr;
    }
    // GENERIC_WRITE rather than append-only access: a short write is cut back with
    // SetEndOfFile, which needs it. No one else may write (FILE_SHARE_READ), so the
    // position set at the end stays there.
    HANDLE handle = ::CreateFileW(widePath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        errorText = std::system_category().message(static_cast<int>(::GetLastError()));
        return nullptr;
    }
    LARGE_INTEGER none{};
    if (!::SetFilePointerEx(handle, none, nullptr, FILE_END)) {
        errorText = std::system_category().message(static_cast<int>(::GetLastError()));
        ::CloseHandle(handle);
        return nullptr;
    }
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_APPEND | _O_BINARY);
    if (fd == -1) {
        ::CloseHandle(handle);
        errorText = "no C runtime descriptor for the file";
        return nullptr;
    }
    std::FILE* stream = ::_fdopen(fd, "ab");
    if (stream == nullptr) {
        ::_close(fd); // also closes the handle
        errorText = "no C runtime stream for the file (too many open)";
    }
    return stream;
}

std::size_t SharedOutputFile::writeDescriptor(std::FILE* stream, const char* data, std::size_t size,
                                              std::string& errorText) {
    HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
    std::size_t written = 0;
    while (written < size) {
        const DWORD part = static_cast<DWORD>(std::min<std::size_t>(size - written, 1u << 30));
        DWORD done = 0;
        if (!::WriteFile(handle, data + written, part, &done, nullptr)) {
            errorText = std::system_category().message(static_cast<int>(::GetLastError()));
            break;
        }
        if (done == 0) {
            errorText = "incomplete write";
            break;
        }
        written += done;
    }
    return written;
}

bool SharedOutputFile::truncateDescriptor(std::FILE* stream, std::uint64_t size, std::string& errorText) {
    HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(size);
    if (!::SetFilePointerEx(handle, position, nullptr, FILE_BEGIN) || !::SetEndOfFile(handle)) {
        errorText = std::system_category().message(static_cast<int>(::GetLastError()));
        return false;
    }
    return true;
}

void SharedOutputFile::removeFile(const std::string& utf8Path) {
    std::wstring widePath;
    if (toWidePath(utf8Path, widePath)) {
        ::DeleteFileW(widePath.c_str());
    }
}
