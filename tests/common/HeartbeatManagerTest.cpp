// The heartbeat timer beyond the idle beat the transport tests see through the socket
// client: restarts and prompt stops.
#include "common/HeartbeatManager.h"
#include "tests/support/PollUntil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

using namespace std::chrono_literals;
using zxtest::pollUntil;

namespace {

TEST(HeartbeatManagerTest, RestartTakesTheNewIntervalAndStopsReturnAtOnce) {
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
    heartbeat.start(60000); // waits the idle time again
    EXPECT_EQ(calls.load(), afterStop);

    // neither stop nor destruction waits for a check interval to run out
    const auto before = std::chrono::steady_clock::now();
    {
        Common::HeartbeatManager slow(10000);
        slow.start(2000);
        slow.stop();
        slow.start(2000);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1s);
}

} // namespace
