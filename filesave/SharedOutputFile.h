// An output file that other programs may open and read while it is written, and that
// is only ever created new: an existing file of that name is never truncated (it may be
// reopened for appending after a close). Paths are UTF-8. Opening, writing, cutting and
// removal are the platform's (SharedOutputFilePosix.cpp / SharedOutputFileWin.cpp);
// closing is shared. Writes are not buffered here: callers hand over whole chunks of
// text, and hundreds of files open at once would otherwise hold a buffer each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

class SharedOutputFile {
public:
    enum class CreateResult { Created, AlreadyExists, Failed };

    SharedOutputFile();
    ~SharedOutputFile(); // closes
    SharedOutputFile(const SharedOutputFile&) = delete;
    SharedOutputFile& operator=(const SharedOutputFile&) = delete;

    // Creates utf8Path for writing in binary mode (no line-end conversion), readable by
    // others meanwhile. AlreadyExists leaves the existing file alone; Failed fills
    // errorText with the system's reason. Closes a file that is still open first.
    CreateResult createNew(const std::string& utf8Path, std::string& errorText);

    // Opens the file of utf8Path again, for writing at its end; false with the system's
    // reason in errorText when it is gone or cannot be opened. Closes a file still open.
    bool reopenForAppend(const std::string& utf8Path, std::string& errorText);

    bool isOpen() const { return stream_ != nullptr; }
    // False once a write failed; stays false until the next successful createNew.
    bool good() const { return stream_ != nullptr && good_; }
    // Writes all size bytes; false on failure, with the system's reason in errorText and
    // in written how many of the bytes reached the file before the failure.
    bool write(const char* data, std::size_t size, std::size_t& written, std::string& errorText);
    // Cuts the file back to its first size bytes (after a write that stopped short); the
    // next write follows them. False with the system's reason when it cannot.
    bool truncate(std::uint64_t size, std::string& errorText);
    // Closes; false when the close itself failed (a write that failed before was
    // reported by write, and nothing is buffered). Harmless when nothing is open.
    bool close();
    // Closes and deletes the file created by the last createNew (for a file that
    // received nothing). Harmless when nothing is open.
    void closeAndRemove();

private:
    // The platform's exclusive, read-shared creation; returns a stream opened "wb" or
    // null with result/errorText set.
    static std::FILE* openExclusive(const std::string& utf8Path, CreateResult& result,
                                    std::string& errorText);
    // The platform's open of an existing file for appending, read-shared; a stream
    // opened "ab" or null with errorText set.
    static std::FILE* openAppend(const std::string& utf8Path, std::string& errorText);
    // Writes through the stream's descriptor, unbuffered, until all is written or an
    // error (errorText) stops it; returns the bytes written.
    static std::size_t writeDescriptor(std::FILE* stream, const char* data, std::size_t size,
                                       std::string& errorText);
    static bool truncateDescriptor(std::FILE* stream, std::uint64_t size, std::string& errorText);
    static void removeFile(const std::string& utf8Path);

    std::FILE* stream_ = nullptr;
    bool good_ = false;
    std::string path_; // of the open file
};
