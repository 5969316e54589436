#include "common/LogFile.h"

#include <cerrno>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace Common {

namespace fs = std::filesystem;

void LogFile::open(const std::string& path, std::uint64_t maxBytes, int keptFiles) {
    close();
    const fs::path filePath(path);
    std::error_code error;
    if (filePath.has_parent_path()) {
        fs::create_directories(filePath.parent_path(), error);
        if (error) {
            throw std::runtime_error("Cannot create the folder of log file '" + path +
                                     "': " + error.message());
        }
    }
    errno = 0;
    file_.reset(std::fopen(path.c_str(), "ab"));
    if (!file_) {
        const int code = errno != 0 ? errno : EIO;
        throw std::runtime_error("Cannot open log file '" + path +
                                 "': " + std::error_code(code, std::generic_category()).message());
    }
    path_ = path;
    maxBytes_ = maxBytes;
    keptFiles_ = keptFiles;
    const std::uintmax_t existing = fs::file_size(filePath, error);
    size_ = error ? 0 : static_cast<std::uint64_t>(existing);
}

void LogFile::close() {
    file_.reset();
}

bool LogFile::write(const char* data, std::size_t length) {
    if (size_ > 0 && size_ + length > maxBytes_) {
        rotate();
    }
    if (!file_) {
        return false;
    }
    const std::size_t written = std::fwrite(data, 1, length, file_.get());
    std::fflush(file_.get());
    size_ += written;
    return written == length;
}

void LogFile::rotate() {
    file_.reset();
    std::error_code ignored; // a file that cannot be moved is overwritten or kept, never fatal
    if (keptFiles_ > 0) {
        const std::string numbered = path_ + ".";
        fs::remove(numbered + std::to_string(keptFiles_), ignored);
        for (int i = keptFiles_ - 1; i >= 1; --i) {
            fs::rename(numbered + std::to_string(i), numbered + std::to_string(i + 1), ignored);
        }
        fs::rename(path_, numbered + "1", ignored);
    }
    // "wb" also covers a file that could not be renamed: it starts again empty.
    file_.reset(std::fopen(path_.c_str(), "wb"));
    size_ = 0;
}

} // namespace Common
