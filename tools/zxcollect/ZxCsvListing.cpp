#include "ZxCsvListing.h"

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

// Lines after the header line "Timestamp,Current_mA".
std::uint64_t countDataLines(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::uint64_t lines = 0;
    char buffer[65536];
    while (file.read(buffer, sizeof buffer) || file.gcount() > 0) {
        const std::streamsize got = file.gcount();
        for (std::streamsize i = 0; i < got; ++i) {
            lines += buffer[i] == '\n' ? 1 : 0;
        }
    }
    return lines > 0 ? lines - 1 : 0;
}

} // namespace

ZxCsvListing::ZxCsvListing(std::string root) : root_(std::move(root)) {}

void ZxCsvListing::takeSnapshot() {
    before_ = csvFilesNow();
}

std::set<std::string> ZxCsvListing::csvFilesNow() const {
    std::set<std::string> files;
    std::error_code error;
    if (!fs::is_directory(root_, error)) {
        return files;
    }
    for (fs::recursive_directory_iterator it(root_, error), end; !error && it != end; it.increment(error)) {
        if (it->is_regular_file(error) && it->path().extension() == ".csv") {
            files.insert(it->path().lexically_relative(root_).generic_string());
        }
    }
    return files;
}

std::vector<ZxCsvListing::File> ZxCsvListing::newFiles() const {
    std::vector<File> files;
    for (const std::string& relative : csvFilesNow()) {
        if (before_.count(relative) != 0) {
            continue;
        }
        const fs::path path = fs::path(root_) / fs::path(relative);
        std::error_code error;
        File file;
        file.path = relative;
        const std::uintmax_t bytes = fs::file_size(path, error);
        file.bytes = error ? 0 : bytes;
        file.dataLines = countDataLines(path);
        files.push_back(file);
    }
    return files;
}
