#include "filesave/SharedOutputFile.h"

SharedOutputFile::SharedOutputFile() : buffer_(std::make_unique<char[]>(kBufferBytes)) {}

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
    // Data reaches the file when this buffer fills and at close; no flush per pass.
    std::setvbuf(stream_, buffer_.get(), _IOFBF, kBufferBytes);
    return CreateResult::Created;
}

bool SharedOutputFile::write(const char* data, std::size_t size) {
    if (!good()) {
        return false;
    }
    if (std::fwrite(data, 1, size, stream_) != size) {
        good_ = false;
        return false;
    }
    return true;
}

bool SharedOutputFile::close() {
    if (stream_ == nullptr) {
        return true;
    }
    bool ok = good_ && std::fflush(stream_) == 0;
    ok = std::fclose(stream_) == 0 && ok;
    stream_ = nullptr;
    good_ = false;
    return ok;
}
