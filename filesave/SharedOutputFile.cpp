#include "filesave/SharedOutputFile.h"

SharedOutputFile::SharedOutputFile() = default;

SharedOutputFile::~SharedOutputFile() {
    close();
}

SharedOutputFile::CreateResult SharedOutputFile::createNew(const std::string& utf8Path,
                                                           std::string& errorText) {
    close();
    CreateResult result = CreateResult::Failed;
    std::FILE* stream = openExclusive(utf8Path, result, errorText);
    if (stream == nullptr) {
        return result;
    }
    stream_ = stream;
    good_ = true;
    path_ = utf8Path;
    // Each write is a whole chunk of lines and goes straight to the file.
    std::setvbuf(stream_, nullptr, _IONBF, 0);
    return CreateResult::Created;
}

bool SharedOutputFile::reopenForAppend(const std::string& utf8Path, std::string& errorText) {
    close();
    std::FILE* stream = openAppend(utf8Path, errorText);
    if (stream == nullptr) {
        return false;
    }
    stream_ = stream;
    good_ = true;
    path_ = utf8Path;
    std::setvbuf(stream_, nullptr, _IONBF, 0);
    return true;
}

bool SharedOutputFile::write(const char* data, std::size_t size, std::size_t& written,
                             std::string& errorText) {
    written = 0;
    if (!good()) {
        errorText = "the file is not open";
        return false;
    }
    written = writeDescriptor(stream_, data, size, errorText);
    if (written != size) {
        good_ = false;
        return false;
    }
    return true;
}

bool SharedOutputFile::truncate(std::uint64_t size, std::string& errorText) {
    if (stream_ == nullptr) {
        errorText = "the file is not open";
        return false;
    }
    return truncateDescriptor(stream_, size, errorText);
}

bool SharedOutputFile::close() {
    if (stream_ == nullptr) {
        return true;
    }
    // Nothing is buffered in the stream: the writes went to the descriptor.
    const bool ok = std::fclose(stream_) == 0;
    stream_ = nullptr;
    good_ = false;
    return ok;
}

void SharedOutputFile::closeAndRemove() {
    if (stream_ == nullptr) {
        return;
    }
    close();
    removeFile(path_);
}
