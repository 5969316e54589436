#include "filesave/ZxCollectorFileManager.h"
#include "tests/filesave/FileSaveTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
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

TEST(CollectorFileManagerSharedWriters, ManySavesAtOnceKeepEveryFileCompleteAndInOrder) {
    // 24 saves of 4 identifiers (576 files) share the few saving threads; 4 host threads
    // push to them in small reads, interleaved, and one thread stops them all.
    constexpr int kSaves = 24;
    constexpr int kHostThreads = 4;
    constexpr std::int32_t kRecords = 3000; // per identifier
    const std::uint32_t ids[] = {0x101, 0x301, 0x501, 0x701};
    std::vector<std::unique_ptr<ScratchDir>> roots;
    std::vector<std::unique_ptr<ZxCollectorFileManager>> saves;
    for (int i = 0; i < kSaves; ++i) {
        roots.push_back(std::make_unique<ScratchDir>());
        saves.push_back(makeManager(*roots.back(), {{0x101, "T"}, {0x301, "V"}, {0x501, "C"}, {0x701, "F"}}));
        ASSERT_EQ(saves.back()->start(), ZX_OK);
    }
    std::vector<std::thread> hosts;
    for (int h = 0; h < kHostThreads; ++h) {
        hosts.emplace_back([&, h] {
            std::vector<ZxCollectData> batch;
            for (std::int32_t first = 0; first < kRecords; first += 50) {
                for (int i = h; i < kSaves; i += kHostThreads) {
                    batch.clear();
                    for (std::int32_t n = first; n < first + 50; ++n) {
                        for (const std::uint32_t id : ids) {
                            batch.push_back(numberedRecord(id, n));
                        }
                    }
                    saves[i]->pushData(batch.data(), batch.size());
                }
            }
        });
    }
    for (std::thread& host : hosts) {
        host.join();
    }
    for (auto& save : saves) {
        ASSERT_EQ(save->stop(), ZX_OK);
    }
    for (const auto& saveRoot : roots) {
        for (int channel = 1; channel <= 6; ++channel) {
            const fs::path folder = saveRoot->path() / ("CH" + std::to_string(channel));
            for (const char* name : {"T_", "V_", "C_", "F_"}) {
                std::vector<fs::path> files;
                for (const fs::path& file : csvFiles(folder)) {
                    if (file.filename().string().rfind(name, 0) == 0) {
                        files.push_back(file);
                    }
                }
                const std::vector<std::int64_t> values = csvValues(files);
                ASSERT_EQ(values.size(), static_cast<std::size_t>(kRecords)) << folder << " " << name;
                for (std::int32_t n = 0; n < kRecords; ++n) {
                    ASSERT_EQ(values[n], static_cast<std::int64_t>(n) * 6 + channel - 1)
                        << folder << " " << name;
                }
            }
        }
    }
}

TEST(CollectorFileManagerSharedWriters, ASaveWhoseFilesCannotOpenDoesNotHoldUpTheOthers) {
    ScratchDir scratch;
    const fs::path blocked = scratch.path() / "blocked";
    writeFile(blocked, "a plain file where the root folder should be");
    LogCapture log;
    auto stuck = std::make_unique<ZxCollectorFileManager>();
    stuck->setFileInfo(blocked.string(), 10);
    stuck->setIdMapping({{0x101, "Stuck"}});
    ScratchDir goodRoot;
    auto good = makeManager(goodRoot, {{0x101, "Good"}});
    ASSERT_EQ(stuck->start(), ZX_OK);
    ASSERT_EQ(good->start(), ZX_OK);
    std::vector<ZxCollectData> records;
    for (std::int32_t i = 0; i < 1000; ++i) {
        records.push_back(numberedRecord(0x101, i));
    }
    ASSERT_EQ(stuck->pushData(records.data(), records.size()), ZX_OK);
    ASSERT_EQ(good->pushData(records.data(), records.size()), ZX_OK);
    // While both run, the good one's lines reach its files and the stuck one keeps failing.
    ASSERT_TRUE(pollUntil([&] {
        const auto files = csvFiles(goodRoot.path() / "CH6");
        return files.size() == 1 && csvValues(files).size() == 1000;
    }));
    EXPECT_NE(log.peek().find("Failed to open file: "), std::string::npos);
    ASSERT_EQ(stuck->stop(), ZX_OK);
    ASSERT_EQ(good->stop(), ZX_OK);
    expectEveryRecordOnceInOrder(goodRoot.path(), 1000);
}

TEST(CollectorFileManagerBounds, RecordsBeyondTheQueueBoundAreDroppedCountedAndReported) {
    ScratchDir root;
    LogCapture log;
    auto manager = std::make_unique<ZxCollectorFileManager>(1000);
    manager->setFileInfo(root.str(), 10);
    manager->setIdMapping({{0x101, "Bounded"}});
    ASSERT_EQ(manager->start(), ZX_OK);
    std::vector<ZxCollectData> records;
    for (std::int32_t i = 0; i < 5000; ++i) {
        records.push_back(numberedRecord(0x101, i));
    }
    // One push far beyond the bound: the first 1000 are kept, in order.
    ASSERT_EQ(manager->pushData(records.data(), records.size()), ZX_OK);
    ASSERT_EQ(manager->stop(), ZX_OK);
    expectEveryRecordOnceInOrder(root.path(), 1000);
    const std::string text = log.text();
    EXPECT_NE(text.find("[W] "), std::string::npos);
    EXPECT_NE(text.find("Dropped 4000 records for saving (4000 in this save): 1000 records already wait"),
              std::string::npos)
        << text;
}

} // namespace
