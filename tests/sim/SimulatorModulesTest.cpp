// Modules answer the module commands carried in CAN transmit frames and change their
// sampling frequency when told to.
#include "tests/sim/SimTestHelpers.h"
#include "tests/support/InProcessSimulator.h"
#include "tests/support/PollUntil.h"

namespace zxtest {
namespace {

using namespace std::chrono_literals;

class SimulatorModules : public SimulatorTest {
protected:
    vcisim::VciSimulatorOptions simulatorOptions() const override {
        vcisim::VciSimulatorOptions options;
        options.busLoadIntervalMs = 0;
        return options;
    }

    // The module's answer frame (id = module identifier, 8 data bytes) to one command.
    std::optional<CanRecord> command(uint8_t channel, uint8_t code, uint32_t moduleId, uint8_t sub,
                                     std::optional<uint16_t> value = std::nullopt,
                                     std::chrono::milliseconds timeout = kReplyTimeout) {
        if (!host_.send(moduleCommand(channel, code, moduleId, sub, value))) {
            return std::nullopt;
        }
        CanRecord answer;
        const auto frame = awaitFrame(
            host_,
            [&](const WireFrame& f) {
                return f.type == kCan && f.command == 0x40 && f.channel == channel &&
                       parseCanRecord(f.payload, answer) && answer.id == moduleId && answer.dataLength == 8;
            },
            timeout);
        return frame ? std::optional<CanRecord>(answer) : std::nullopt;
    }

    HostUdpSocket host_;
};

TEST_F(SimulatorModules, SamplingFrequencySequenceIsAnsweredAndChangesTheEmissionRate) {
    ASSERT_TRUE(requestReply(host_, openRequest(0, 500000)));

    const auto enter = command(0, 0x10, 0x501, 3);
    ASSERT_TRUE(enter);
    EXPECT_EQ(enter->frameKind, 2);
    EXPECT_EQ(enter->data, (std::vector<uint8_t>{0x50, 0x01, 0x05, 0x00, 0x00, 0x03, 0x00, 0x00}));
    const auto write = command(0, 0x2E, 0x501, 2, uint16_t{1000});
    ASSERT_TRUE(write);
    EXPECT_EQ(write->data[0], 0x6E);
    const auto closing = command(0, 0x2E, 0x501, 0xFF, uint16_t{0});
    ASSERT_TRUE(closing);
    EXPECT_EQ(closing->data[0], 0x6E);
    EXPECT_TRUE(simulator().channel(0, 0).modules[2].configuring);
    const auto complete = command(0, 0x10, 0x501, 1);
    ASSERT_TRUE(complete);
    EXPECT_EQ(complete->data[0], 0x50);

    EXPECT_EQ(simulator().channel(0, 0).transmitted, 4u);
    const auto modules = simulator().channel(0, 0).modules;
    EXPECT_EQ(modules[2].setup.frequencyHz, 1000);
    EXPECT_FALSE(modules[2].configuring);
    // The others keep 100 Hz: over the same time the 1000 Hz module sends about ten times as many.
    const uint64_t fastBefore = modules[2].framesSent;
    const uint64_t slowBefore = modules[0].framesSent;
    ASSERT_TRUE(
        pollUntil(5s, [&] { return simulator().channel(0, 0).modules[0].framesSent >= slowBefore + 20; }));
    const auto after = simulator().channel(0, 0).modules;
    const double ratio = static_cast<double>(after[2].framesSent - fastBefore) /
                         static_cast<double>(after[0].framesSent - slowBefore);
    EXPECT_GT(ratio, 6.0);
    EXPECT_LT(ratio, 14.0);
}

TEST_F(SimulatorModules, WriteOutsideConfigurationModeIsRefusedAndChangesNothing) {
    ASSERT_TRUE(requestReply(host_, openRequest(0, 500000)));
    ASSERT_TRUE(host_.send(moduleCommand(0, 0x2E, 0x101, 2, uint16_t{10})));
    CanRecord answer;
    const auto frame = awaitFrame(host_, [&](const WireFrame& f) {
        return f.command == 0x40 && parseCanRecord(f.payload, answer) && answer.dataLength == 8;
    });
    ASSERT_TRUE(frame);
    EXPECT_EQ(answer.data[0], 0x7F);
    EXPECT_EQ(answer.data[1], 0x2E);
    EXPECT_EQ(simulator().channel(0, 0).modules[0].setup.frequencyHz, 100);
}

TEST_F(SimulatorModules, SilentModuleAndModulesOfClosedChannelsNeverAnswer) {
    simulator().setModules(0, 1, {{vcisim::ModuleKind::Temperature, 0x123, 50, 0x3F, true}});
    ASSERT_TRUE(requestReply(host_, openRequest(1, 500000)));
    EXPECT_FALSE(command(1, 0x10, 0x123, 3, std::nullopt, 200ms));
    // Channel 2 is closed: nothing on its bus hears the command.
    EXPECT_FALSE(command(2, 0x10, 0x101, 3, std::nullopt, 200ms));
    // A module that is not on the channel does not answer either.
    EXPECT_FALSE(command(1, 0x10, 0x101, 3, std::nullopt, 200ms));
    EXPECT_EQ(simulator().channel(0, 1).modules[0].commandsAnswered, 0u);
    EXPECT_EQ(simulator().channel(0, 1).transmitted, 2u);
    EXPECT_EQ(simulator().channel(0, 2).transmitted, 0u);
}

} // namespace
} // namespace zxtest
