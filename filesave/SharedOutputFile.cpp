#include "filesave/SharedOutputFile.h"

#include <cerrno>
#include <system_error>

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

bool SharedOutputFile::write(const char* data, std::size_t size, std::string& errorText) {
    if (!good()) {
        errorText = "the file is not open";
        return false;
    }
    errno = 0;
    if (std::fwrite(data, 1, size, stream_) != size) {
        const int error = errno;
        errorText = error != 0 ? std::generic_category().message(error) : "incomplete write";
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

void SharedOutputFile::closeAndRemove() {
    if (stream_ == nullptr) {
        return;
    }
    close();
    removeFile(path_);
}
