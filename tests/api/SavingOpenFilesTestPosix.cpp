// A save of many identifiers through the exported functions, under the common limit
// of 1,024 open files: the host can still open its own files while the save runs, and
// every record read is in the CSV files.
#include "tests/support/CsvFiles.h"
#include "tests/support/InProcessSimulator.h"
#include "tests/support/PollUntil.h"
#include "tests/support/TempDir.h"
#include "zxcollector_api.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr std::uint32_t kIdentifiers = 200; // 1,200 series of files
constexpr std::uint32_t kFirstIdentifier = 0x200;
constexpr std::uint64_t kFrames = 40000; // 200 records per identifier
constexpr std::size_t kHostFiles = 600;

std::string nameOf(std::uint32_t identifier) {
    return "Id" + std::to_string(identifier);
}

// The soft limit of open files lowered for the test, as `ulimit -n` does.
class OpenFileLimit {
public:
    explicit OpenFileLimit(rlim_t soft) {
        ::getrlimit(RLIMIT_NOFILE, &saved_);
        rlimit lowered = saved_;
        lowered.rlim_cur = soft;
        ok_ = ::setrlimit(RLIMIT_NOFILE, &lowered) == 0;
    }
    ~OpenFileLimit() { ::setrlimit(RLIMIT_NOFILE, &saved_); }
    bool ok() const { return ok_; }

private:
    rlimit saved_{};
    bool ok_ = false;
};

class SavingManyIdentifiers : public zxtest::SimulatorTest {
protected:
    vcisim::VciSimulatorOptions simulatorOptions() const override {
        vcisim::VciSimulatorOptions options;
        options.busLoadIntervalMs = 0;
        options.uniqueValues = true;
        options.modules.clear();
        for (std::uint32_t i = 0; i < kIdentifiers; ++i) {
            options.modules.push_back(
                {vcisim::ModuleKind::Temperature, kFirstIdentifier + i, 100, 0x3F, false});
        }
        options.rate = {true, 20000.0, kFrames};
        return options;
    }

    // Reads what the box has sent so far; true once every frame was read.
    bool readAvailable() {
        std::vector<ZxCollectData> batch(1000);
        for (;;) {
            const int32_t n = ZxReadBuffer(0, 0, batch.data(), static_cast<int32_t>(batch.size()));
            if (n <= 0) {
                return read_.size() >= kFrames;
            }
            read_.insert(read_.end(), batch.begin(), batch.begin() + n);
        }
    }

    std::vector<ZxCollectData> read_;
};

TEST_F(SavingManyIdentifiers, UnderALimitOf1024OpenFilesTheHostOpensItsOwnAndEveryRecordIsSaved) {
    OpenFileLimit limit(1024);
    ASSERT_TRUE(limit.ok());
    zxtest::TempDir root;
    zxtest::TempDir hostFolder;
    std::string mapping;
    for (std::uint32_t i = 0; i < kIdentifiers; ++i) {
        mapping +=
            "0x" + fmt::format("{:X}", kFirstIdentifier + i) + "," + nameOf(kFirstIdentifier + i) + "\n";
    }
    ASSERT_EQ(ZxOpenDev(0, 0, 1), ZX_OK);
    ASSERT_EQ(ZxInitCAN(0, 0, 500000), ZX_OK);
    ASSERT_EQ(ZxStartSaveFile(0, 0, root.string().c_str(), mapping.c_str(), 10), ZX_OK);

    // Half of the 1,200 series have their file: the save is well under way.
    ASSERT_TRUE(zxtest::pollUntil(30s, [&] {
        readAvailable();
        return zxtest::csvFiles(root / "CH6").size() >= kIdentifiers / 2;
    }));
    std::vector<std::unique_ptr<std::FILE, int (*)(std::FILE*)>> hostFiles;
    for (std::size_t i = 0; i < kHostFiles; ++i) {
        const fs::path file = hostFolder / ("host" + std::to_string(i) + ".txt");
        hostFiles.emplace_back(std::fopen(file.c_str(), "w"), &std::fclose);
        ASSERT_NE(hostFiles.back(), nullptr) << "the host's file " << i << ": " << std::strerror(errno);
    }
    ASSERT_TRUE(zxtest::pollUntil(30s, [&] { return readAvailable(); }));
    EXPECT_EQ(ZxStopSaveFile(0, 0), ZX_OK);
    ZxCloseDev(0xFFFFFFFFu);
    hostFiles.clear();

    std::set<std::uint32_t> identifiers;
    for (const ZxCollectData& record : read_) {
        identifiers.insert(record.canId);
    }
    ASSERT_EQ(identifiers.size(), kIdentifiers);
    for (int channel = 1; channel <= 6; ++channel) {
        const fs::path folder = root / ("CH" + std::to_string(channel));
        for (const std::uint32_t identifier : identifiers) {
            const auto files = zxtest::csvFiles(folder, nameOf(identifier) + "_");
            ASSERT_EQ(files.size(), 1u) << folder << " " << nameOf(identifier);
            ASSERT_EQ(zxtest::readFile(files[0]), zxtest::expectedCsv(read_, identifier, channel))
                << files[0];
        }
    }
}

} // namespace
