#include "tests/filesave/FileSaveTestSupport.h"

#include "common/Log.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;

namespace filesavetest {

ScratchDir::ScratchDir() {
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate = fs::temp_directory_path() / ("zx-filesave-" + std::to_string(random()) +
                                                                "-" + std::to_string(counter++));
        if (fs::create_directory(candidate)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("no temporary folder could be created");
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

bool pollUntil(const std::function<bool()>& condition, std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= end) {
            return condition();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

std::string readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void writeFile(const fs::path& file, const std::string& content) {
    std::ofstream out(file, std::ios::binary);
    out << content;
}

int fileIndexOf(const fs::path& file) {
    const std::string stem = file.stem().string();
    const std::size_t underscore = stem.rfind('_');
    return underscore == std::string::npos ? -1 : std::atoi(stem.c_str() + underscore + 1);
}

std::vector<fs::path> csvFiles(const fs::path& folder) {
    std::vector<fs::path> files;
    std::error_code error;
    if (!fs::is_directory(folder, error)) {
        return files;
    }
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.is_regular_file() && entry.path().extension() == ".csv") {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end(), [](const fs::path& a, const fs::path& b) {
        const int ia = fileIndexOf(a);
        const int ib = fileIndexOf(b);
        return ia != ib ? ia < ib : a < b;
    });
    return files;
}

std::vector<std::int64_t> csvValues(const std::vector<fs::path>& files) {
    std::vector<std::int64_t> values;
    for (const fs::path& file : files) {
        const std::string content = readFile(file);
        std::size_t start = content.find('\n'); // after the header
        while (start != std::string::npos && start + 1 < content.size()) {
            const std::size_t end = content.find('\n', start + 1);
            const std::size_t comma = content.rfind(',', end);
            values.push_back(std::stoll(content.substr(comma + 1, end - comma - 1)));
            start = end;
        }
    }
    return values;
}

ZxChannelDataPoint makePoint(const std::string& timestamp, std::int32_t value) {
    ZxChannelDataPoint point{};
    const std::size_t length =
        std::min<std::size_t>(timestamp.size(), ZxChannelDataPoint::kTimestampCapacity - 1);
    std::memcpy(point.timestamp, timestamp.data(), length);
    point.timestampLength = static_cast<std::uint32_t>(length);
    point.value = value;
    return point;
}

ZxCollectData makeRecord(std::uint32_t canId, const std::string& timestamp, const std::int32_t (&values)[6]) {
    ZxCollectData record{};
    record.canId = canId;
    std::strncpy(record.timestamp, timestamp.c_str(), sizeof(record.timestamp) - 1);
    for (int k = 0; k < 6; ++k) {
        record.values[k] = values[k];
    }
    record.values[6] = 777; // channels 7 and 8 are never saved
    record.values[7] = 888;
    return record;
}

LogCapture::LogCapture() {
    Common::logInit((dir_.path() / "filesave.log").string(), 0, 10, 1);
    Common::logStart(false);
}

LogCapture::~LogCapture() {
    if (!stopped_) {
        Common::logStop();
    }
}

std::string LogCapture::text() {
    if (!stopped_) {
        Common::logStop();
        stopped_ = true;
    }
    return readFile(dir_.path() / "filesave.log");
}

std::string LogCapture::peek() const {
    return readFile(dir_.path() / "filesave.log");
}

} // namespace filesavetest
