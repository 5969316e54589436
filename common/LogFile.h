// The file behind the log: appends lines, flushes each one so a crash loses nothing,
// and rotates path -> path.1 -> ... -> path.N when the size limit would be passed.
// The path is narrow text in the platform's encoding (the active code page on Windows),
// used through the wide file API there. Not thread-safe: the log serialises every call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

namespace Common {

class LogFile {
public:
    // Creates missing parent folders and opens path for appending. Throws
    // std::runtime_error naming the path and the system's reason when it cannot.
    void open(const std::string& path, std::uint64_t maxBytes, int keptFiles);
    void close();
    bool isOpen() const { return file_ != nullptr; }
    // Writes and flushes; false when the line could not be written. Never throws.
    bool write(const char* data, std::size_t length);

private:
    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };

    // The platform's open of a wide or byte path (LogFilePosix.cpp, LogFileWin.cpp);
    // errno tells why when it returns null.
    static std::FILE* openStream(const std::filesystem::path& path, bool append);
    std::filesystem::path numbered(int index) const;
    void rotate();

    std::unique_ptr<std::FILE, FileCloser> file_;
    std::string path_; // as the host gave it, for messages
    std::filesystem::path filePath_;
    std::uint64_t maxBytes_ = 0;
    int keptFiles_ = 0;
    std::uint64_t size_ = 0;            // bytes in the current file
    std::uint64_t rotateAt_ = 0;        // the size the next rotation waits for
    bool rotationFailureNoted_ = false; // said once per run of failed rotations
};

} // namespace Common
