#include "filesave/ZxChannelFileManager.h"
#include "filesave/LocalTimeText.h"
#include "filesave/ZxOpenFileCache.h"
#include "filesave/ZxPointBudget.h"
#include "tests/support/CsvFiles.h"
#include "tests/support/LogCapture.h"
#include "tests/support/PollUntil.h"
#include "tests/support/TempDir.h"
#include "zxcollector_api.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <ctime>
#include <memory>
#include <regex>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace zxtest;

namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;
constexpr const char* kHeader = "Timestamp,Current_mA\n";
using WriteMode = ZxChannelFileManager::WriteMode;

ZxChannelDataPoint point(const std::string& timestamp, std::int32_t value) {
    ZxChannelDataPoint p{};
    std::strncpy(p.timestamp, timestamp.c_str(), sizeof(p.timestamp) - 1);
    p.timestampLength = static_cast<std::uint32_t>(std::strlen(p.timestamp));
    p.value = value;
    return p;
}

// What a stop does to each writer: everything pending is written, the file closed.
void finish(ZxChannelFileManager& writer) {
    ZxFileSaveScratch scratch;
    writer.writePending(scratch, WriteMode::Final);
}

// The whole content of the one file a writer of channel 2 leaves in CH2 (in the root
// when a file is in the way of CH2), or no file at all.
TEST(ChannelFileManagerCsv, PointsBecomeLinesInQueueOrderNoValuePointsNone) {
    struct Case {
        std::vector<ZxChannelDataPoint> points;
        const char* content; // nullptr: neither folder nor file
        bool folderBlocked = false;
    };
    const Case cases[] = {
        {{point("09:30:05.000001", 5), point("09:30:05.000002", -7), point("09:30:05.000003", ZX_NO_VALUE),
          point("09:30:05.000004", INT32_MIN), point("09:30:05.000005", 0),
          point("09:30:05.000006", INT32_MAX), point("", 10)},
         "09:30:05.000001,5\n09:30:05.000002,-7\n09:30:05.000004,-2147483648\n09:30:05.000005,0\n"
         "09:30:05.000006,2147483647\n,10\n"},
        {{point("t1", ZX_NO_VALUE), point("t2", ZX_NO_VALUE)}, ""}, // the header alone
        {{}, nullptr},
        {{point("t", 42)}, "t,42\n", true},
    };
    for (const Case& c : cases) {
        TempDir root;
        if (c.folderBlocked) {
            writeFile(root / "CH2", "in the way");
        }
        LogCapture log;
        {
            ZxChannelFileManager writer(root.string(), 2, "Probe A", 10);
            writer.pushPoints(c.points.data(), c.points.size());
            finish(writer);
        }
        if (c.content == nullptr) {
            EXPECT_TRUE(fs::is_empty(root.path()));
            continue;
        }
        const auto files = csvFiles(c.folderBlocked ? root.path() : root / "CH2");
        ASSERT_EQ(files.size(), 1u);
        EXPECT_TRUE(
            std::regex_match(files[0].filename().string(), std::regex(R"(Probe A_\d{6}_\d{6}_1\.csv)")))
            << files[0];
        EXPECT_EQ(readFile(files[0]), kHeader + std::string(c.content));
        EXPECT_EQ(log.hasLine(3, "Failed to create directory " + (root / "CH2").string() + ": "),
                  c.folderBlocked);
        EXPECT_TRUE(log.hasLine(1, "File closed: " + files[0].string()));
    }
}

TEST(ChannelFileManagerCsv, NextFileIsOpenedAtOnceWhenTheLimitIsReached) {
    TempDir root;
    // Lines "t,NN" of 5 bytes: the header plus this many lines make exactly 1 MiB.
    constexpr std::size_t kLines = (kMiB - 21) / 5;
    static_assert(21 + kLines * 5 == kMiB);
    std::vector<ZxChannelDataPoint> points;
    for (std::size_t i = 0; i < kLines; ++i) {
        points.push_back(point("t", static_cast<std::int32_t>(10 + i % 90)));
    }
    auto writer = std::make_unique<ZxChannelFileManager>(root.string(), 4, "Big", 1);
    writer->pushPoints(points.data(), points.size());
    ZxFileSaveScratch scratch;
    writer->writePending(scratch, WriteMode::All);
    const auto files = csvFiles(root / "CH4");
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(csvFileIndex(files[1]), 2);
    EXPECT_EQ(fs::file_size(files[0]), kMiB); // closed at the rotation: complete on disk
    writer.reset();
    EXPECT_EQ(readFile(files[1]), kHeader);
    EXPECT_EQ(csvValues({files[0]}).size(), kLines);
}

// Another save, or a restart within the same second, never truncates a file.
TEST(ChannelFileManagerPaths, ExistingFileIsNeverTruncatedTheWriterTakesTheNextIndex) {
    TempDir root;
    fs::create_directories(root / "CH5");
    // Occupy index 1 of the next few seconds, whichever second the writer opens in.
    for (std::time_t t = std::time(nullptr), end = t + 5; t <= end; ++t) {
        char text[LocalTimeText::kCapacity];
        LocalTimeText::format(t, text);
        writeFile(root / "CH5" / (std::string("Dup_") + text + "_1.csv"), "someone else's\n");
    }
    {
        ZxChannelFileManager writer(root.string(), 5, "Dup", 10);
        const ZxChannelDataPoint p = point("t", 1);
        writer.pushPoints(&p, 1);
        finish(writer);
    }
    int ours = 0;
    for (const fs::path& file : csvFiles(root / "CH5")) {
        const bool theirs = csvFileIndex(file) == 1;
        EXPECT_EQ(readFile(file), theirs ? "someone else's\n" : kHeader + std::string("t,1\n")) << file;
        ours += theirs ? 0 : 1;
    }
    EXPECT_EQ(ours, 1);
}

// The writers of a save share one budget of waiting points, within the process's
// ceiling: what is beyond either is dropped and reported, never held.
TEST(ChannelFileManagerPaths, PointsWaitingForFilesShareTheSaveBudgetWithinTheProcessCeiling) {
    struct Case {
        const char* name;
        std::size_t savePoints;
        std::size_t ceilingPoints;
        std::size_t heldByOtherSaves;
        std::size_t waiting; // of the 3 x 500 points pushed
    };
    const Case cases[] = {
        {"save budget", 1000, 1u << 20, 0, 1000},
        {"process ceiling", 1u << 20, 1200, 1000, 200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir scratchDir;
        const fs::path root = scratchDir / "never";
        writeFile(root, "a plain file where the root folder should be");
        LogCapture log;
        ZxPointBudget::Ceiling ceiling(c.ceilingPoints);
        ZxPointBudget otherSaves(c.heldByOtherSaves, ceiling);
        for (std::size_t i = 0; i < c.heldByOtherSaves; ++i) {
            ASSERT_TRUE(otherSaves.take());
        }
        ZxOpenFileCache openFiles;
        ZxPointBudget budget(c.savePoints, ceiling);
        {
            std::vector<std::unique_ptr<ZxChannelFileManager>> writers;
            ZxFileSaveScratch scratch;
            for (int channel = 1; channel <= 3; ++channel) {
                writers.push_back(std::make_unique<ZxChannelFileManager>(root.string(), channel, "Stuck", 10,
                                                                         openFiles, budget));
                std::vector<ZxChannelDataPoint> points(500, point("t", channel));
                writers.back()->pushPoints(points.data(), points.size());
                writers.back()->writePending(scratch, WriteMode::All); // the open fails
            }
            std::size_t waiting = 0;
            for (const auto& writer : writers) {
                waiting += writer->pendingPoints();
            }
            EXPECT_EQ(waiting, c.waiting);
            EXPECT_EQ(budget.waiting(), c.waiting);
            for (const auto& writer : writers) {
                writer->writePending(scratch, WriteMode::Final);
            }
        }
        EXPECT_EQ(budget.waiting(), 0u) << "discarded points give their room back";
        EXPECT_TRUE(std::regex_search(
            log.text(), std::regex(R"(Failed to open file: .*Stuck_\d{6}_\d{6}_1\.csv \(.+\))")));
        // The last writer found no room at all: one line at the first drop, the rest at stop.
        EXPECT_TRUE(log.hasLine(3, "Dropped 1 points for CH3/'Stuck' (1 in this save): no file could be "
                                   "opened and " +
                                       std::to_string(c.waiting) + " points already wait"));
        EXPECT_TRUE(log.hasLine(3, "Dropped 499 points for CH3/'Stuck' (500 in this save)"));
    }
}

} // namespace
