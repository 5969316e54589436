// The simulated box answers the library's requests exactly as a box does.
#include "tests/sim/SimTestHelpers.h"
#include "tests/support/InProcessSimulator.h"
#include "tests/support/PollUntil.h"

#include <thread>

namespace zxtest {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

class SimulatorRequests : public SimulatorTest {
protected:
    vcisim::VciSimulatorOptions simulatorOptions() const override {
        vcisim::VciSimulatorOptions options;
        options.firmware = {3, 1, 4, 1};
        options.busLoadIntervalMs = 0;
        return options;
    }
    HostUdpSocket host_;
};

TEST_F(SimulatorRequests, VersionRequestIsAnsweredWithFirmwareBytesFromTheBoxAddress) {
    ASSERT_EQ(host_.problem(), "");
    ASSERT_TRUE(host_.send(hostFrame(kDevice, 0x60, 0, 0, {0x01})));
    // The host's socket is connected to the box, so a reply from anywhere else never arrives.
    const auto reply = host_.receive(kReplyTimeout);
    ASSERT_TRUE(reply);
    EXPECT_EQ(*reply, (Bytes{0x55, 0xAA, 0x0F, 0x60, 0x00, 0x00, 0x04, 0x00, 3, 1, 4, 1, 0x00}));
}

TEST_F(SimulatorRequests, BaseTimeIsTheBoxClockInTenthsOfAMicrosecond) {
    using Clock = std::chrono::steady_clock;
    auto ticksOf = [](Clock::duration d) {
        return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(d).count() / 100);
    };
    const auto firstSent = Clock::now();
    const auto first = requestReply(host_, hostFrame(kDevice, 0x40, 0, 0, {0x01}));
    const auto firstReceived = Clock::now();
    ASSERT_TRUE(first);
    ASSERT_EQ(first->payload.size(), 8u);
    // The clock's rate is what is measured here, so some time has to pass.
    std::this_thread::sleep_for(200ms);
    const auto secondSent = Clock::now();
    const auto second = requestReply(host_, hostFrame(kDevice, 0x40, 0, 0, {0x01}));
    const auto secondReceived = Clock::now();
    ASSERT_TRUE(second);
    const uint64_t boxTicks = le64(second->payload.data()) - le64(first->payload.data());
    EXPECT_GE(boxTicks, ticksOf(secondSent - firstReceived));
    EXPECT_LE(boxTicks, ticksOf(secondReceived - firstSent));
}

TEST_F(SimulatorRequests, OpenChannelIsRecordedExactlyAndAnsweredWithStatus) {
    const Bytes request{0xAA, 0x55, 0x01, 0x10, 0x02, 0x00, 0x04, 0x00, 0x20, 0xA1, 0x07, 0x00, 0x00};
    ASSERT_TRUE(host_.send(request));
    const auto reply = host_.receive(kReplyTimeout);
    ASSERT_TRUE(reply);
    EXPECT_EQ(*reply, (Bytes{0x55, 0xAA, 0x01, 0x10, 0x02, 0x00, 0x01, 0x00, 0x00, 0x00}));

    const auto channel = simulator().channel(0, 2);
    EXPECT_TRUE(channel.open);
    EXPECT_EQ(channel.bitRate, 500000u);
    const auto received = simulator().receivedDatagrams(0);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].bytes, request);
    EXPECT_EQ(received[0].sourceAddress, "192.168.201.1");
    EXPECT_EQ(received[0].sourcePort, host_.localPort());
}

TEST_F(SimulatorRequests, CanFdParametersTerminalResistorAndCloseChangeChannelState) {
    ASSERT_TRUE(requestReply(host_, openRequest(1, 500000)));
    const auto parameter = requestReply(host_, hostFrame(kCan, 0x60, 1, 2, {0x26, 0x80, 0x84, 0x1E, 0x00}));
    ASSERT_TRUE(parameter);
    EXPECT_EQ(parameter->sub, 2);
    EXPECT_EQ(parameter->channel, 1);
    EXPECT_EQ(parameter->payload, Bytes{0x00});
    const auto resistor = requestReply(host_, hostFrame(kDevice, 0x30, 1, 0, {0x01}));
    ASSERT_TRUE(resistor);
    EXPECT_EQ(resistor->payload, Bytes{0x00});
    const auto apply = requestReply(host_, hostFrame(kCan, 0x60, 1, 5));
    ASSERT_TRUE(apply);
    EXPECT_EQ(apply->sub, 5);

    auto channel = simulator().channel(0, 1);
    EXPECT_EQ(channel.canFdParameters.at(0x26), 2000000u);
    EXPECT_EQ(channel.applyCount, 1u);
    EXPECT_TRUE(channel.terminalResistor);

    ASSERT_TRUE(requestReply(host_, hostFrame(kCan, 0x20, 1, 0)));
    EXPECT_FALSE(simulator().channel(0, 1).open);
}

TEST_F(SimulatorRequests, RequestForAChannelTheBoxLacksIsRefusedWithStatus) {
    const auto reply = requestReply(host_, openRequest(8, 500000));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->channel, 8);
    EXPECT_EQ(reply->payload, Bytes{0x01});
}

TEST_F(SimulatorRequests, HeartbeatIsCountedButNeitherAnsweredNorRecorded) {
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(host_.send({0xFF}));
    }
    ASSERT_TRUE(pollUntil(1s, [&] { return simulator().heartbeatCount(0) == 3; }));
    // The version reply is the next datagram: nothing answered the heartbeats.
    ASSERT_TRUE(host_.send(hostFrame(kDevice, 0x60, 0, 0, {0x01})));
    const auto next = host_.receive(kReplyTimeout);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->at(3), 0x60);
    EXPECT_EQ(simulator().receivedDatagrams(0).size(), 1u);
}

TEST(SimulatorDevices, EachBoxAnswersOnItsOwnAddressAndRecordsOnlyItsRequests) {
    ZX_REQUIRE_PRIVATE_NETWORK();
    vcisim::VciSimulatorOptions options;
    options.deviceIndices = {2, 3};
    InProcessSimulator simulator(options);
    ASSERT_TRUE(simulator.start());
    simulator->setFirmware({9, 9, 9, 3}, 3);
    HostUdpSocket box2(2);
    HostUdpSocket box3(3, "192.168.201.2");
    const auto reply2 = requestReply(box2, hostFrame(kDevice, 0x60, 0, 0, {0x01}));
    const auto reply3 = requestReply(box3, hostFrame(kDevice, 0x60, 0, 0, {0x01}));
    ASSERT_TRUE(reply2);
    ASSERT_TRUE(reply3);
    EXPECT_EQ(reply2->payload, (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(reply3->payload, (Bytes{9, 9, 9, 3}));
    ASSERT_EQ(simulator->receivedDatagrams(3).size(), 1u);
    EXPECT_EQ(simulator->receivedDatagrams(3)[0].sourceAddress, "192.168.201.2");
    EXPECT_EQ(simulator->receivedDatagrams(2).size(), 1u);
}

} // namespace
} // namespace zxtest
