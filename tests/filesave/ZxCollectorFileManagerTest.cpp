#include "filesave/ZxCollectorFileManager.h"
#include "tests/support/CsvFiles.h"
#include "tests/support/LogCapture.h"
#include "tests/support/PollUntil.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using zxtest::csvFiles;
using zxtest::csvValues;

namespace {

std::unique_ptr<ZxCollectorFileManager> makeManager(const fs::path& root, const ZxIdMappingTable& mapping,
                                                    std::uint16_t sizeMB = 10) {
    auto manager = std::make_unique<ZxCollectorFileManager>();
    manager->setFileInfo(root.string(), sizeMB);
    manager->setIdMapping(mapping);
    return manager;
}

// Channel k of record i carries i * 6 + k - 1, so every saved value names its record.
ZxCollectData numbered(std::int32_t i, std::uint32_t canId = 0x101) {
    ZxCollectData record{};
    record.canId = canId;
    std::strcpy(record.timestamp, "2026-12-06 07:50:00.000000");
    for (int k = 0; k < 6; ++k) {
        record.values[k] = i * 6 + k;
    }
    return record;
}

// The files of name in every channel folder hold values i * 6 + k - 1 for i in [0, count).
void expectEveryRecordOnceInOrder(const fs::path& root, std::int32_t count, const std::string& name = "") {
    for (int channel = 1; channel <= 6; ++channel) {
        const auto values = csvValues(csvFiles(root / ("CH" + std::to_string(channel)), name));
        ASSERT_EQ(values.size(), static_cast<std::size_t>(count)) << "CH" << channel << " " << name;
        for (std::int32_t i = 0; i < count; ++i) {
            ASSERT_EQ(values[i], std::int64_t{i} * 6 + channel - 1) << "CH" << channel << " line " << i;
        }
    }
}

// The host thread pushes as ZxReadBuffer hands records over until the save stops: every
// push accepted before or during the stop is saved, over several 1 MiB files.
TEST(CollectorFileManager, EveryRecordAcceptedBeforeOrWhileAnotherThreadStopsIsSavedOnceInOrder) {
    zxtest::TempDir root;
    auto manager = makeManager(root.path(), {{0x101, "Burst"}}, 1);
    ASSERT_EQ(manager->start(), ZX_OK);
    std::atomic<std::int32_t> accepted{0};
    std::thread host([&] {
        std::vector<ZxCollectData> batch(1000);
        for (std::int32_t next = 0;; next += 1000) {
            for (std::int32_t j = 0; j < 1000; ++j) {
                batch[j] = numbered(next + j);
            }
            if (manager->pushData(batch.data(), batch.size()) != ZX_OK) {
                return;
            }
            accepted.store(next + 1000);
        }
    });
    ASSERT_TRUE(zxtest::pollUntil(10s, [&] { return accepted.load() >= 200000; }));
    ASSERT_EQ(manager->stop(), ZX_OK);
    host.join();
    expectEveryRecordOnceInOrder(root.path(), accepted.load());
    EXPECT_GT(csvFiles(root / "CH1").size(), 3u);
}

// 24 saves of 4 identifiers (576 files) share the few saving threads; 4 host threads
// push to them in small reads, interleaved; one save cannot open any file.
TEST(CollectorFileManager, ManySavesAtOnceKeepEveryFileCompleteAndAStuckOneHoldsUpNone) {
    constexpr int kSaves = 24;
    constexpr std::int32_t kRecords = 3000; // per identifier
    const ZxIdMappingTable mapping{{0x101, "T"}, {0x301, "V"}, {0x501, "C"}, {0x701, "F"}};
    zxtest::TempDir blocked;
    zxtest::writeFile(blocked / "stuck", "a plain file where the root folder should be");
    LogCapture log;
    auto stuck = makeManager(blocked / "stuck", mapping);
    ASSERT_EQ(stuck->start(), ZX_OK);
    std::vector<zxtest::TempDir> roots(kSaves);
    std::vector<std::unique_ptr<ZxCollectorFileManager>> saves;
    for (const zxtest::TempDir& root : roots) {
        saves.push_back(makeManager(root.path(), mapping));
        ASSERT_EQ(saves.back()->start(), ZX_OK);
    }
    std::vector<std::thread> hosts;
    for (int h = 0; h < 4; ++h) { // host h reads for saves h, h + 4, ...
        hosts.emplace_back([&, h] {
            for (std::int32_t first = 0; first < kRecords; first += 50) {
                std::vector<ZxCollectData> batch;
                for (std::int32_t n = first; n < first + 50; ++n) {
                    for (const auto& [id, name] : mapping) {
                        batch.push_back(numbered(n, id));
                    }
                }
                for (int i = h; i < kSaves; i += 4) {
                    saves[i]->pushData(batch.data(), batch.size());
                    stuck->pushData(batch.data(), batch.size());
                }
            }
        });
    }
    for (std::thread& host : hosts) {
        host.join();
    }
    // While the stuck save keeps failing, the others' lines reach their files.
    ASSERT_TRUE(zxtest::pollUntil(
        20s, [&] { return csvValues(csvFiles(roots.back().path() / "CH6", "F_")).size() == kRecords; }));
    EXPECT_TRUE(log.contains("Failed to open file: "));
    ASSERT_EQ(stuck->stop(), ZX_OK);
    for (std::size_t i = 0; i < saves.size(); ++i) {
        ASSERT_EQ(saves[i]->stop(), ZX_OK);
        for (const auto& [id, name] : mapping) {
            expectEveryRecordOnceInOrder(roots[i].path(), kRecords, name + "_");
        }
    }
}

TEST(CollectorFileManager, RecordsBeyondTheQueueBoundAreDroppedCountedAndReported) {
    zxtest::TempDir root;
    LogCapture log;
    ZxCollectorFileManager manager(1000);
    manager.setFileInfo(root.string(), 10);
    manager.setIdMapping({{0x101, "Bounded"}});
    ASSERT_EQ(manager.start(), ZX_OK);
    std::vector<ZxCollectData> records;
    for (std::int32_t i = 0; i < 5000; ++i) {
        records.push_back(numbered(i));
    }
    // One push far beyond the bound: the first 1000 are kept, in order.
    ASSERT_EQ(manager.pushData(records.data(), records.size()), ZX_OK);
    ASSERT_EQ(manager.stop(), ZX_OK);
    expectEveryRecordOnceInOrder(root.path(), 1000);
    EXPECT_TRUE(
        log.hasLine(2, "Dropped 4000 records for saving (4000 in this save): 1000 records already wait"));
}

} // namespace
