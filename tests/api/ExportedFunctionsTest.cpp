// The exported functions through the built shared object, against the box simulator:
// routing, argument checks and result codes as a host sees them.
#include "tests/support/InProcessSimulator.h"
#include "tests/support/PollUntil.h"
#include "tests/support/TempDir.h"
#include "zxcollector_api.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr uint32_t kDevice = 0;
constexpr uint32_t kChannel = 0;
constexpr uint32_t kAllDevices = 0xFFFFFFFFu;

// Every case leaves the library with no device open.
class ExportedFunctionsTest : public zxtest::SimulatorTest {
protected:
    void TearDown() override {
        ZxCloseDev(kAllDevices);
        zxtest::SimulatorTest::TearDown();
    }
};

class QuietSimulatorTest : public ExportedFunctionsTest {
protected:
    vcisim::VciSimulatorOptions simulatorOptions() const override {
        vcisim::VciSimulatorOptions options;
        options.modules.clear(); // no module streams: nothing arrives unless a test asks
        options.busLoadIntervalMs = 0;
        return options;
    }
};

// Calls on a device that is not open, and indices that name no device or channel
// whatever their low bits say, are refused with the call's code before anything is
// touched: the open channel 0 of device 0 keeps its reader, its saving and its state on
// the box, and no request goes out.
TEST_F(QuietSimulatorTest, OutOfRangeIndicesAreRefusedAtFullWidthWithoutTouchingAnything) {
    zxtest::TempDir folder;
    ASSERT_EQ(ZxOpenDev(0, kDevice, 1), ZX_OK);
    ASSERT_EQ(ZxInitCAN(kDevice, kChannel, 250000), ZX_OK);
    ASSERT_EQ(ZxStartSaveFile(kDevice, kChannel, folder.string().c_str(), "0x101,T\n", 10), ZX_OK);
    const uint64_t requestsBefore = simulator().requestDatagramCount(kDevice);
    const bool resistorBefore = simulator().channel(kDevice, kChannel).terminalResistor;

    ZxCollectData records[4];
    const std::string root = folder.string();
    struct Case {
        const char* call;
        std::function<int32_t()> run;
        int32_t expected;
    };
    // clang-format off
#define ZX_CASE(call, expected) Case{#call, [&] { return call; }, expected}
    // clang-format on
    const std::vector<Case> cases = {
        ZX_CASE(ZxInitCAN(5, 0, 250000), ZX_ERR_DEVICE_NOT_OPEN),
        ZX_CASE(ZxResetCAN(5, 0), ZX_ERR_DEVICE_NOT_OPEN),
        ZX_CASE(ZxSetTerminalResistorCAN(5, 0, 1), ZX_ERR_DEVICE_NOT_OPEN),
        ZX_CASE(ZxCloseDev(5), ZX_ERR_DEVICE_NOT_OPEN),
        ZX_CASE(ZxSetModuleSamplingFrequency(5, 0, 0x101, 100), ZX_ERR_MODULE_COMPLETE),
        ZX_CASE(ZxReadBuffer(5, 0, records, 4), ZX_ERR_NO_READER),
        ZX_CASE(ZxClearBuffer(5, 0), ZX_ERR_NO_READER),
        ZX_CASE(ZxStartSaveFile(5, 0, root.c_str(), "0x101,A", 10), ZX_ERR_NO_READER),
        ZX_CASE(ZxStopSaveFile(5, 0), ZX_ERR_NO_READER),
        ZX_CASE(ZxReadBuffer(0, 0, records, -5), ZX_ERR_INVALID_ARGUMENT),
        ZX_CASE(ZxOpenDev(0, 16, 1), ZX_ERR_OPEN_DEVICE),
        ZX_CASE(ZxOpenDev(0, 0x100, 1), ZX_ERR_OPEN_DEVICE),
        ZX_CASE(ZxCloseDev(16), ZX_ERR_DEVICE_NOT_OPEN),
        ZX_CASE(ZxCloseDev(0x100), ZX_ERR_DEVICE_NOT_OPEN),
        ZX_CASE(ZxInitCAN(16, 0, 500000), ZX_ERR_NO_CHANNEL_CONFIG),
        ZX_CASE(ZxInitCAN(0, 8, 500000), ZX_ERR_NO_CHANNEL_CONFIG),
        ZX_CASE(ZxInitCAN(0, 0x100, 500000), ZX_ERR_NO_CHANNEL_CONFIG),
        ZX_CASE(ZxInitCANFD(0x100, 0, 500000, 2000000), ZX_ERR_NO_CHANNEL_CONFIG),
        ZX_CASE(ZxInitCANFD(0, 0xFFFFFFFFu, 500000, 2000000), ZX_ERR_NO_CHANNEL_CONFIG),
        ZX_CASE(ZxResetCAN(0, 0xFFFFFFFFu), ZX_ERR_UNKNOWN_CHANNEL),
        ZX_CASE(ZxResetCAN(0, 0x100), ZX_ERR_UNKNOWN_CHANNEL),
        ZX_CASE(ZxResetCAN(0x100, 0), ZX_ERR_DEVICE_NOT_OPEN),
        ZX_CASE(ZxResetCAN(0x10000, 0), ZX_ERR_DEVICE_NOT_OPEN),
        ZX_CASE(ZxSetTerminalResistorCAN(0, 0x100, 1), -1),
        ZX_CASE(ZxSetTerminalResistorCAN(0, 8, 1), -1),
        ZX_CASE(ZxSetTerminalResistorCAN(0x100, 0, 1), ZX_ERR_DEVICE_NOT_OPEN),
        ZX_CASE(ZxSetModuleSamplingFrequency(0x100, 0, 0x101, 10), ZX_ERR_MODULE_COMPLETE),
        ZX_CASE(ZxSetModuleSamplingFrequency(0, 0x100, 0x101, 10), -1),
        ZX_CASE(ZxReadBuffer(0, 0x100, records, 4), ZX_ERR_NO_READER),
        ZX_CASE(ZxReadBuffer(0x100, 0, records, 4), ZX_ERR_NO_READER),
        ZX_CASE(ZxClearBuffer(0x100, 0), ZX_ERR_NO_READER),
        ZX_CASE(ZxStartSaveFile(0, 0x100, root.c_str(), "0x101,T\n", 10), ZX_ERR_NO_READER),
        ZX_CASE(ZxStopSaveFile(0x100, 0), ZX_ERR_NO_READER),
        ZX_CASE(ZxStopSaveFile(0, 0x100), ZX_ERR_NO_READER),
    };
#undef ZX_CASE
    for (const Case& c : cases) {
        EXPECT_EQ(c.run(), c.expected) << c.call;
    }

    EXPECT_EQ(simulator().requestDatagramCount(kDevice), requestsBefore) << "a refused call reached the box";
    EXPECT_TRUE(simulator().channel(kDevice, kChannel).open);
    EXPECT_EQ(simulator().channel(kDevice, kChannel).terminalResistor, resistorBefore);
    EXPECT_EQ(ZxReadBuffer(kDevice, kChannel, records, 4), ZX_ERR_NO_DATA) << "the reader is gone";
    EXPECT_EQ(ZxStopSaveFile(kDevice, kChannel), ZX_OK);
    EXPECT_EQ(ZxCloseDev(kAllDevices), ZX_OK);
    EXPECT_EQ(ZxCloseDev(kAllDevices), ZX_OK) << "nothing open: nothing to close";
}

TEST_F(QuietSimulatorTest, OpenBindsTheHostOctetAndOutOfRangeOctetsKeepTheStoredAddress) {
    // 0 and 255 leave 192.168.201.2 in the store, and the device still opens.
    for (int octet : {2, 0, 255}) {
        ASSERT_EQ(ZxOpenDev(0, kDevice, octet), ZX_OK) << octet;
        ASSERT_EQ(ZxCloseDev(kDevice), ZX_OK);
    }
    for (const auto& datagram : simulator().receivedDatagrams(kDevice)) {
        EXPECT_EQ(datagram.sourceAddress, "192.168.201.2");
    }
}

TEST_F(QuietSimulatorTest, TerminalResistorIsOnOnlyForExactlyOne) {
    ASSERT_EQ(ZxOpenDev(0, kDevice, 1), ZX_OK);
    for (const auto& [value, on] :
         std::vector<std::pair<int32_t, bool>>{{1, true}, {2, false}, {1, true}, {-1, false}}) {
        ASSERT_EQ(ZxSetTerminalResistorCAN(kDevice, 3, value), ZX_OK);
        EXPECT_EQ(simulator().channel(kDevice, 3).terminalResistor, on) << value;
    }
}

// (What the records hold is the reader's test.)
TEST_F(ExportedFunctionsTest, RecordsFlowUntilTheChannelIsReset) {
    ASSERT_EQ(ZxOpenDev(0, kDevice, 1), ZX_OK);
    ASSERT_EQ(ZxInitCANFD(kDevice, kChannel, 500000, 2000000), ZX_OK);
    ZxCollectData records[100];
    ASSERT_TRUE(zxtest::pollUntil(5s, [&] { return ZxReadBuffer(kDevice, kChannel, records, 100) > 0; }));
    ASSERT_EQ(ZxClearBuffer(kDevice, kChannel), ZX_OK);
    ASSERT_EQ(ZxResetCAN(kDevice, kChannel), ZX_OK);
    EXPECT_EQ(ZxReadBuffer(kDevice, kChannel, records, 10), ZX_ERR_NO_READER);
    EXPECT_FALSE(simulator().channel(kDevice, kChannel).open);
}

} // namespace
