#include "common/LogFile.h"

#include "common/NarrowPath.h"

#include <cerrno>
#include <stdexcept>
#include <system_error>

namespace Common {

namespace fs = std::filesystem;

void LogFile::open(const std::string& path, std::uint64_t maxBytes, int keptFiles) {
    close();
    const fs::path filePath = NarrowPath::toFileSystemPath(path);
    if (filePath.empty()) {
        throw std::runtime_error("Cannot open log file '" + path +
                                 "': the path is empty or cannot be converted");
    }
    std::error_code error;
    if (filePath.has_parent_path()) {
        fs::create_directories(filePath.parent_path(), error);
        if (error) {
            throw std::runtime_error("Cannot create the folder of log file '" + path +
                                     "': " + error.message());
        }
    }
    errno = 0;
    file_.reset(openStream(filePath, true));
    if (!file_) {
        const int code = errno != 0 ? errno : EIO;
        throw std::runtime_error("Cannot open log file '" + path +
                                 "': " + std::error_code(code, std::generic_category()).message());
    }
    path_ = path;
    filePath_ = filePath;
    maxBytes_ = maxBytes;
    keptFiles_ = keptFiles;
    rotateAt_ = maxBytes;
    rotationFailureNoted_ = false;
    const std::uintmax_t existing = fs::file_size(filePath, error);
    size_ = error ? 0 : static_cast<std::uint64_t>(existing);
}

void LogFile::close() {
    file_.reset();
}

bool LogFile::write(const char* data, std::size_t length) {
    if (size_ > 0 && size_ + length > rotateAt_) {
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

fs::path LogFile::numbered(int index) const {
    fs::path name = filePath_;
    name += "." + std::to_string(index);
    return name;
}

void LogFile::rotate() {
    file_.reset();
    std::error_code error;
    if (keptFiles_ > 0) {
        std::error_code ignored; // an older file that cannot move is overwritten or kept
        fs::remove(numbered(keptFiles_), ignored);
        for (int i = keptFiles_ - 1; i >= 1; --i) {
            fs::rename(numbered(i), numbered(i + 1), ignored);
        }
        fs::rename(filePath_, numbered(1), error);
    }
    if (!error) {
        file_.reset(openStream(filePath_, false));
        size_ = 0;
        rotateAt_ = maxBytes_;
        rotationFailureNoted_ = false;
        return;
    }
    // The current file could not move (a viewer holds it without delete sharing): it is
    // never emptied. The log goes on in it, and the next try comes after another full
    // file's worth of lines.
    file_.reset(openStream(filePath_, true));
    rotateAt_ = size_ + maxBytes_;
    if (file_ && !rotationFailureNoted_) {
        rotationFailureNoted_ = true;
        const std::string note = "Log rotation failed: '" + path_ + "' cannot be renamed to '" + path_ +
                                 ".1' (" + error.message() + "); the log goes on in the same file\n";
        size_ += std::fwrite(note.data(), 1, note.size(), file_.get());
        std::fflush(file_.get());
    }
}

} // namespace Common
