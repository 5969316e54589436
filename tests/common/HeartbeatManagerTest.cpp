// The heartbeat timer on real threads and the steady clock.
#include "common/HeartbeatManager.h"
#include "tests/common/PollUntil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using zxtest::pollUntil;

namespace {

TEST(HeartbeatManagerTest, FiresOnceNothingWasSentForTheIdleInterval) {
    Common::HeartbeatManager heartbeat(5);
    std::atomic<int> calls{0};
    heartbeat.setCallback([&] { ++calls; });
    const auto started = Clock::now();
    heartbeat.start(60);
    EXPECT_TRUE(heartbeat.isRunning());
    ASSERT_TRUE(pollUntil([&] { return calls.load() >= 1; }));
    // the idle time counts from the start
    EXPECT_GE(Clock::now() - started, 60ms);
}

TEST(HeartbeatManagerTest, StaysQuietWhileSendsKeepComing) {
    Common::HeartbeatManager heartbeat(5);
    std::atomic<int> calls{0};
    heartbeat.setCallback([&] { ++calls; });
    heartbeat.start(300);
    const auto end = Clock::now() + 600ms;
    while (Clock::now() < end) {
        heartbeat.updateTimestamp();
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_EQ(calls.load(), 0);
}

TEST(HeartbeatManagerTest, CallbackThatSendsSpacesHeartbeatsByTheIdleInterval) {
    Common::HeartbeatManager heartbeat(5);
    std::atomic<int> calls{0};
    // Like the socket client: the heartbeat is a send, and a send updates the timestamp.
    heartbeat.setCallback([&] {
        heartbeat.updateTimestamp();
        ++calls;
    });
    const auto started = Clock::now();
    heartbeat.start(40);
    ASSERT_TRUE(pollUntil([&] { return calls.load() >= 3; }));
    EXPECT_GE(Clock::now() - started, 120ms);
}

TEST(HeartbeatManagerTest, StopReturnsWithoutWaitingForTheCheckInterval) {
    Common::HeartbeatManager heartbeat(10000);
    heartbeat.setCallback([] {});
    heartbeat.start(2000);
    const auto before = Clock::now();
    heartbeat.stop();
    EXPECT_LT(Clock::now() - before, 1s);
    EXPECT_FALSE(heartbeat.isRunning());
    heartbeat.stop(); // harmless when not running

    const auto destroyed = Clock::now();
    {
        Common::HeartbeatManager running(10000);
        running.start(2000);
    }
    EXPECT_LT(Clock::now() - destroyed, 1s);
}

TEST(HeartbeatManagerTest, SecondStartUsesTheNewInterval) {
    Common::HeartbeatManager heartbeat(5);
    std::atomic<int> calls{0};
    heartbeat.setCallback([&] { ++calls; });
    heartbeat.start(60000);
    heartbeat.start(20);
    ASSERT_TRUE(pollUntil([&] { return calls.load() >= 1; }));
    heartbeat.stop();
    const int afterStop = calls.load();
    EXPECT_FALSE(heartbeat.isRunning());
    heartbeat.start(60000);
    EXPECT_TRUE(heartbeat.isRunning());
    EXPECT_EQ(calls.load(), afterStop);
}

TEST(HeartbeatManagerTest, CallbackMayStopTheTimer) {
    Common::HeartbeatManager heartbeat(5);
    std::atomic<int> calls{0};
    heartbeat.setCallback([&] {
        ++calls;
        heartbeat.stop();
    });
    heartbeat.start(10);
    ASSERT_TRUE(pollUntil([&] { return calls.load() >= 1; }));
    EXPECT_TRUE(pollUntil([&] { return !heartbeat.isRunning(); }));
    EXPECT_EQ(calls.load(), 1);
}

} // namespace
