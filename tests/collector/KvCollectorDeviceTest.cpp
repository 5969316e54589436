// Module configuration through the simulated box: exact frames on the wire, answers,
// time-outs and the combined result codes.
#include "collector/KvCollectorDevice.h"

#include "tests/collector/CollectorOnBox.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <vector>

using namespace std::chrono_literals;

namespace {

using Bytes = std::vector<std::uint8_t>;

// The data of the module commands (transmit frames AA 55 01 30 of a CAN record with
// identifier 1 and flags 1) the box received, in order.
std::vector<Bytes> moduleCommands(vcisim::VciSimulator& simulator) {
    std::vector<Bytes> commands;
    for (const auto& datagram : simulator.receivedDatagrams(0)) {
        const Bytes& b = datagram.bytes;
        if (b.size() > 24 && b[0] == 0xAA && b[1] == 0x55 && b[2] == 0x01 && b[3] == 0x30 && b[8] == 0x01 &&
            b[13] == 0x01) {
            commands.emplace_back(b.begin() + 24, b.begin() + 24 + b[12]);
        }
    }
    return commands;
}

class ModulesOnBox : public CollectorOnBox {
protected:
    vcisim::VciSimulatorOptions simulatorOptions() const override {
        vcisim::VciSimulatorOptions options;
        options.modules = {{vcisim::ModuleKind::Temperature, kModuleId, 50, 0x3F, false},
                           {vcisim::ModuleKind::Voltage, 0x301, 50, 0x0F, false}};
        options.busLoadIntervalMs = 0;
        return options;
    }
};

TEST_F(ModulesOnBox, SamplingFrequencySequenceSendsFourFramesAndChangesTheRate) {
    simulator().clearReceivedDatagrams(kDevice);
    EXPECT_EQ(collector().setModuleSamplingFrequency(kDevice, kChannel, kModuleId, 100), 0);
    EXPECT_EQ(moduleCommands(simulator()),
              (std::vector<Bytes>{{0x10, 0x01, 0x01, 0x00, 0x00, 0x03},
                                  {0x2E, 0x01, 0x01, 0x00, 0x00, 0x02, 0x64, 0x00},
                                  {0x2E, 0x01, 0x01, 0x00, 0x00, 0xFF, 0x00, 0x00},
                                  {0x10, 0x01, 0x01, 0x00, 0x00, 0x01}}));

    const vcisim::ChannelSnapshot channel = simulator().channel(kDevice, kChannel);
    ASSERT_EQ(channel.modules.size(), 2u);
    EXPECT_EQ(channel.modules[0].setup.frequencyHz, 100);
    EXPECT_FALSE(channel.modules[0].configuring);
    EXPECT_EQ(channel.modules[1].setup.frequencyHz, 50); // only the addressed module changes
}

class SilentModuleAmongLookalikeSamples : public CollectorOnBox {
protected:
    vcisim::VciSimulatorOptions simulatorOptions() const override {
        vcisim::VciSimulatorOptions options;
        options.modules = {{vcisim::ModuleKind::Temperature, kModuleId, 1000, 0x3F, true}};
        options.uniqueValues = true;
        options.busLoadIntervalMs = 0;
        return options;
    }
};

// No answer: the enter and complete requests each wait twenty 100 ms passes, the
// writes are never sent, and no sample that looks like an answer completes a request.
TEST_F(SilentModuleAmongLookalikeSamples, NoAnswerTimesOutEnterAndCompleteAfterAboutFourSeconds) {
    LogCapture log;
    simulator().clearReceivedDatagrams(kDevice);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(collector().setModuleSamplingFrequency(kDevice, kChannel, kModuleId, 100),
              ZX_ERR_MODULE_COMPLETE);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 3800ms);
    EXPECT_EQ(moduleCommands(simulator()), (std::vector<Bytes>{{0x10, 0x01, 0x01, 0x00, 0x00, 0x03},
                                                               {0x10, 0x01, 0x01, 0x00, 0x00, 0x01}}));
    EXPECT_TRUE(log.contains("Module 0x101 configuration failed for command 10x, sub command 3x"));
}

// The value field is big-endian except for sub commands 1, 2 and 5 (the frequency
// write above, sub command 2, is little-endian).
TEST(ModuleFrame, ValueOfOtherSubCommandsIsBigEndian) {
    _KvVciCanDataType frame;
    KvCollectorDevice::buildModuleFrame(frame, 0x12345678, 0x2E, 3, 0x1234);
    const std::uint8_t expected[] = {0x2E, 0x78, 0x56, 0x34, 0x12, 0x03, 0x12, 0x34};
    EXPECT_EQ(std::memcmp(frame.data, expected, 8), 0);
    EXPECT_EQ(frame.dataLength, 8);
}

} // namespace
