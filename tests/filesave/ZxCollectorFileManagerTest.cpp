#include "filesave/ZxCollectorFileManager.h"
#include "tests/support/CsvFiles.h"
#include "tests/support/LogCapture.h"
#include "tests/support/PollUntil.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

using namespace std::chrono_literals;
using zxtest::csvFiles;
using zxtest::csvValues;

namespace {

// A save of identifier 0x101 into a fresh folder. Record i carries i * 6 + k - 1 in
// channel k, so every saved value names its record.
class CollectorFileManager : public ::testing::Test {
protected:
    void start(ZxCollectorFileManager& manager, std::uint16_t sizeMB) {
        manager.setFileInfo(root.string(), sizeMB);
        manager.setIdMapping({{0x101, "Probe"}});
        ASSERT_EQ(manager.start(), ZX_OK);
    }
    // Every channel folder holds the values of records 0 .. count - 1, in order.
    void expectFirstRecordsSaved(std::int32_t count) {
        for (int channel = 1; channel <= 6; ++channel) {
            const auto values = csvValues(csvFiles(root / ("CH" + std::to_string(channel))));
            ASSERT_EQ(values.size(), static_cast<std::size_t>(count)) << "CH" << channel;
            for (std::int32_t i = 0; i < count; ++i) {
                ASSERT_EQ(values[i], std::int64_t{i} * 6 + channel - 1) << "CH" << channel << " line " << i;
            }
        }
    }
    zxtest::TempDir root;
};

// The host thread pushes as ZxReadBuffer hands records over until the save stops: every
// push accepted before or during the stop is saved, over several 1 MiB files.
TEST_F(CollectorFileManager, EveryRecordAcceptedBeforeOrWhileAnotherThreadStopsIsSavedOnceInOrder) {
    ZxCollectorFileManager manager;
    start(manager, 1);
    std::atomic<std::int32_t> accepted{0};
    std::thread host([&] {
        for (std::int32_t next = 0;; next += 1000) {
            const auto batch = zxtest::numberedRecords(0x101, next, 1000);
            if (manager.pushData(batch.data(), batch.size()) != ZX_OK) {
                return;
            }
            accepted.store(next + 1000);
        }
    });
    ASSERT_TRUE(zxtest::pollUntil(10s, [&] { return accepted.load() >= 200000; }));
    ASSERT_EQ(manager.stop(), ZX_OK);
    host.join();
    expectFirstRecordsSaved(accepted.load());
    EXPECT_GT(csvFiles(root / "CH1").size(), 3u);
}

TEST_F(CollectorFileManager, RecordsBeyondTheQueueBoundAreDroppedCountedAndReported) {
    LogCapture log;
    ZxCollectorFileManager manager(1000);
    start(manager, 10);
    // One push far beyond the bound: the first 1000 are kept, in order.
    const auto batch = zxtest::numberedRecords(0x101, 0, 5000);
    ASSERT_EQ(manager.pushData(batch.data(), batch.size()), ZX_OK);
    ASSERT_EQ(manager.stop(), ZX_OK);
    expectFirstRecordsSaved(1000);
    EXPECT_TRUE(
        log.hasLine(2, "Dropped 4000 records for saving (4000 in this save): 1000 records already wait"));
}

} // namespace
