// Saving through the exported functions against the box simulator: however a save
// ends, its CSV files are complete and hold exactly the records the host read.
#include "tests/support/CsvFiles.h"
#include "tests/support/InProcessSimulator.h"
#include "tests/support/PollUntil.h"
#include "tests/support/TempDir.h"
#include "zxcollector_api.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr uint32_t kDevice = 0;
constexpr uint32_t kChannel = 0;
constexpr const char* kMapping = "# probes\n0x101,T\n0x301,V\n"; // 0x501 and 0x701 are not mapped
constexpr std::size_t kFrames = 3000;
const std::pair<uint32_t, const char*> kNames[] = {{0x101, "T"}, {0x301, "V"}};

// Device 0 open, CAN channel 0 initialised; the box streams kFrames frames of its four
// default modules in turn (the voltage module leaves CH5 and CH6 without value).
class SavingTest : public zxtest::SimulatorTest {
protected:
    vcisim::VciSimulatorOptions simulatorOptions() const override {
        vcisim::VciSimulatorOptions options;
        options.busLoadIntervalMs = 0;
        options.rate = {true, 100000.0, kFrames};
        return options;
    }
    void SetUp() override {
        zxtest::SimulatorTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        ASSERT_EQ(ZxOpenDev(0, kDevice, 1), ZX_OK);
        ASSERT_EQ(ZxInitCAN(kDevice, kChannel, 500000), ZX_OK);
    }
    void TearDown() override {
        ZxCloseDev(0xFFFFFFFFu);
        zxtest::SimulatorTest::TearDown();
    }

    // Reads exactly count more records (never more) into read_.
    void read(std::size_t count) {
        const std::size_t target = read_.size() + count;
        std::vector<ZxCollectData> batch(1000);
        ASSERT_TRUE(zxtest::pollUntil(30s, [&] {
            while (read_.size() < target) {
                const auto wanted = static_cast<int32_t>(std::min(batch.size(), target - read_.size()));
                const int32_t n = ZxReadBuffer(kDevice, kChannel, batch.data(), wanted);
                if (n <= 0) {
                    return false;
                }
                read_.insert(read_.end(), batch.begin(), batch.begin() + n);
            }
            return true;
        }));
    }

    // Each CH folder below root holds one file per mapped name, with the header and a
    // line for every value of the first `count` records read with that identifier.
    void expectSaved(const fs::path& root, std::size_t count) {
        const std::vector<ZxCollectData> firstRead(read_.begin(), read_.begin() + count);
        for (int channel = 1; channel <= 6; ++channel) {
            const fs::path folder = root / ("CH" + std::to_string(channel));
            EXPECT_EQ(zxtest::csvFiles(folder).size(), std::size(kNames)) << folder;
            for (const auto& [id, name] : kNames) {
                const auto files = zxtest::csvFiles(folder, std::string(name) + "_");
                ASSERT_EQ(files.size(), 1u) << folder << " " << name;
                EXPECT_EQ(zxtest::readFile(files[0]), zxtest::expectedCsv(firstRead, id, channel))
                    << files[0];
            }
        }
    }

    std::vector<ZxCollectData> read_;
    zxtest::TempDir root_;
};

struct SaveEnd {
    const char* name;
    std::int32_t (*end)(const char* otherRoot);
};

class HowASaveEnds : public SavingTest, public ::testing::WithParamInterface<SaveEnd> {};

TEST_P(HowASaveEnds, FilesAreCompleteAndHoldExactlyTheRecordsRead) {
    zxtest::TempDir other;
    ASSERT_EQ(ZxStartSaveFile(kDevice, kChannel, root_.string().c_str(), kMapping, 10), ZX_OK);
    read(kFrames);
    EXPECT_EQ(GetParam().end(other.string().c_str()), ZX_OK);
    expectSaved(root_.path(), read_.size());
}

const SaveEnd kSaveEnds[] = {
    {"ZxStopSaveFile", [](const char*) { return ZxStopSaveFile(kDevice, kChannel); }},
    {"SecondZxStartSaveFile",
     [](const char* otherRoot) { return ZxStartSaveFile(kDevice, kChannel, otherRoot, kMapping, 10); }},
    {"ZxResetCAN", [](const char*) { return ZxResetCAN(kDevice, kChannel); }},
    {"ZxCloseDev", [](const char*) { return ZxCloseDev(kDevice); }},
};
INSTANTIATE_TEST_SUITE_P(All, HowASaveEnds, ::testing::ValuesIn(kSaveEnds),
                         [](const auto& info) { return std::string(info.param.name); });

// Hosts like LabVIEW, .NET and Python call from whichever thread of their pool is free:
// two threads taking turns at reading (one read at a time, under the host's own lock)
// get one series of lines per file, in the order the reads handed the records over.
class SavingFromTwoHostThreads : public SavingTest {
protected:
    static constexpr std::size_t kManyFrames = 30000;
    vcisim::VciSimulatorOptions simulatorOptions() const override {
        vcisim::VciSimulatorOptions options = SavingTest::simulatorOptions();
        options.rate.frameCount = kManyFrames;
        options.uniqueValues = true;
        return options;
    }
};

TEST_F(SavingFromTwoHostThreads, KeepsTheOrderOfTheReads) {
    ASSERT_EQ(ZxStartSaveFile(kDevice, kChannel, root_.string().c_str(), kMapping, 10), ZX_OK);
    std::mutex hostLock; // guards turn and read_
    std::condition_variable turnPassed;
    int turn = 0;
    const auto readInTurn = [&](int self) {
        std::vector<ZxCollectData> batch(100);
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        std::unique_lock<std::mutex> lock(hostLock);
        while (read_.size() < kManyFrames && std::chrono::steady_clock::now() < deadline) {
            turnPassed.wait(lock, [&] { return turn == self || read_.size() >= kManyFrames; });
            const auto wanted = static_cast<int32_t>(std::min(batch.size(), kManyFrames - read_.size()));
            const int32_t n = wanted > 0 ? ZxReadBuffer(kDevice, kChannel, batch.data(), wanted) : 0;
            if (n > 0) {
                read_.insert(read_.end(), batch.begin(), batch.begin() + n);
            }
            turn = 1 - self;
            turnPassed.notify_all();
        }
    };
    std::thread other(readInTurn, 1);
    readInTurn(0);
    other.join();
    ASSERT_EQ(read_.size(), kManyFrames);
    EXPECT_EQ(ZxStopSaveFile(kDevice, kChannel), ZX_OK);
    expectSaved(root_.path(), read_.size());
}

struct RefusedStart {
    const char* name;
    uint32_t channel;
    const char* root; // "inner": a folder below a fresh temporary one
    const char* mapping;
    std::int32_t code;
    bool saveGoesOn; // else the running save ends and none starts
};

class RefusedStarts : public SavingTest, public ::testing::WithParamInterface<RefusedStart> {};

// A start that is refused creates nothing; the running save goes on unless the
// arguments were taken and only the new save could not start.
TEST_P(RefusedStarts, LeaveTheRunningSaveAloneOrEndIt) {
    const RefusedStart& c = GetParam();
    zxtest::TempDir other;
    const std::string inner = (other / "inner").string();
    ASSERT_EQ(ZxStartSaveFile(kDevice, kChannel, root_.string().c_str(), kMapping, 10), ZX_OK);
    read(kFrames / 2);
    const bool useInner = c.root != nullptr && std::string(c.root) == "inner";
    EXPECT_EQ(ZxStartSaveFile(kDevice, c.channel, useInner ? inner.c_str() : c.root, c.mapping, 10), c.code);
    read(kFrames - kFrames / 2);
    EXPECT_EQ(ZxStopSaveFile(kDevice, kChannel), ZX_OK);
    EXPECT_EQ(ZxStopSaveFile(kDevice, kChannel), ZX_OK); // nothing to stop
    expectSaved(root_.path(), c.saveGoesOn ? kFrames : kFrames / 2);
    EXPECT_FALSE(fs::exists(inner));
}

const RefusedStart kRefusedStarts[] = {
    {"NullRoot", kChannel, nullptr, kMapping, ZX_ERR_SAVE_NOT_CONFIGURED, true},
    {"SharedName", kChannel, "inner", "0x101,T\n0x301,t\n", ZX_ERR_MAPPING_ID, true},
    {"ChannelWithoutReader", 3, "inner", kMapping, ZX_ERR_NO_READER, true},
    {"EmptyRoot", kChannel, "", kMapping, ZX_ERR_SAVE_NOT_CONFIGURED, false},
    {"NullMapping", kChannel, "inner", nullptr, ZX_ERR_SAVE_NOT_CONFIGURED, false},
    {"OnlyComments", kChannel, "inner", "# none\n\n", ZX_ERR_SAVE_NOT_CONFIGURED, false},
};
INSTANTIATE_TEST_SUITE_P(All, RefusedStarts, ::testing::ValuesIn(kRefusedStarts),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
