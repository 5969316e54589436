// The heartbeat timer on real threads and the steady clock.
#include "common/HeartbeatManager.h"
#include "tests/support/PollUntil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using zxtest::pollUntil;

namespace {

// Like the socket client: the heartbeat is a send, and a send updates the timestamp, so
// heartbeats come one idle interval apart (each one a send that restarts the wait).
TEST(HeartbeatManagerTest, FiresOnceNothingWasSentForTheIdleIntervalCountedFromTheStart) {
    Common::HeartbeatManager heartbeat(5);
    std::atomic<int> calls{0};
    heartbeat.setCallback([&] {
        heartbeat.updateTimestamp();
        ++calls;
    });
    const auto started = Clock::now();
    heartbeat.start(40);
    EXPECT_TRUE(heartbeat.isRunning());
    ASSERT_TRUE(pollUntil(5s, [&] { return calls.load() >= 3; }));
    EXPECT_GE(Clock::now() - started, 120ms);
}

TEST(HeartbeatManagerTest, SecondStartTakesTheNewIntervalAndAStartAfterStopWaitsAgain) {
    Common::HeartbeatManager heartbeat(5);
    std::atomic<int> calls{0};
    heartbeat.setCallback([&] { ++calls; });
    heartbeat.start(60000);
    heartbeat.start(20);
    ASSERT_TRUE(pollUntil(5s, [&] { return calls.load() >= 1; }));
    heartbeat.stop();
    heartbeat.stop(); // harmless when not running
    EXPECT_FALSE(heartbeat.isRunning());
    const int afterStop = calls.load();
    heartbeat.start(60000);
    EXPECT_EQ(calls.load(), afterStop);
}

TEST(HeartbeatManagerTest, StopAndDestructionReturnWithoutWaitingForTheCheckInterval) {
    const auto before = Clock::now();
    {
        Common::HeartbeatManager heartbeat(10000);
        heartbeat.setCallback([] {});
        heartbeat.start(2000);
        heartbeat.stop();
        Common::HeartbeatManager running(10000);
        running.start(2000);
    }
    EXPECT_LT(Clock::now() - before, 1s);
}

TEST(HeartbeatManagerTest, CallbackMayStopTheTimer) {
    Common::HeartbeatManager heartbeat(5);
    std::atomic<int> calls{0};
    heartbeat.setCallback([&] {
        ++calls;
        heartbeat.stop();
    });
    heartbeat.start(10);
    EXPECT_TRUE(pollUntil(5s, [&] { return calls.load() >= 1 && !heartbeat.isRunning(); }));
    EXPECT_EQ(calls.load(), 1);
}

} // namespace
