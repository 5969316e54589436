// The exported functions through the built shared object, against the box simulator:
// routing, argument checks and result codes as a host sees them.
#include "tests/support/InProcessSimulator.h"
#include "tests/support/PollUntil.h"
#include "tests/support/TempDir.h"
#include "zxcollector_api.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr uint32_t kDevice = 0;
constexpr uint32_t kChannel = 0;
constexpr uint32_t kAllDevices = 0xFFFFFFFFu;

// Request frames the box received with the given type and command.
std::vector<std::vector<uint8_t>> requestsOf(vcisim::VciSimulator& simulator, uint8_t type, uint8_t command) {
    std::vector<std::vector<uint8_t>> found;
    for (const auto& datagram : simulator.receivedDatagrams(kDevice)) {
        const auto& bytes = datagram.bytes;
        if (bytes.size() >= 9 && bytes[0] == 0xAA && bytes[1] == 0x55 && bytes[2] == type &&
            bytes[3] == command) {
            found.push_back(bytes);
        }
    }
    return found;
}

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

TEST(ExportedFunctionsWithoutDevice, ChannelCallsOnClosedDevicesFailWithTheirCodes) {
    EXPECT_EQ(ZxInitCAN(5, 0, 250000), ZX_ERR_DEVICE_NOT_OPEN);
    EXPECT_EQ(ZxResetCAN(5, 0), ZX_ERR_DEVICE_NOT_OPEN);
    EXPECT_EQ(ZxSetTerminalResistorCAN(5, 0, 1), ZX_ERR_DEVICE_NOT_OPEN);
    EXPECT_EQ(ZxCloseDev(5), ZX_ERR_DEVICE_NOT_OPEN);
    EXPECT_EQ(ZxCloseDev(kAllDevices), ZX_OK);
    EXPECT_EQ(ZxSetModuleSamplingFrequency(5, 0, 0x101, 100), ZX_ERR_MODULE_COMPLETE);

    ZxCollectData records[4];
    EXPECT_EQ(ZxReadBuffer(5, 0, records, 4), ZX_ERR_NO_READER);
    EXPECT_EQ(ZxClearBuffer(5, 0), ZX_ERR_NO_READER);
    EXPECT_EQ(ZxStartSaveFile(5, 0, "unused", "0x101,A", 10), ZX_ERR_NO_READER);
    EXPECT_EQ(ZxStopSaveFile(5, 0), ZX_ERR_NO_READER);
}

// Indices that name no device or channel, whatever their low bits say, are refused
// with the call's code before anything is touched: the open channel 0 of device 0
// keeps its reader, its saving and its state on the box, and no request goes out.
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
    const std::vector<Case> cases = {
        {"ZxOpenDev(16)", [] { return ZxOpenDev(0, 16, 1); }, ZX_ERR_OPEN_DEVICE},
        {"ZxOpenDev(0x100)", [] { return ZxOpenDev(0, 0x100, 1); }, ZX_ERR_OPEN_DEVICE},
        {"ZxCloseDev(16)", [] { return ZxCloseDev(16); }, ZX_ERR_DEVICE_NOT_OPEN},
        {"ZxCloseDev(0x100)", [] { return ZxCloseDev(0x100); }, ZX_ERR_DEVICE_NOT_OPEN},
        {"ZxInitCAN(16, 0)", [] { return ZxInitCAN(16, 0, 500000); }, ZX_ERR_NO_CHANNEL_CONFIG},
        {"ZxInitCAN(0, 8)", [] { return ZxInitCAN(0, 8, 500000); }, ZX_ERR_NO_CHANNEL_CONFIG},
        {"ZxInitCAN(0, 0x100)", [] { return ZxInitCAN(0, 0x100, 500000); }, ZX_ERR_NO_CHANNEL_CONFIG},
        {"ZxInitCANFD(0x100, 0)", [] { return ZxInitCANFD(0x100, 0, 500000, 2000000); },
         ZX_ERR_NO_CHANNEL_CONFIG},
        {"ZxInitCANFD(0, ~0)", [] { return ZxInitCANFD(0, 0xFFFFFFFFu, 500000, 2000000); },
         ZX_ERR_NO_CHANNEL_CONFIG},
        {"ZxResetCAN(0, ~0)", [] { return ZxResetCAN(0, 0xFFFFFFFFu); }, ZX_ERR_UNKNOWN_CHANNEL},
        {"ZxResetCAN(0, 0x100)", [] { return ZxResetCAN(0, 0x100); }, ZX_ERR_UNKNOWN_CHANNEL},
        {"ZxResetCAN(0x100, 0)", [] { return ZxResetCAN(0x100, 0); }, ZX_ERR_DEVICE_NOT_OPEN},
        {"ZxResetCAN(0x10000, 0)", [] { return ZxResetCAN(0x10000, 0); }, ZX_ERR_DEVICE_NOT_OPEN},
        {"ZxSetTerminalResistorCAN(0, 0x100)", [] { return ZxSetTerminalResistorCAN(0, 0x100, 1); }, -1},
        {"ZxSetTerminalResistorCAN(0, 8)", [] { return ZxSetTerminalResistorCAN(0, 8, 1); }, -1},
        {"ZxSetTerminalResistorCAN(0x100, 0)", [] { return ZxSetTerminalResistorCAN(0x100, 0, 1); },
         ZX_ERR_DEVICE_NOT_OPEN},
        {"ZxSetModuleSamplingFrequency(0x100, 0)",
         [] { return ZxSetModuleSamplingFrequency(0x100, 0, 0x101, 10); }, ZX_ERR_MODULE_COMPLETE},
        {"ZxSetModuleSamplingFrequency(0, 0x100)",
         [] { return ZxSetModuleSamplingFrequency(0, 0x100, 0x101, 10); }, -1},
        {"ZxReadBuffer(0, 0x100)", [&] { return ZxReadBuffer(0, 0x100, records, 4); }, ZX_ERR_NO_READER},
        {"ZxReadBuffer(0x100, 0)", [&] { return ZxReadBuffer(0x100, 0, records, 4); }, ZX_ERR_NO_READER},
        {"ZxClearBuffer(0x100, 0)", [] { return ZxClearBuffer(0x100, 0); }, ZX_ERR_NO_READER},
        {"ZxStartSaveFile(0, 0x100)",
         [&] { return ZxStartSaveFile(0, 0x100, root.c_str(), "0x101,T\n", 10); }, ZX_ERR_NO_READER},
        {"ZxStopSaveFile(0x100, 0)", [] { return ZxStopSaveFile(0x100, 0); }, ZX_ERR_NO_READER},
        {"ZxStopSaveFile(0, 0x100)", [] { return ZxStopSaveFile(0, 0x100); }, ZX_ERR_NO_READER},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.run(), c.expected) << c.call;
    }

    EXPECT_EQ(simulator().requestDatagramCount(kDevice), requestsBefore) << "a refused call reached the box";
    EXPECT_TRUE(simulator().channel(kDevice, kChannel).open);
    EXPECT_EQ(simulator().channel(kDevice, kChannel).terminalResistor, resistorBefore);
    EXPECT_EQ(ZxReadBuffer(kDevice, kChannel, records, 4), ZX_ERR_NO_DATA) << "the reader is gone";
    EXPECT_EQ(ZxStopSaveFile(kDevice, kChannel), ZX_OK);
}

TEST_F(QuietSimulatorTest, OpenBindsTheHostOctetAndOutOfRangeOctetsKeepTheStoredAddress) {
    ASSERT_EQ(ZxOpenDev(0, kDevice, 2), ZX_OK);
    ASSERT_EQ(ZxCloseDev(kDevice), ZX_OK);
    simulator().clearReceivedDatagrams(kDevice);

    // 0 and 255 leave 192.168.201.2 in the store, and the device still opens.
    for (int octet : {0, 255}) {
        ASSERT_EQ(ZxOpenDev(0, kDevice, octet), ZX_OK) << octet;
        ASSERT_EQ(ZxCloseDev(kDevice), ZX_OK);
    }
    const auto received = simulator().receivedDatagrams(kDevice);
    ASSERT_FALSE(received.empty());
    for (const auto& datagram : received) {
        EXPECT_EQ(datagram.sourceAddress, "192.168.201.2");
    }
}

TEST_F(QuietSimulatorTest, OpeningAnOpenDeviceSucceedsWithoutReopening) {
    ASSERT_EQ(ZxOpenDev(0, kDevice, 1), ZX_OK);
    const auto versionRequests = requestsOf(simulator(), 0x0F, 0x60).size();
    EXPECT_EQ(ZxOpenDev(0, kDevice, 1), ZX_OK);
    EXPECT_EQ(requestsOf(simulator(), 0x0F, 0x60).size(), versionRequests);
}

TEST_F(QuietSimulatorTest, InitTwiceOpensTheChannelAgainAndKeepsTheReader) {
    ASSERT_EQ(ZxOpenDev(0, kDevice, 1), ZX_OK);
    ASSERT_EQ(ZxInitCAN(kDevice, kChannel, 250000), ZX_OK);
    ASSERT_EQ(ZxInitCAN(kDevice, kChannel, 250000), ZX_OK);
    const auto opens = requestsOf(simulator(), 0x01, 0x10);
    ASSERT_EQ(opens.size(), 2u);
    // payload: the bit rate, little-endian
    EXPECT_EQ(opens[1], (std::vector<uint8_t>{0xAA, 0x55, 0x01, 0x10, 0x00, 0x00, 0x04, 0x00, 0x90, 0xD0,
                                              0x03, 0x00, 0x00}));
    ZxCollectData records[4];
    EXPECT_EQ(ZxReadBuffer(kDevice, kChannel, records, 4), ZX_ERR_NO_DATA);
}

TEST_F(QuietSimulatorTest, TerminalResistorIsOnOnlyForExactlyOne) {
    ASSERT_EQ(ZxOpenDev(0, kDevice, 1), ZX_OK);
    ASSERT_EQ(ZxSetTerminalResistorCAN(kDevice, 3, 1), ZX_OK);
    ASSERT_EQ(ZxSetTerminalResistorCAN(kDevice, 3, 2), ZX_OK);
    ASSERT_EQ(ZxSetTerminalResistorCAN(kDevice, 3, -1), ZX_OK);
    const auto switches = requestsOf(simulator(), 0x0F, 0x30);
    ASSERT_EQ(switches.size(), 3u);
    const std::vector<uint8_t> expectedPayloads{1, 0, 0};
    for (std::size_t i = 0; i < switches.size(); ++i) {
        ASSERT_EQ(switches[i].size(), 10u);
        EXPECT_EQ(switches[i][4], 3) << "channel";
        EXPECT_EQ(switches[i][8], expectedPayloads[i]) << "switch " << i;
    }
}

TEST_F(QuietSimulatorTest, ReadBufferRefusesBadArgumentsAndReportsNoData) {
    ASSERT_EQ(ZxOpenDev(0, kDevice, 1), ZX_OK);
    ASSERT_EQ(ZxInitCANFD(kDevice, kChannel, 500000, 2000000), ZX_OK);
    ZxCollectData records[8];
    EXPECT_EQ(ZxReadBuffer(kDevice, kChannel, records, 0), ZX_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(ZxReadBuffer(kDevice, kChannel, records, -5), ZX_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(ZxReadBuffer(kDevice, kChannel, nullptr, 8), ZX_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(ZxReadBuffer(kDevice, kChannel, records, 8), ZX_ERR_NO_DATA);
    EXPECT_EQ(ZxClearBuffer(kDevice, kChannel), ZX_OK);
    EXPECT_EQ(ZxStartSaveFile(kDevice, kChannel, nullptr, "0x101,A", 10), ZX_ERR_SAVE_NOT_CONFIGURED);
    EXPECT_EQ(ZxStopSaveFile(kDevice, kChannel), ZX_OK);
}

TEST_F(ExportedFunctionsTest, RecordsFlowUntilTheChannelIsResetAndSavingEndsWithTheReset) {
    zxtest::TempDir folder;
    ASSERT_EQ(ZxOpenDev(0, kDevice, 1), ZX_OK);
    ASSERT_EQ(ZxInitCANFD(kDevice, kChannel, 500000, 2000000), ZX_OK);
    ASSERT_EQ(ZxStartSaveFile(kDevice, kChannel, folder.string().c_str(), "0x101,Temperature\n", 10), ZX_OK);

    std::vector<ZxCollectData> records(1000);
    std::string expectedCsv = "Timestamp,Current_mA\n";
    long temperatureRecords = 0;
    ASSERT_TRUE(zxtest::pollUntil(5s, [&] {
        const int32_t n =
            ZxReadBuffer(kDevice, kChannel, records.data(), static_cast<int32_t>(records.size()));
        for (int32_t i = 0; i < n; ++i) {
            const ZxCollectData& record = records[i];
            EXPECT_EQ(record.reserved, 0u);
            EXPECT_NE(std::find(record.timestamp, record.timestamp + 32, '\0'), record.timestamp + 32);
            if (record.canId == 0x101) {
                ++temperatureRecords;
                if (record.values[0] != ZX_NO_VALUE) {
                    expectedCsv +=
                        std::string(record.timestamp) + "," + std::to_string(record.values[0]) + "\n";
                }
            }
        }
        return temperatureRecords >= 20;
    }));

    ASSERT_EQ(ZxResetCAN(kDevice, kChannel), ZX_OK);
    EXPECT_EQ(ZxReadBuffer(kDevice, kChannel, records.data(), 10), ZX_ERR_NO_READER);
    EXPECT_FALSE(simulator().channel(kDevice, kChannel).open);

    // The reset stopped saving: every temperature record read is on disk, CH1 holds one
    // file with the header and one line per record.
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path() / "CH1")) {
        files.push_back(entry.path());
    }
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].filename().string().rfind("Temperature_", 0), 0u);
    std::ifstream in(files[0], std::ios::binary);
    const std::string csv((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(csv, expectedCsv);
}

} // namespace
