// A buffered output file that other programs may open and read while it is written,
// and that is only ever created new: an existing file of that name is never truncated.
// Paths are UTF-8. The open is the platform's (SharedOutputFilePosix.cpp /
// SharedOutputFileWin.cpp); buffering, writing and closing are shared.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

class SharedOutputFile {
public:
    enum class CreateResult { Created, AlreadyExists, Failed };

    static constexpr std::size_t kBufferBytes = 65536;

    SharedOutputFile();
    ~SharedOutputFile(); // closes
    SharedOutputFile(const SharedOutputFile&) = delete;
    SharedOutputFile& operator=(const SharedOutputFile&) = delete;

    // Creates utf8Path for writing in binary mode (no line-end conversion), readable by
    // others meanwhile. AlreadyExists leaves the existing file alone; Failed fills
    // errorText with the system's reason. Closes a file that is still open first.
    CreateResult createNew(const std::string& utf8Path, std::string& errorText);

    bool isOpen() const { return stream_ != nullptr; }
    // False once a write failed; stays false until the next successful createNew.
    bool good() const { return stream_ != nullptr && good_; }
    // Buffered write of all size bytes; false on failure.
    bool write(const char* data, std::size_t size);
    // Flushes and closes; false when either failed. Harmless when nothing is open.
    bool close();

private:
    // The platform's exclusive, read-shared creation; returns a stream opened "wb" or
    // null with result/errorText set.
    static std::FILE* openExclusive(const std::string& utf8Path, CreateResult& result,
                                    std::string& errorText);

    std::FILE* stream_ = nullptr;
    bool good_ = false;
    std::unique_ptr<char[]> buffer_; // kBufferBytes, handed to every stream opened
};
