// Measures how many CSV points per second file saving sustains: records are pushed the
// way the reader hands them over (10000 per call), then stop() returns once every point
// is in its file. The same bytes written with plain fwrite give the ceiling of the disk
// and the C library on this machine.
//   bench_filesave [records (default 1000000)] [file size MiB (default 10)] [folder]

#include "filesave/ZxCollectorFileManager.h"

#include <fmt/format.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kRecordsPerPush = 10000;
constexpr int kChannels = ZxCollectorFileManager::kChannelCount;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::uintmax_t folderBytes(const fs::path& folder) {
    std::uintmax_t total = 0;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            total += entry.file_size();
        }
    }
    return total;
}

std::vector<ZxCollectData> makeRecords(std::size_t count) {
    std::vector<ZxCollectData> records(count);
    std::mt19937 random(12345);
    std::uniform_int_distribution<std::int32_t> value(-500000, 500000);
    for (std::size_t i = 0; i < count; ++i) {
        ZxCollectData& record = records[i];
        record.canId = 0x101;
        // The shape of the reader's local date-time texts.
        const std::string text = fmt::format("2026-12-06 08:{:02}:{:02}.{:06}", (i / 60000000) % 60,
                                             (i / 1000000) % 60, i % 1000000);
        std::memcpy(record.timestamp, text.c_str(), text.size() + 1);
        for (int k = 0; k < 8; ++k) {
            record.values[k] = value(random);
        }
    }
    return records;
}

// The CSV text each channel file manager writes for these records, one text per channel.
std::vector<std::string> expectedCsv(const std::vector<ZxCollectData>& records) {
    std::vector<std::string> texts(kChannels);
    for (int k = 0; k < kChannels; ++k) {
        fmt::memory_buffer out;
        fmt::format_to(std::back_inserter(out), "Timestamp,Current_mA\n");
        for (const ZxCollectData& record : records) {
            fmt::format_to(std::back_inserter(out), "{},{}\n", record.timestamp, record.values[k]);
        }
        texts[k].assign(out.data(), out.size());
    }
    return texts;
}

} // namespace

int main(int argc, char** argv) {
    const std::size_t recordCount = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
    const auto sizeMB = static_cast<std::uint16_t>(argc > 2 ? std::atoi(argv[2]) : 10);
    const fs::path base = argc > 3 ? fs::path(argv[3]) : fs::temp_directory_path();
    const fs::path folder = base / fmt::format("bench-filesave-{}", std::random_device()());
    const fs::path managerFolder = folder / "manager";
    const fs::path plainFolder = folder / "plain";
    fs::create_directories(plainFolder);

    const std::vector<ZxCollectData> records = makeRecords(recordCount);
    const std::size_t points = recordCount * kChannels;

    // Through the file manager: push as the reader does, stop, everything is on disk.
    auto manager = std::make_unique<ZxCollectorFileManager>();
    manager->setFileInfo(managerFolder.string(), sizeMB);
    manager->setIdMapping({{0x101, "Bench"}});
    if (manager->start() != ZX_OK) {
        std::fprintf(stderr, "the file manager did not start\n");
        return 1;
    }
    const Clock::time_point managerStart = Clock::now();
    for (std::size_t first = 0; first < recordCount; first += kRecordsPerPush) {
        const std::size_t count = std::min(kRecordsPerPush, recordCount - first);
        manager->pushData(records.data() + first, count);
    }
    const double pushSeconds = secondsSince(managerStart);
    manager->stop();
    const double managerSeconds = secondsSince(managerStart);
    manager.reset();
    const std::uintmax_t managerBytes = folderBytes(managerFolder);

    // The same bytes with plain buffered fwrite, one file per channel.
    const std::vector<std::string> texts = expectedCsv(records);
    std::uintmax_t expectedBytes = 0;
    const Clock::time_point plainStart = Clock::now();
    for (int k = 0; k < kChannels; ++k) {
        const std::string path = (plainFolder / fmt::format("CH{}.csv", k + 1)).string();
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (file == nullptr) {
            std::fprintf(stderr, "cannot create %s\n", path.c_str());
            return 1;
        }
        std::setvbuf(file, nullptr, _IOFBF, 65536);
        std::fwrite(texts[k].data(), 1, texts[k].size(), file);
        std::fclose(file);
        expectedBytes += texts[k].size();
    }
    const double plainSeconds = secondsSince(plainStart);

    const double managerRate = points / managerSeconds;
    const double plainRate = points / plainSeconds;
    fmt::print("records {}  points {}  file size {} MiB\n", recordCount, points, sizeMB);
    fmt::print("file manager : {:9.3f} s  {:12.0f} points/s  {:7.1f} MB/s  (pushing took {:.3f} s)\n",
               managerSeconds, managerRate, managerBytes / managerSeconds / 1e6, pushSeconds);
    fmt::print("plain fwrite : {:9.3f} s  {:12.0f} points/s  {:7.1f} MB/s\n", plainSeconds, plainRate,
               expectedBytes / plainSeconds / 1e6);
    fmt::print("ratio manager/plain: {:.2f}\n", managerRate / plainRate);
    // Headers of rotated files make the saved bytes slightly larger than one file each.
    if (managerBytes < expectedBytes) {
        fmt::print("MISSING DATA: {} bytes saved, {} expected at least\n", managerBytes, expectedBytes);
    }

    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return managerBytes < expectedBytes ? 1 : 0;
}
