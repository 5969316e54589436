// A host that calls the library from many threads at once, through the built shared
// object against the box simulator: readers, a thread that clears, one that resets and
// re-initialises the channel being read, one that starts and stops saving, module and
// terminal-resistor configuration on the same and on other channels and devices, and
// one that closes and reopens a whole device. For a bounded time: no crash, no hang,
// and every call returns one of its documented codes.
#include "tests/support/InProcessSimulator.h"
#include "tests/support/TempDir.h"
#include "zxcollector_api.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kRunTime = std::chrono::seconds(4);

// 0 and every bitwise OR of a non-empty subset of codes.
std::set<int32_t> orCombinations(const std::vector<int32_t>& codes) {
    std::set<int32_t> all{ZX_OK};
    for (const int32_t code : codes) {
        for (const int32_t known : std::set<int32_t>(all)) {
            all.insert(known | code);
        }
    }
    return all;
}

class ConcurrentHostTest : public zxtest::SimulatorTest {
protected:
    vcisim::VciSimulatorOptions simulatorOptions() const override {
        vcisim::VciSimulatorOptions options;
        options.deviceIndices = {0, 1};
        return options;
    }

    // Remembers a code that is not in the call's documented set.
    int32_t check(const std::string& call, int32_t result) {
        if (result < 0 && documented_.at(call).count(result) == 0) {
            std::lock_guard<std::mutex> lock(mutex_);
            unexpected_.push_back(call + " returned " + std::to_string(result));
        }
        return result;
    }

    const std::map<std::string, std::set<int32_t>> documented_{
        {"ZxReadBuffer",
         {ZX_ERR_INVALID_ARGUMENT, ZX_ERR_NO_BUFFER_MANAGER, ZX_ERR_NO_DATA, ZX_ERR_NO_READER}},
        {"ZxClearBuffer", {ZX_ERR_NO_BUFFER_MANAGER, ZX_ERR_UNKNOWN_CHANNEL, ZX_ERR_NO_READER}},
        {"ZxResetCAN", {ZX_ERR_DEVICE_NOT_OPEN, ZX_ERR_UNKNOWN_CHANNEL, ZX_ERR_CLOSE_CAN}},
        {"ZxInitCAN",
         {ZX_ERR_NO_CHANNEL_CONFIG, ZX_ERR_DEVICE_NOT_OPEN, ZX_ERR_NOT_CONNECTED, ZX_ERR_OPEN_CAN,
          ZX_ERR_CANFD_PARAM}},
        {"ZxStartSaveFile", {ZX_ERR_FILE_WRITER_CREATE, ZX_ERR_SAVE_EXCEPTION, ZX_ERR_NO_READER}},
        {"ZxStopSaveFile", {ZX_ERR_NO_READER}},
        {"ZxSetTerminalResistorCAN", {ZX_ERR_DEVICE_NOT_OPEN, ZX_ERR_TERMINAL_RESISTOR}},
        {"ZxSetModuleSamplingFrequency",
         orCombinations({ZX_ERR_MODULE_NO_BUFFERS, ZX_ERR_DEVICE_NOT_OPEN, ZX_ERR_MODULE_TIMEOUT,
                         ZX_ERR_MODULE_COMPLETE, ZX_ERR_MODULE_ENTER})},
        {"ZxCloseDev", orCombinations({ZX_ERR_UNKNOWN_CHANNEL, ZX_ERR_CLOSE_CAN, ZX_ERR_CLOSE_LIN,
                                       ZX_ERR_DEVICE_NOT_OPEN})},
        {"ZxOpenDev", {ZX_ERR_OPEN_DEVICE}},
    };
    std::mutex mutex_; // guards unexpected_
    std::vector<std::string> unexpected_;
};

// Every body runs on its own thread, in a loop until the time is up.
TEST_F(ConcurrentHostTest, EveryCallFromManyThreadsReturnsADocumentedCode) {
    for (uint32_t device : {0u, 1u}) {
        ASSERT_EQ(ZxOpenDev(0, device, 1), ZX_OK);
        ASSERT_EQ(ZxInitCAN(device, 0, 500000), ZX_OK);
        ASSERT_EQ(ZxInitCANFD(device, 1, 500000, 2000000), ZX_OK);
    }
    zxtest::TempDir folder;
    const std::string root = folder.string();
    std::atomic<long> recordsRead{0};
    const auto reader = [&](uint32_t device, uint32_t channel) {
        return [&, device, channel] {
            ZxCollectData records[256];
            recordsRead += std::max(check("ZxReadBuffer", ZxReadBuffer(device, channel, records, 256)), 0);
        };
    };
    const std::vector<std::function<void()>> bodies = {
        reader(0, 0),
        reader(0, 0),
        reader(0, 1),
        reader(1, 0),
        [&] { check("ZxClearBuffer", ZxClearBuffer(0, 0)); },
        [&] {
            check("ZxResetCAN", ZxResetCAN(0, 0));
            check("ZxInitCAN", ZxInitCAN(0, 0, 500000));
        },
        [&] {
            check("ZxStartSaveFile", ZxStartSaveFile(0, 0, root.c_str(), "0x101,T\n0x102,V\n", 10));
            check("ZxStopSaveFile", ZxStopSaveFile(0, 0));
        },
        [&] {
            check("ZxSetModuleSamplingFrequency", ZxSetModuleSamplingFrequency(0, 0, 0x101, 50));
            check("ZxSetModuleSamplingFrequency", ZxSetModuleSamplingFrequency(1, 0, 0x102, 50));
        },
        [&] {
            check("ZxSetTerminalResistorCAN", ZxSetTerminalResistorCAN(0, 0, 1));
            check("ZxSetTerminalResistorCAN", ZxSetTerminalResistorCAN(0, 1, 0));
            check("ZxSetTerminalResistorCAN", ZxSetTerminalResistorCAN(1, 1, 1));
        },
        [&] {
            check("ZxCloseDev", ZxCloseDev(1));
            check("ZxOpenDev", ZxOpenDev(0, 1, 1));
            check("ZxInitCAN", ZxInitCAN(1, 0, 500000));
            check("ZxStartSaveFile", ZxStartSaveFile(1, 0, root.c_str(), "0x101,T\n", 10));
        },
    };
    const Clock::time_point end = Clock::now() + kRunTime;
    std::vector<std::thread> threads;
    for (const auto& body : bodies) {
        threads.emplace_back([&body, end] {
            while (Clock::now() < end) {
                body();
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_TRUE(unexpected_.empty()) << unexpected_.size()
                                     << " undocumented results, first: " << unexpected_[0];
    EXPECT_GT(recordsRead.load(), 0);
    EXPECT_EQ(ZxCloseDev(0xFFFFFFFFu), ZX_OK);
}

} // namespace
