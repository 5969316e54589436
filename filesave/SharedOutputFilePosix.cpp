#include "filesave/SharedOutputFile.h"

#include <cerrno>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// POSIX files are readable by other processes while written; O_EXCL makes the
// creation fail instead of truncating a file that is already there.
std::FILE* SharedOutputFile::openExclusive(const std::string& utf8Path, CreateResult& result,
                                           std::string& errorText) {
    const int fd = ::open(utf8Path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        const int error = errno;
        result = error == EEXIST ? CreateResult::AlreadyExists : CreateResult::Failed;
        errorText = std::generic_category().message(error);
        return nullptr;
    }
    std::FILE* stream = ::fdopen(fd, "wb");
    if (stream == nullptr) {
        const int error = errno;
        ::close(fd);
        ::unlink(utf8Path.c_str()); // it was created empty a moment ago by us
        result = CreateResult::Failed;
        errorText = std::generic_category().message(error);
        return nullptr;
    }
    result = CreateResult::Created;
    return stream;
}

std::FILE* SharedOutputFile::openAppend(const std::string& utf8Path, std::string& errorText) {
    const int fd = ::open(utf8Path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) {
        errorText = std::generic_category().message(errno);
        return nullptr;
    }
    std::FILE* stream = ::fdopen(fd, "ab");
    if (stream == nullptr) {
        errorText = std::generic_category().message(errno);
        ::close(fd);
    }
    return stream;
}

std::size_t SharedOutputFile::writeDescriptor(std::FILE* stream, const char* data, std::size_t size,
                                              std::string& errorText) {
    const int fd = ::fileno(stream);
    std::size_t written = 0;
    while (written < size) {
        const ssize_t n = ::write(fd, data + written, size - written);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            errorText = n < 0 ? std::generic_category().message(errno) : "incomplete write";
            break;
        }
    }
    return written;
}

bool SharedOutputFile::truncateDescriptor(std::FILE* stream, std::uint64_t size, std::string& errorText) {
    const int fd = ::fileno(stream);
    const auto length = static_cast<off_t>(size);
    if (::ftruncate(fd, length) != 0 || ::lseek(fd, length, SEEK_SET) < 0) {
        errorText = std::generic_category().message(errno);
        return false;
    }
    return true;
}

void SharedOutputFile::removeFile(const std::string& utf8Path) {
    ::unlink(utf8Path.c_str());
}
