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

    ASSERT_TRUE(zxtest::pollUntil(10s, [&] { return log.contains("Failed to write to file: "); }));
    // The user deletes the files to make room: the space comes back only when the
    // failed files are no longer held open.
    for (int channel = 1; channel <= 6; ++channel) {
        for (const fs::path& file : zxtest::csvFiles(root / ("CH" + std::to_string(channel)))) {
            fs::remove(file);
        }
    }
    // Any line on disk now was written after the room came back. (Not necessarily one
    // pushed after that moment: the points that waited are written first, oldest
    // first, and on a busy machine they alone can fill this small disk again.)
    const bool resumed = zxtest::pollUntil(10s, [&] { return holdsDataLine(root / "CH1"); });
    hostRuns.store(false);
    host.join();
    ASSERT_EQ(manager.stop(), ZX_OK);
    EXPECT_TRUE(resumed) << "no line saved after the disk had room again";
    EXPECT_TRUE(log.contains("points for CH1/'Full'")) << "lost points are counted";
}

} // namespace
