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

// The transmit frames (AA 55 01 30 ...) the box received, in order.
std::vector<Bytes> transmitFrames(vcisim::VciSimulator& simulator, std::uint32_t device) {
    std::vector<Bytes> frames;
    for (const auto& datagram : simulator.receivedDatagrams(device)) {
        const Bytes& bytes = datagram.bytes;
        if (bytes.size() >= 4 && bytes[0] == 0xAA && bytes[1] == 0x55 && bytes[2] == 0x01 &&
            bytes[3] == 0x30) {
            frames.push_back(bytes);
        }
    }
    return frames;
}

// The transmit frame of a module request on channel 0 with the given data bytes.
Bytes expectedFrame(const Bytes& data) {
    // frame header (16 + data bytes of payload), CAN record: identifier 1, length, flags 1
    Bytes frame(24, 0x00);
    const auto length = static_cast<std::uint8_t>(data.size());
    for (const auto& [at, byte] : {std::pair<int, std::uint8_t>{0, 0xAA},
                                   {1, 0x55},
                                   {2, 0x01},
                                   {3, 0x30},
                                   {6, 16 + length},
                                   {8, 0x01},
                                   {12, length},
                                   {13, 0x01}}) {
        frame[at] = byte;
    }
    frame.insert(frame.end(), data.begin(), data.end());
    frame.push_back(0x00);
    return frame;
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
    const std::vector<Bytes> frames = transmitFrames(simulator(), kDevice);
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(frames[0], expectedFrame({0x10, 0x01, 0x01, 0x00, 0x00, 0x03}));
    EXPECT_EQ(frames[1], expectedFrame({0x2E, 0x01, 0x01, 0x00, 0x00, 0x02, 0x64, 0x00}));
    EXPECT_EQ(frames[2], expectedFrame({0x2E, 0x01, 0x01, 0x00, 0x00, 0xFF, 0x00, 0x00}));
    EXPECT_EQ(frames[3], expectedFrame({0x10, 0x01, 0x01, 0x00, 0x00, 0x01}));

    const vcisim::ChannelSnapshot channel = simulator().channel(kDevice, kChannel);
    ASSERT_EQ(channel.modules.size(), 2u);
    EXPECT_EQ(channel.modules[0].setup.frequencyHz, 100);
    EXPECT_FALSE(channel.modules[0].configuring);
    EXPECT_EQ(channel.modules[1].setup.frequencyHz, 50); // only the addressed module changes
}

TEST_F(ModulesOnBox, DeviceThatIsNotOpenFailsEnterAndComplete) {
    LogCapture log;
    simulator().clearReceivedDatagrams(kDevice);
    EXPECT_EQ(collector().setModuleSamplingFrequency(7, kChannel, kModuleId, 100), ZX_ERR_MODULE_COMPLETE);
    EXPECT_TRUE(transmitFrames(simulator(), kDevice).empty());
    EXPECT_TRUE(log.contains("Get Device7 handle failed!"));
    EXPECT_TRUE(log.contains("Failed to enter configuration mode for Module 0x101"));
    EXPECT_TRUE(log.contains("Failed to complete configuration mode for Module 0x101"));
}

class SilentModuleOnBox : public CollectorOnBox {
protected:
    vcisim::VciSimulatorOptions simulatorOptions() const override {
        vcisim::VciSimulatorOptions options;
        // It measures nothing, so no sample's first data byte (01 of the no-value
        // marker) looks like an answer code.
        options.modules = {{vcisim::ModuleKind::Temperature, kModuleId, 100, 0x00, true}};
        options.busLoadIntervalMs = 0;
        return options;
    }
};

TEST_F(SilentModuleOnBox, NoAnswerTimesOutEnterAndCompleteAfterAboutFourSeconds) {
    LogCapture log;
    simulator().clearReceivedDatagrams(kDevice);

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(collector().setModuleSamplingFrequency(kDevice, kChannel, kModuleId, 100),
              ZX_ERR_MODULE_COMPLETE);
    const auto elapsed = std::chrono::steady_clock::now() - start;

    // Two requests of twenty 100 ms passes each; the writes are never sent.
    EXPECT_GE(elapsed, 3800ms);
    const std::vector<Bytes> frames = transmitFrames(simulator(), kDevice);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0], expectedFrame({0x10, 0x01, 0x01, 0x00, 0x00, 0x03}));
    EXPECT_EQ(frames[1], expectedFrame({0x10, 0x01, 0x01, 0x00, 0x00, 0x01}));
    EXPECT_TRUE(log.contains("Module 0x101 configuration failed for command 10x, sub command 3x"));
}

// The silent module streams unique values: every 32nd sample starts with 0x50, the
// answer code of the enter and complete requests.
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

TEST_F(SilentModuleAmongLookalikeSamples, SampleStartingWithTheAnswerCodeDoesNotCompleteARequest) {
    EXPECT_EQ(collector().setModuleSamplingFrequency(kDevice, kChannel, kModuleId, 100),
              ZX_ERR_MODULE_COMPLETE);
    // Only enter and complete went out: the enter request was not taken as answered.
    EXPECT_EQ(transmitFrames(simulator(), kDevice).size(), 2u);
}

TEST(ModuleFrame, ValueIsLittleEndianOnlyForSubCommandsOneTwoAndFive) {
    LogCapture log(1);
    _KvVciCanDataType frame;
    KvCollectorDevice::buildModuleFrame(frame, 0x12345678, 0x2E, 3, 0x1234);
    EXPECT_EQ(frame.id, 0x001u);
    EXPECT_EQ(frame.dataLength, 8);
    EXPECT_EQ(frame.flags, 0x01);
    const std::uint8_t bigEndian[] = {0x2E, 0x78, 0x56, 0x34, 0x12, 0x03, 0x12, 0x34};
    EXPECT_EQ(std::memcmp(frame.data, bigEndian, 8), 0);
    EXPECT_TRUE(log.contains("SD: CH18 VAL:52"));

    KvCollectorDevice::buildModuleFrame(frame, 0x101, 0x2E, 5, 0x1234);
    EXPECT_EQ(frame.data[6], 0x34);
    EXPECT_EQ(frame.data[7], 0x12);

    KvCollectorDevice::buildModuleFrame(frame, 0x101, 0x10, 1, 0x1234);
    EXPECT_EQ(frame.dataLength, 6);
    EXPECT_EQ(frame.data[6], 0);
    EXPECT_EQ(frame.data[7], 0);
}

} // namespace
