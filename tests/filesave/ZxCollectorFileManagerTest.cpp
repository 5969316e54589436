#include "filesave/ZxCollectorFileManager.h"
#include "tests/filesave/FileSaveTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace fs = std::filesystem;
using namespace filesavetest;

namespace {

std::unique_ptr<ZxCollectorFileManager> makeManager(const ScratchDir& root, const ZxIdMappingTable& mapping,
                                                    std::uint16_t sizeMB = 10) {
    auto manager = std::make_unique<ZxCollectorFileManager>();
    manager->setFileInfo(root.str(), sizeMB);
    manager->setIdMapping(mapping);
    return manager;
}

// Channel k of record i carries i * 6 + k, so every saved value names its record and channel.
ZxCollectData numberedRecord(std::uint32_t canId, std::int32_t i) {
    const std::int32_t values[6] = {i * 6, i * 6 + 1, i * 6 + 2, i * 6 + 3, i * 6 + 4, i * 6 + 5};
    return makeRecord(canId, "2026-12-06 07:50:00." + std::to_string(i), values);
}

TEST(CollectorFileManagerCodes, StartTwiceStopTwiceAndPushWhileStopped) {
    ScratchDir root;
    LogCapture log;
    auto manager = makeManager(root, {{0x101, "A"}});
    const ZxCollectData record = numberedRecord(0x101, 1);

    EXPECT_EQ(manager->pushData(&record, 1), ZX_ERR_FILE_MANAGER_STOPPED);
    EXPECT_EQ(manager->stop(), ZX_ERR_FILE_MANAGER_STOPPED);
    ASSERT_EQ(manager->start(), ZX_OK);
    EXPECT_EQ(manager->start(), ZX_ERR_FILE_MANAGER_RUNNING);
    manager->setFileInfo("/elsewhere", 5);
    manager->setIdMapping({{0x999, "Z"}});
    EXPECT_EQ(manager->pushData(&record, 1), ZX_OK);
    EXPECT_EQ(manager->stop(), ZX_OK);
    EXPECT_EQ(manager->stop(), ZX_ERR_FILE_MANAGER_STOPPED);
    EXPECT_EQ(manager->pushData(&record, 1), ZX_ERR_FILE_MANAGER_STOPPED);
    manager.reset();

    // The refused setters changed nothing: the one record went to "A" below the root.
    for (int channel = 1; channel <= 6; ++channel) {
        const auto files = csvFiles(root.path() / ("CH" + std::to_string(channel)));
        ASSERT_EQ(files.size(), 1u);
        EXPECT_EQ(csvValues(files), (std::vector<std::int64_t>{6 + channel - 1}));
    }
    const std::string text = log.text();
    EXPECT_NE(text.find("[W] "), std::string::npos);
    EXPECT_NE(text.find("Collector file manager is already running."), std::string::npos);
    EXPECT_NE(text.find("Cannot change file info while running."), std::string::npos);
    EXPECT_NE(text.find("Cannot change ID mapping while running."), std::string::npos);
    EXPECT_NE(text.find("Successfully created 6 channel file managers."), std::string::npos);
    EXPECT_NE(text.find("Collector file manager started successfully."), std::string::npos);
    EXPECT_NE(text.find("Collector file manager stopped."), std::string::npos);
    EXPECT_NE(text.find("ZxCollectorFileManager instance destroyed"), std::string::npos);
}

TEST(CollectorFileManagerCodes, StartWithoutRootOrMappingIsRefused) {
    ScratchDir root;
    LogCapture log;
    EXPECT_EQ(makeManager(root, {})->start(), ZX_ERR_SAVE_NOT_CONFIGURED);
    auto noRoot = std::make_unique<ZxCollectorFileManager>();
    noRoot->setIdMapping({{1, "A"}});
    EXPECT_EQ(noRoot->start(), ZX_ERR_SAVE_NOT_CONFIGURED);
    EXPECT_FALSE(noRoot->isRunning());
    EXPECT_NE(log.text().find("Cannot start: Root directory or ID mapping not configured."),
              std::string::npos);
    EXPECT_TRUE(fs::is_empty(root.path()));
}

TEST(CollectorFileManagerRouting, OnlyMappedIdentifiersGetFilesOnePerChannel) {
    ScratchDir root;
    auto manager = makeManager(root, {{0x101, "Probe A"}, {0x202, "Probe B"}});
    ASSERT_EQ(manager->start(), ZX_OK);
    std::vector<ZxCollectData> records;
    for (std::int32_t i = 0; i < 10; ++i) {
        records.push_back(numberedRecord(i % 2 == 0 ? 0x101 : 0x303, i)); // 0x303 is not mapped
    }
    records.push_back(numberedRecord(0x202, 100));
    ASSERT_EQ(manager->pushData(records.data(), records.size()), ZX_OK);
    ASSERT_EQ(manager->stop(), ZX_OK);

    for (int channel = 1; channel <= 6; ++channel) {
        const fs::path folder = root.path() / ("CH" + std::to_string(channel));
        std::vector<std::int64_t> probeA;
        std::vector<std::int64_t> probeB;
        const auto files = csvFiles(folder);
        ASSERT_EQ(files.size(), 2u) << folder;
        for (const fs::path& file : files) {
            const std::string name = file.filename().string();
            ASSERT_TRUE(name.rfind("Probe A_", 0) == 0 || name.rfind("Probe B_", 0) == 0) << name;
            (name[6] == 'A' ? probeA : probeB) = csvValues({file});
        }
        const std::int64_t k = channel - 1;
        EXPECT_EQ(probeA, (std::vector<std::int64_t>{k, 12 + k, 24 + k, 36 + k, 48 + k}));
        EXPECT_EQ(probeB, (std::vector<std::int64_t>{600 + k}));
    }
    EXPECT_FALSE(fs::exists(root.path() / "CH7"));
}

TEST(CollectorFileManagerRouting, UnmappedRecordsAloneCreateNoFile) {
    ScratchDir root;
    auto manager = makeManager(root, {{0x101, "A"}});
    ASSERT_EQ(manager->start(), ZX_OK);
    const ZxCollectData record = numberedRecord(0x102, 1);
    ASSERT_EQ(manager->pushData(&record, 1), ZX_OK);
    ASSERT_EQ(manager->stop(), ZX_OK);
    EXPECT_TRUE(fs::is_empty(root.path()));
}

// Checks that the channel files of one identifier hold exactly values[k] = i * 6 + k for
// i in [0, count), in order.
void expectEveryRecordOnceInOrder(const fs::path& root, std::int32_t count) {
    for (int channel = 1; channel <= 6; ++channel) {
        const std::vector<std::int64_t> values = csvValues(csvFiles(root / ("CH" + std::to_string(channel))));
        ASSERT_EQ(values.size(), static_cast<std::size_t>(count)) << "CH" << channel;
        for (std::int32_t i = 0; i < count; ++i) {
            ASSERT_EQ(values[i], static_cast<std::int64_t>(i) * 6 + channel - 1)
                << "CH" << channel << " line " << i;
        }
    }
}

TEST(CollectorFileManagerNoLoss, EveryRecordPushedBeforeStopIsSavedOnceAndInOrder) {
    ScratchDir root;
    constexpr std::int32_t kRecords = 300000;
    std::vector<ZxCollectData> records;
    records.reserve(kRecords);
    for (std::int32_t i = 0; i < kRecords; ++i) {
        records.push_back(numberedRecord(0x101, i));
    }
    // 1 MiB files, so the series rotates several times on the way.
    auto manager = makeManager(root, {{0x101, "Burst"}}, 1);
    ASSERT_EQ(manager->start(), ZX_OK);
    for (std::int32_t first = 0; first < kRecords; first += 1000) { // as ZxReadBuffer hands them over
        ASSERT_EQ(manager->pushData(records.data() + first, 1000), ZX_OK);
    }
    ASSERT_EQ(manager->stop(), ZX_OK);
    expectEveryRecordOnceInOrder(root.path(), kRecords);
    EXPECT_GT(csvFiles(root.path() / "CH1").size(), 5u);
}

TEST(CollectorFileManagerNoLoss, PushesAcceptedWhileAnotherThreadStopsAreAllSaved) {
    ScratchDir root;
    auto manager = makeManager(root, {{0x101, "Race"}});
    ASSERT_EQ(manager->start(), ZX_OK);
    std::atomic<std::int32_t> accepted{0};
    std::thread host([&] {
        std::vector<ZxCollectData> batch(100);
        for (std::int32_t next = 0;; next += 100) {
            for (std::int32_t j = 0; j < 100; ++j) {
                batch[j] = numberedRecord(0x101, next + j);
            }
            if (manager->pushData(batch.data(), batch.size()) != ZX_OK) {
                return;
            }
            accepted.store(next + 100);
        }
    });
    ASSERT_TRUE(pollUntil([&] { return accepted.load() >= 50000; }));
    ASSERT_EQ(manager->stop(), ZX_OK);
    host.join();
    expectEveryRecordOnceInOrder(root.path(), accepted.load());
}

TEST(CollectorFileManagerLifecycle, RestartWithinOneSecondKeepsTheFirstSavesFiles) {
    ScratchDir root;
    auto manager = makeManager(root, {{0x101, "Again"}});
    for (std::int32_t round = 0; round < 2; ++round) {
        ASSERT_EQ(manager->start(), ZX_OK);
        const ZxCollectData record = numberedRecord(0x101, round);
        ASSERT_EQ(manager->pushData(&record, 1), ZX_OK);
        ASSERT_EQ(manager->stop(), ZX_OK);
    }
    const auto files = csvFiles(root.path() / "CH1");
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(csvValues(files), (std::vector<std::int64_t>{0, 6}));
}

} // namespace
