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

void SharedOutputFile::removeFile(const std::string& utf8Path) {
    ::unlink(utf8Path.c_str());
}
