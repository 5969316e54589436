#include "filesave/ZxChannelFileManager.h"
#include "filesave/LocalTimeText.h"
#include "filesave/ZxFileSaveScratch.h"
#include "tests/filesave/FileSaveTestSupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <ctime>
#include <memory>
#include <regex>

namespace fs = std::filesystem;
using namespace filesavetest;

namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;
using WriteMode = ZxChannelFileManager::WriteMode;

// What a stop does to each writer: everything pending is written, the file closed.
void finish(ZxChannelFileManager& writer) {
    ZxFileSaveScratch scratch;
    writer.writePending(scratch, WriteMode::Final);
}

TEST(ChannelFileManagerCsv, HeaderAndLinesAreWrittenByteForByteInQueueOrder) {
    ScratchDir root;
    {
        ZxChannelFileManager writer(root.str(), 2, "Probe A", 10);
        const ZxChannelDataPoint points[] = {
            makePoint("2026-03-14 09:30:05.000001", 5),
            makePoint("2026-03-14 09:30:05.000002", -7),
            makePoint("2026-03-14 09:30:05.000003", ZX_NO_VALUE),
            makePoint("2026-03-14 09:30:05.000004", INT32_MIN),
            makePoint("2026-03-14 09:30:05.000005", 0),
            makePoint("2026-03-14 09:30:05.000006", INT32_MAX),
            makePoint("", 10),
        };
        writer.pushPoints(points, std::size(points));
        finish(writer);
    }

    const std::vector<fs::path> files = csvFiles(root.path() / "CH2");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(std::regex_match(files[0].filename().string(), std::regex(R"(Probe A_\d{6}_\d{6}_1\.csv)")))
        << files[0];
    EXPECT_EQ(readFile(files[0]), "Timestamp,Current_mA\n"
                                  "2026-03-14 09:30:05.000001,5\n"
                                  "2026-03-14 09:30:05.000002,-7\n"
                                  "2026-03-14 09:30:05.000004,-2147483648\n"
                                  "2026-03-14 09:30:05.000005,0\n"
                                  "2026-03-14 09:30:05.000006,2147483647\n"
                                  ",10\n");
    EXPECT_EQ(std::string(ZxChannelFileManager::kHeader).size(), 21u);
}

TEST(ChannelFileManagerCsv, OnlyNoValuePointsStillOpenTheFileWithItsHeader) {
    ScratchDir root;
    {
        ZxChannelFileManager writer(root.str(), 1, "Empty", 10);
        const ZxChannelDataPoint points[] = {makePoint("t1", ZX_NO_VALUE), makePoint("t2", ZX_NO_VALUE)};
        writer.pushPoints(points, std::size(points));
        finish(writer);
    }
    const std::vector<fs::path> files = csvFiles(root.path() / "CH1");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(readFile(files[0]), "Timestamp,Current_mA\n");
}

TEST(ChannelFileManagerCsv, ChannelWithoutPointsCreatesNeitherFolderNorFile) {
    ScratchDir root;
    {
        ZxChannelFileManager writer(root.str(), 3, "Silent", 10);
        finish(writer);
    }
    EXPECT_TRUE(fs::is_empty(root.path()));
}

TEST(ChannelFileManagerRotation, NextFileIsOpenedAtOnceWhenTheLimitIsReached) {
    ScratchDir root;
    // Lines "t,NN" of 5 bytes: the header plus 209711 lines make exactly 1 MiB, reached
    // with the very last line.
    constexpr std::size_t kLines = (kMiB - 21) / 5;
    static_assert(21 + kLines * 5 == kMiB);
    std::vector<ZxChannelDataPoint> points;
    for (std::size_t i = 0; i < kLines; ++i) {
        points.push_back(makePoint("t", static_cast<std::int32_t>(10 + i % 90)));
    }
    auto writer = std::make_unique<ZxChannelFileManager>(root.str(), 4, "Big", 1);
    EXPECT_EQ(writer->maxFileBytes(), kMiB);
    writer->pushPoints(points.data(), points.size());
    ZxFileSaveScratch scratch;
    writer->writePending(scratch, WriteMode::All);

    const fs::path folder = root.path() / "CH4";
    const std::vector<fs::path> whileRunning = csvFiles(folder);
    ASSERT_EQ(whileRunning.size(), 2u);
    EXPECT_EQ(fileIndexOf(whileRunning[0]), 1);
    EXPECT_EQ(fileIndexOf(whileRunning[1]), 2);
    // The first file was closed at the rotation: complete on disk already.
    EXPECT_EQ(fs::file_size(whileRunning[0]), kMiB);

    finish(*writer);
    writer.reset();
    const std::vector<fs::path> files = csvFiles(folder);
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(readFile(files[1]), "Timestamp,Current_mA\n");
    const std::vector<std::int64_t> values = csvValues({files[0]});
    ASSERT_EQ(values.size(), kLines);
    EXPECT_EQ(values.front(), 10);
    EXPECT_EQ(values.back(), static_cast<std::int64_t>(10 + (kLines - 1) % 90));
}

TEST(ChannelFileManagerSize, SizesOutsideOneToOneThousandTwentyFourMiBBecomeTenMiBWithAWarning) {
    ScratchDir root;
    LogCapture log;
    EXPECT_EQ(ZxChannelFileManager(root.str(), 1, "a", 0).maxFileBytes(), 10 * kMiB);
    EXPECT_EQ(ZxChannelFileManager(root.str(), 1, "b", 2000).maxFileBytes(), 10 * kMiB);
    EXPECT_EQ(ZxChannelFileManager(root.str(), 1, "c", 1).maxFileBytes(), kMiB);
    EXPECT_EQ(ZxChannelFileManager(root.str(), 1, "d", 1024).maxFileBytes(), 1024 * kMiB);
    const std::string text = log.text();
    EXPECT_NE(text.find("[W]"), std::string::npos);
    EXPECT_NE(text.find("Invalid file size (0M), corrected"), std::string::npos);
    EXPECT_NE(text.find("Invalid file size (2000M), corrected"), std::string::npos);
    EXPECT_EQ(text.find("Invalid file size (1M)"), std::string::npos);
    EXPECT_EQ(text.find("Invalid file size (1024M)"), std::string::npos);
}

TEST(ChannelFileManagerPaths, FileGoesIntoTheRootWhenTheChannelFolderCannotBeCreated) {
    ScratchDir root;
    writeFile(root.path() / "CH1", "in the way");
    LogCapture log;
    {
        ZxChannelFileManager writer(root.str(), 1, "Fallback", 10);
        const ZxChannelDataPoint point = makePoint("t", 42);
        writer.pushPoints(&point, 1);
        finish(writer);
    }
    EXPECT_EQ(readFile(root.path() / "CH1"), "in the way");
    const std::vector<fs::path> files = csvFiles(root.path());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(readFile(files[0]), "Timestamp,Current_mA\nt,42\n");
    const std::string text = log.text();
    EXPECT_NE(text.find("[E] "), std::string::npos);
    EXPECT_NE(text.find("Failed to create directory " + (root.path() / "CH1").string() + ": "),
              std::string::npos);
    EXPECT_NE(text.find("File opened: " + files[0].string()), std::string::npos);
    EXPECT_NE(text.find("File closed: " + files[0].string()), std::string::npos);
}

TEST(ChannelFileManagerPaths, ExistingFileIsNeverTruncatedTheWriterTakesTheNextIndex) {
    ScratchDir root;
    const fs::path folder = root.path() / "CH5";
    fs::create_directories(folder);
    // The writer names its file after the second it opens it: occupy index 1 of the
    // next few seconds, so whichever second it opens in, the name is taken.
    const std::time_t now = std::time(nullptr);
    for (std::time_t t = now; t <= now + 5; ++t) {
        char text[LocalTimeText::kCapacity];
        LocalTimeText::format(t, text);
        writeFile(folder / (std::string("Dup_") + text + "_1.csv"), "someone else's data\n");
    }
    {
        ZxChannelFileManager writer(root.str(), 5, "Dup", 10);
        const ZxChannelDataPoint point = makePoint("t", 1);
        writer.pushPoints(&point, 1);
        finish(writer);
    }
    int ours = 0;
    for (const fs::path& file : csvFiles(folder)) {
        if (fileIndexOf(file) == 1) {
            EXPECT_EQ(readFile(file), "someone else's data\n") << file;
        } else {
            EXPECT_EQ(fileIndexOf(file), 2) << file;
            EXPECT_EQ(readFile(file), "Timestamp,Current_mA\nt,1\n");
            ++ours;
        }
    }
    EXPECT_EQ(ours, 1);
}

TEST(ChannelFileManagerPaths, TwoWritersWithTheSameNameKeepSeparateFiles) {
    ScratchDir root;
    {
        ZxChannelFileManager first(root.str(), 6, "Same", 10);
        ZxChannelFileManager second(root.str(), 6, "Same", 10);
        const ZxChannelDataPoint a = makePoint("a", 1);
        const ZxChannelDataPoint b = makePoint("b", 2);
        first.pushPoints(&a, 1);
        second.pushPoints(&b, 1);
        finish(first);
        finish(second);
    }
    std::vector<std::string> contents;
    for (const fs::path& file : csvFiles(root.path() / "CH6")) {
        contents.push_back(readFile(file));
    }
    std::sort(contents.begin(), contents.end());
    EXPECT_EQ(contents,
              (std::vector<std::string>{"Timestamp,Current_mA\na,1\n", "Timestamp,Current_mA\nb,2\n"}));
}

TEST(ChannelFileManagerPaths, PointsWaitForALaterPassWhenTheFileCannotBeOpened) {
    ScratchDir scratchDir;
    const fs::path root = scratchDir.path() / "later";
    writeFile(root, "a plain file where the root folder should be");
    LogCapture log;
    ZxChannelFileManager writer(root.string(), 1, "Late", 10);
    ZxFileSaveScratch scratch;
    const ZxChannelDataPoint points[] = {makePoint("a", 1), makePoint("b", 2)};
    writer.pushPoints(points, std::size(points));
    writer.writePending(scratch, WriteMode::All);
    // The reason the system gave comes with the path.
    EXPECT_TRUE(std::regex_search(
        log.peek(), std::regex(R"(\[E\] .*Failed to open file: .*Late_\d{6}_\d{6}_1\.csv \(.+\))")))
        << log.peek();

    fs::remove(root);
    const ZxChannelDataPoint more = makePoint("c", 3);
    writer.pushPoints(&more, 1);
    // The next attempt comes with a later pass.
    ASSERT_TRUE(pollUntil([&] {
        writer.writePending(scratch, WriteMode::All);
        return csvFiles(root / "CH1").size() == 1;
    }));
    finish(writer);
    EXPECT_EQ(csvValues(csvFiles(root / "CH1")), (std::vector<std::int64_t>{1, 2, 3}));
}

TEST(ChannelFileManagerPaths, PointsWaitingForAFileAreBoundedTheRestIsDroppedAndReported) {
    ScratchDir scratchDir;
    const fs::path root = scratchDir.path() / "never";
    writeFile(root, "a plain file where the root folder should be");
    LogCapture log;
    constexpr std::size_t kBound = ZxChannelFileManager::kMaxBacklogPoints;
    constexpr std::size_t kBeyond = 1000;
    {
        ZxChannelFileManager writer(root.string(), 1, "Stuck", 10);
        ZxFileSaveScratch scratch;
        const ZxChannelDataPoint first = makePoint("t", 1);
        writer.pushPoints(&first, 1);
        writer.writePending(scratch, WriteMode::All); // the open fails
        std::vector<ZxChannelDataPoint> points(kBound - 1 + kBeyond, makePoint("t", 2));
        writer.pushPoints(points.data(), points.size());
        EXPECT_EQ(writer.pendingPoints(), kBound);
        finish(writer);
    }
    const std::string text = log.text();
    // One line as the bound is first passed, the rest counted into the line at stop.
    EXPECT_NE(text.find("[E] "), std::string::npos);
    EXPECT_NE(text.find("Dropped 1 points for CH1/'Stuck' (1 in this save): no file could be opened"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("Dropped " + std::to_string(kBeyond - 1) + " points for CH1/'Stuck' (" +
                        std::to_string(kBeyond) + " in this save)"),
              std::string::npos);
    EXPECT_NE(text.find("Discarded " + std::to_string(kBound) + " points for CH1/'Stuck'"),
              std::string::npos);
}

TEST(ChannelFileManagerPaths, StopWithoutAWritableFolderDiscardsThePointsWithOneMessage) {
    ScratchDir scratch;
    const fs::path root = scratch.path() / "never";
    writeFile(root, "a plain file where the root folder should be");
    LogCapture log;
    {
        ZxChannelFileManager writer(root.string(), 1, "Lost", 10);
        std::vector<ZxChannelDataPoint> points(10000, makePoint("t", 5));
        writer.pushPoints(points.data(), points.size());
        finish(writer);
    }
    const std::string text = log.text();
    EXPECT_NE(text.find("Discarded 10000 points for CH1/'Lost': no file could be opened"), std::string::npos);
}

TEST(ChannelFileManagerDrain, EveryQueuedPointIsWrittenAtDestructionWhateverTheRate) {
    ScratchDir root;
    // Far more than two passes of 4096 points, all queued just before destruction.
    constexpr int kPoints = 100000;
    std::vector<ZxChannelDataPoint> points;
    for (int i = 0; i < kPoints; ++i) {
        points.push_back(makePoint("ts", i));
    }
    {
        ZxChannelFileManager writer(root.str(), 1, "Fast", 10);
        writer.pushPoints(points.data(), points.size());
        finish(writer);
    }
    const std::vector<std::int64_t> values = csvValues(csvFiles(root.path() / "CH1"));
    ASSERT_EQ(values.size(), static_cast<std::size_t>(kPoints));
    for (int i = 0; i < kPoints; ++i) {
        ASSERT_EQ(values[i], i);
    }
}

} // namespace
