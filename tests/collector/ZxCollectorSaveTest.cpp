// Saving through the collector manager: the records the host reads end up in the CSV
// files once each, across start, restart, stop, reset and close.
#include "tests/support/LogCapture.h"
#include "tests/collector/CollectorOnBox.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

constexpr const char* kMapping = "# probes\n0x101,Probe A\n";

// Values of every CSV line below root, per measurement channel 1..6. A file that does
// not start with the header or does not end with a complete line fails the test.
std::map<int, std::vector<std::int64_t>> savedValues(const std::filesystem::path& root) {
    std::map<int, std::vector<std::int64_t>> values;
    if (!std::filesystem::exists(root)) {
        return values;
    }
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file() || entry.path().extension() != ".csv") {
            continue;
        }
        const std::string folder = entry.path().parent_path().filename().string();
        EXPECT_EQ(folder.rfind("CH", 0), 0u) << entry.path();
        const int channel = std::stoi(folder.substr(2));
        std::ifstream file(entry.path(), std::ios::binary);
        std::stringstream content;
        content << file.rdbuf();
        const std::string text = content.str();
        EXPECT_EQ(text.rfind("Timestamp,Current_mA\n", 0), 0u) << entry.path();
        EXPECT_TRUE(!text.empty() && text.back() == '\n') << "incomplete last line in " << entry.path();
        std::istringstream lines(text);
        std::string line;
        std::getline(lines, line); // header
        while (std::getline(lines, line)) {
            const std::size_t comma = line.rfind(',');
            EXPECT_NE(comma, std::string::npos) << line;
            values[channel].push_back(std::stoll(line.substr(comma + 1)));
        }
    }
    return values;
}

// Every value that the streaming box sent for frames [0, frames) is saved exactly once.
void expectEveryValueOnce(const std::filesystem::path& root, std::uint64_t frames) {
    auto values = savedValues(root);
    for (int channel = 1; channel <= 6; ++channel) {
        std::vector<std::int64_t>& saved = values[channel];
        std::sort(saved.begin(), saved.end());
        ASSERT_EQ(saved.size(), frames) << "CH" << channel;
        for (std::uint64_t c = 0; c < frames; ++c) {
            ASSERT_EQ(saved[c], static_cast<std::int64_t>(c * 8 + channel - 1)) << "CH" << channel;
        }
    }
}

class SavingOnStreamingBox : public CollectorOnStreamingBox {
protected:
    std::int32_t startSaving(const char* mapping = kMapping) {
        return collector().startSaveFile(kDevice, kChannel, root_.string().c_str(), mapping, 10);
    }

    zxtest::TempDir root_;
};

TEST_F(SavingOnStreamingBox, EveryRecordReadWhileSavingIsSavedOnce) {
    ASSERT_EQ(startSaving(), 0);
    ASSERT_EQ(readRecords(kFrames, 30s).size(), kFrames);
    ASSERT_EQ(collector().stopSaveFile(kDevice, kChannel), 0);
    expectEveryValueOnce(root_.path(), kFrames);
}

TEST_F(SavingOnStreamingBox, SecondStartEndsTheFirstSaveWithItsFilesComplete) {
    LogCapture log;
    ASSERT_EQ(startSaving(), 0);
    ASSERT_EQ(readRecords(kFrames / 2, 30s).size(), kFrames / 2);
    ASSERT_EQ(startSaving(), 0);
    EXPECT_TRUE(log.contains("File saving stopped for DEV0 CH0"));
    ASSERT_EQ(readRecords(kFrames - kFrames / 2, 30s).size(), kFrames - kFrames / 2);
    ASSERT_EQ(collector().stopSaveFile(kDevice, kChannel), 0);
    expectEveryValueOnce(root_.path(), kFrames);
}

TEST_F(SavingOnStreamingBox, ResettingTheChannelEndsTheSaveWithFilesComplete) {
    ASSERT_EQ(startSaving(), 0);
    ASSERT_EQ(readRecords(kFrames, 30s).size(), kFrames);
    EXPECT_EQ(collector().resetReader(kDevice, kChannel), 0);
    expectEveryValueOnce(root_.path(), kFrames);
    EXPECT_EQ(collector().stopSaveFile(kDevice, kChannel), ZX_ERR_NO_READER);
}

TEST_F(SavingOnStreamingBox, ClosingTheDeviceReadersEndsTheSaveWithFilesComplete) {
    ASSERT_EQ(startSaving(), 0);
    ASSERT_EQ(readRecords(kFrames, 30s).size(), kFrames);
    EXPECT_EQ(collector().closeDeviceReaders(kDevice), 0);
    expectEveryValueOnce(root_.path(), kFrames);
}

TEST_F(SavingOnStreamingBox, RefusedStartsLeaveTheRunningSaveAlone) {
    zxtest::TempDir otherRoot;
    ASSERT_EQ(startSaving(), 0);
    EXPECT_EQ(collector().startSaveFile(kDevice, kChannel, nullptr, kMapping, 10),
              ZX_ERR_SAVE_NOT_CONFIGURED);
    EXPECT_EQ(collector().startSaveFile(kDevice, kChannel, otherRoot.string().c_str(), "id,Probe", 10),
              ZX_ERR_MAPPING_ID);
    // Names that would write outside the root, or two series into one file name.
    const std::string inner = (otherRoot.path() / "inner").string();
    for (const char* mapping : {"0x101,../escaped", "0x101,Probe\n0x102,Probe"}) {
        EXPECT_EQ(collector().startSaveFile(kDevice, kChannel, inner.c_str(), mapping, 10), ZX_ERR_MAPPING_ID)
            << mapping;
    }
    EXPECT_EQ(collector().startSaveFile(kDevice, 3, otherRoot.string().c_str(), kMapping, 10),
              ZX_ERR_NO_READER);
    ASSERT_EQ(readRecords(kFrames, 30s).size(), kFrames);
    ASSERT_EQ(collector().stopSaveFile(kDevice, kChannel), 0);
    expectEveryValueOnce(root_.path(), kFrames);
    EXPECT_TRUE(std::filesystem::is_empty(otherRoot.path()));
}

TEST_F(SavingOnStreamingBox, NullMappingEndsTheRunningSaveAndStartsNone) {
    LogCapture log;
    ASSERT_EQ(startSaving(), 0);
    EXPECT_EQ(startSaving(nullptr), ZX_ERR_SAVE_NOT_CONFIGURED);
    const std::string text = log.text();
    EXPECT_NE(text.find("File saving stopped for DEV0 CH0"), std::string::npos);
    EXPECT_NE(text.find("Failed to start file manager for DEV0 CH0. Error: -2"), std::string::npos);
}

TEST_F(SavingOnStreamingBox, StoppingWithoutSaveReturnsZeroSilently) {
    LogCapture log;
    EXPECT_EQ(collector().stopSaveFile(kDevice, kChannel), 0);
    EXPECT_FALSE(log.contains("File saving stopped"));
}

// The host is asked not to do this, but a read that overlaps a save start or stop on
// the same channel must neither crash nor save a record twice.
TEST_F(SavingOnStreamingBox, ReadingWhileSavingStartsAndStopsIsSafe) {
    std::atomic<std::size_t> read{0};
    std::thread reader([&] { read = readRecords(kFrames, 30s).size(); });
    for (int round = 0; round < 20; ++round) {
        EXPECT_EQ(startSaving(), 0);
        EXPECT_EQ(collector().stopSaveFile(kDevice, kChannel), 0);
    }
    reader.join();
    EXPECT_EQ(read.load(), kFrames);

    auto values = savedValues(root_.path());
    for (auto& [channel, saved] : values) {
        std::sort(saved.begin(), saved.end());
        EXPECT_EQ(std::adjacent_find(saved.begin(), saved.end()), saved.end()) << "a value saved twice";
        for (std::int64_t value : saved) {
            EXPECT_EQ(value % 8, channel - 1);
        }
    }
}

} // namespace
