// A disk that fills up and gets room again while saving streams, on a small tmpfs of
// this test's own (scripts/with-small-tmpfs.sh provides it; without it the cases skip).
#include "filesave/ZxCollectorFileManager.h"
#include "tests/support/CsvFiles.h"
#include "tests/support/LogCapture.h"
#include "tests/support/PollUntil.h"

#include <gtest/gtest.h>

#include <sys/vfs.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <thread>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr long kTmpfsMagic = 0x01021994;

// The small tmpfs named by ZX_SMALL_TMPFS, or an empty path when there is none.
fs::path smallTmpfs() {
    const char* dir = std::getenv("ZX_SMALL_TMPFS");
    struct statfs info {};
    if (dir == nullptr || ::statfs(dir, &info) != 0 || static_cast<long>(info.f_type) != kTmpfsMagic ||
        static_cast<std::uint64_t>(info.f_blocks) * info.f_bsize > 16u * 1024 * 1024) {
        return {};
    }
    return dir;
}

ZxCollectData numbered(std::int32_t i) {
    ZxCollectData record{};
    record.canId = 0x101;
    std::strcpy(record.timestamp, "t");
    std::fill(record.values, record.values + 6, i);
    return record;
}

// Whether a data line (timestamp "t") is in folder's files; a file may vanish while
// it is read.
bool holdsDataLine(const fs::path& folder) {
    for (const fs::path& file : zxtest::csvFiles(folder)) {
        for (const std::string& line : zxtest::readLines(file)) {
            if (line.rfind("t,", 0) == 0) {
                return true;
            }
        }
    }
    return false;
}

TEST(FileSystemFull, SavingResumesInANewFileOnceTheUserMakesRoom) {
    const fs::path disk = smallTmpfs();
    if (disk.empty()) {
        GTEST_SKIP() << "needs scripts/with-small-tmpfs.sh (a small tmpfs in a private mount namespace)";
    }
    const fs::path root = disk / "save";
    LogCapture log;
    ZxCollectorFileManager manager;
    manager.setFileInfo(root.string(), 10);
    manager.setIdMapping({{0x101, "Full"}});
    ASSERT_EQ(manager.start(), ZX_OK);

    // The host reads 50 records every 10 ms (about 1.2 MB of lines per second).
    std::atomic<bool> hostRuns{true};
    std::thread host([&] {
        std::vector<ZxCollectData> batch(50);
        for (std::int32_t next = 0; hostRuns.load(); next += 50) {
            for (std::int32_t j = 0; j < 50; ++j) {
                batch[j] = numbered(next + j);
            }
            manager.pushData(batch.data(), batch.size());
            std::this_thread::sleep_for(std::chrono::milliseconds(10)); // the host's pace
        }
    });

    // Wait until every channel's write failed: then no file with lines from before is
    // held open, and deleting the files gives their space back.
    const auto failedEverywhere = [&] {
        for (int channel = 1; channel <= 6; ++channel) {
            if (!log.contains("points for CH" + std::to_string(channel) +
                              "/'Full' before the write failed")) {
                return false;
            }
        }
        return true;
    };
    const auto removeFiles = [&](int firstChannel) {
        for (int channel = firstChannel; channel <= 6; ++channel) {
            for (const fs::path& file : zxtest::csvFiles(root / ("CH" + std::to_string(channel)))) {
                std::error_code ignored; // a writer may remove its own empty file meanwhile
                fs::remove(file, ignored);
            }
        }
    };
    const bool failed = zxtest::pollUntil(20s, failedEverywhere);
    removeFiles(1);
    // Any CH1 line on disk now was written after the room came back. The points that
    // waited are written first, and those of the other channels alone can fill this
    // small disk again; the user keeps clearing those until CH1 has its turn.
    const bool resumed = failed && zxtest::pollUntil(
                                       20s,
                                       [&] {
                                           removeFiles(2);
                                           return holdsDataLine(root / "CH1");
                                       },
                                       std::chrono::milliseconds(20));
    hostRuns.store(false);
    host.join();
    ASSERT_EQ(manager.stop(), ZX_OK);
    ASSERT_TRUE(failed) << "the disk never filled up for every channel";
    EXPECT_TRUE(resumed) << "no line saved after the disk had room again";
    EXPECT_TRUE(log.contains("points for CH1/'Full'")) << "lost points are counted";
}

// Points the log reports as dropped or discarded for one writer.
std::uint64_t reportedNotSaved(const std::string& log, const std::string& writer) {
    static const std::regex reported(R"((?:Dropped|Discarded) (\d+) points for (CH\d/'\w+'))");
    std::uint64_t total = 0;
    for (std::sregex_iterator it(log.begin(), log.end(), reported), end; it != end; ++it) {
        total += (*it)[2] == writer ? std::stoull((*it)[1]) : 0;
    }
    return total;
}

// A chunk of lines that does not fit leaves no part of a line behind (a cut inside the
// digits would read as a wrong value), and every point is either on disk or reported.
TEST(FileSystemFull, FilesHoldOnlyWholeLinesAndEveryPointIsOnDiskOrReported) {
    const fs::path disk = smallTmpfs();
    if (disk.empty()) {
        GTEST_SKIP() << "needs scripts/with-small-tmpfs.sh (a small tmpfs in a private mount namespace)";
    }
    const fs::path root = disk / "cut";
    LogCapture log;
    ZxCollectorFileManager manager;
    manager.setFileInfo(root.string(), 10);
    manager.setIdMapping({{0x101, "Cut"}});
    ASSERT_EQ(manager.start(), ZX_OK);
    // 6 x 60,000 lines of 12 bytes: several times the disk.
    constexpr std::int32_t kRecords = 60000;
    constexpr std::int32_t kFirstValue = 100000000;
    for (std::int32_t next = 0; next < kRecords; next += 1000) {
        std::vector<ZxCollectData> batch(1000);
        for (std::int32_t j = 0; j < 1000; ++j) {
            batch[j] = numbered(kFirstValue + next + j);
        }
        ASSERT_EQ(manager.pushData(batch.data(), batch.size()), ZX_OK);
    }
    ASSERT_TRUE(zxtest::pollUntil(10s, [&] { return log.contains("Failed to write to file: "); }));
    ASSERT_EQ(manager.stop(), ZX_OK);
    // The failed write was reported; closing that file afterwards loses nothing more.
    EXPECT_FALSE(log.contains("Failed to close file")) << log.text();

    const std::regex dataLine(R"(t,\d{9})");
    for (int channel = 1; channel <= 6; ++channel) {
        const std::string folder = "CH" + std::to_string(channel);
        std::vector<std::int32_t> onDisk;
        for (const fs::path& file : zxtest::csvFiles(root / folder)) {
            const std::string text = zxtest::readFile(file);
            ASSERT_TRUE(text.empty() || text.back() == '\n') << file << " ends inside a line";
            const std::vector<std::string> lines = zxtest::readLines(file);
            for (std::size_t i = 1; i < lines.size(); ++i) {
                ASSERT_TRUE(std::regex_match(lines[i], dataLine)) << file << ": " << lines[i];
                onDisk.push_back(std::stoi(lines[i].substr(2)));
            }
        }
        // In order, from the first, with nothing twice or left out before the disk filled.
        for (std::size_t i = 0; i < onDisk.size(); ++i) {
            ASSERT_EQ(onDisk[i], kFirstValue + static_cast<std::int32_t>(i)) << folder;
        }
        EXPECT_LT(onDisk.size(), static_cast<std::size_t>(kRecords)) << folder;
        EXPECT_EQ(onDisk.size() + reportedNotSaved(log.text(), folder + "/'Cut'"),
                  static_cast<std::size_t>(kRecords))
            << folder;
    }
}

} // namespace
