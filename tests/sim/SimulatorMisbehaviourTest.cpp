// The misbehaviour knobs do what the library's robustness tests rely on.
#include "tests/sim/SimTestHelpers.h"
#include "tests/support/InProcessSimulator.h"
#include "tests/support/PollUntil.h"

namespace zxtest {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

class SimulatorMisbehaviour : public SimulatorTest {
protected:
    vcisim::VciSimulatorOptions simulatorOptions() const override {
        vcisim::VciSimulatorOptions options;
        options.busLoadIntervalMs = 0;
        return options;
    }
    std::vector<uint8_t> versionRequest() const { return hostFrame(kDevice, 0x60, 0, 0, {0x01}); }
    HostUdpSocket host_;
};

TEST_F(SimulatorMisbehaviour, DropRuleSwallowsOnlyTheNthReplyOfThatCommand) {
    vcisim::Misbehaviour bad;
    bad.dropReplies = {{0x0F, 0x60, 2}};
    simulator().setMisbehaviour(bad);
    EXPECT_TRUE(requestReply(host_, versionRequest()));
    EXPECT_FALSE(requestReply(host_, versionRequest(), 200ms));
    EXPECT_TRUE(requestReply(host_, versionRequest()));
    EXPECT_TRUE(requestReply(host_, hostFrame(kDevice, 0x40, 0, 0, {0x01})));
    // The dropped request was still received and recorded.
    EXPECT_EQ(simulator().receivedDatagrams(0).size(), 4u);
}

TEST_F(SimulatorMisbehaviour, DelayedReplyArrivesAfterTheDelay) {
    vcisim::Misbehaviour bad;
    bad.replyDelayMs = 150;
    simulator().setMisbehaviour(bad);
    const auto sent = std::chrono::steady_clock::now();
    ASSERT_TRUE(requestReply(host_, versionRequest()));
    EXPECT_GE(std::chrono::steady_clock::now() - sent, 150ms);
}

TEST_F(SimulatorMisbehaviour, SilentBoxRecordsRequestsButSendsNothing) {
    simulator().setSilent(true);
    ASSERT_TRUE(host_.send(openRequest(0, 500000)));
    EXPECT_FALSE(host_.receive(200ms));
    EXPECT_TRUE(simulator().channel(0, 0).open);
    EXPECT_EQ(simulator().framesSent(0), 0u);
    simulator().setSilent(false);
    EXPECT_TRUE(awaitFrame(host_, [](const WireFrame& f) { return f.command == 0x40; }));
}

TEST_F(SimulatorMisbehaviour, WrongChannelReplyCarriesTheNextChannel) {
    vcisim::Misbehaviour bad;
    bad.wrongChannelReplies = true;
    simulator().setMisbehaviour(bad);
    const auto reply = requestReply(host_, openRequest(2, 500000));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->channel, 3);
}

TEST_F(SimulatorMisbehaviour, SplitReplyStraddlesTwoDatagramsThatJoinToTheWholeFrame) {
    vcisim::Misbehaviour bad;
    bad.splitFrames = true;
    simulator().setMisbehaviour(bad);
    ASSERT_TRUE(host_.send(versionRequest()));
    const auto first = host_.receive(kReplyTimeout);
    const auto second = host_.receive(kReplyTimeout);
    ASSERT_TRUE(first && second);
    EXPECT_TRUE(boxFrames(*first).empty());
    EXPECT_TRUE(boxFrames(*second).empty());
    Bytes joined = *first;
    joined.insert(joined.end(), second->begin(), second->end());
    EXPECT_EQ(joined, (Bytes{0x55, 0xAA, 0x0F, 0x60, 0x00, 0x00, 0x04, 0x00, 1, 2, 3, 4, 0x00}));
}

TEST_F(SimulatorMisbehaviour, GarbageBetweenFramesLeavesTheFramesIntact) {
    vcisim::Misbehaviour bad;
    bad.garbageBytesBetweenFrames = 7;
    simulator().setMisbehaviour(bad);
    ASSERT_TRUE(host_.send(versionRequest()));
    const auto reply = host_.receive(kReplyTimeout);
    ASSERT_TRUE(reply);
    ASSERT_EQ(reply->size(), 7u + 13u);
    const auto frames = boxFrames(*reply);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].payload, (Bytes{1, 2, 3, 4}));
}

TEST_F(SimulatorMisbehaviour, InjectedDatagramsReachTheLastHostUnchanged) {
    ASSERT_TRUE(requestReply(host_, versionRequest()));
    simulator().sendEmptyDatagram(0);
    const auto empty = host_.receive(kReplyTimeout);
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->empty());

    simulator().sendOversizeFrame(0, 1, 130);
    const auto oversize = host_.receive(kReplyTimeout);
    ASSERT_TRUE(oversize);
    ASSERT_EQ(oversize->size(), 139u);
    EXPECT_EQ(le16(oversize->data() + 6), 130);

    simulator().sendGarbageDatagram(0, 50);
    const auto garbage = host_.receive(kReplyTimeout);
    ASSERT_TRUE(garbage);
    EXPECT_EQ(garbage->size(), 50u);
    EXPECT_TRUE(boxFrames(*garbage).empty());
}

} // namespace
} // namespace zxtest
