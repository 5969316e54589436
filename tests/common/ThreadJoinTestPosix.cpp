// Ending threads while the library is being unloaded or the process exits, and a thread
// stopping itself. That a join under the Windows loader lock does not wait for the
// thread's exit (which needs that lock) is checked end to end by the Windows host
// program, which unloads the DLL with the device open and saving (win-host-check.sh).
#include "common/ThreadJoin.h"
#include "tests/support/PollUntil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace std::chrono_literals;
using zxtest::pollUntil;

namespace {

class ThreadJoinTest : public ::testing::Test {
protected:
    void TearDown() override {
        Common::setUnloadingUnderLoaderLock(false);
        finish_ = true;
        // a let-go body uses this fixture: it must have left before the case ends
        EXPECT_TRUE(pollUntil(5s, [this] { return bodyDone_.load(); }));
    }
    // A thread whose body returns once finish_ is set.
    std::thread start() {
        return std::thread([this] {
            const Common::ThreadBodyDone done(bodyDone_);
            pollUntil(
                60s, [this] { return finish_.load(); }, 1ms);
        });
    }
    std::atomic<bool> bodyDone_{false}, finish_{false};
};

TEST_F(ThreadJoinTest, WhileUnloadingWaitsUntilTheBodyHasReturned) {
    std::thread thread = start();
    std::thread finisher([this] {
        std::this_thread::sleep_for(30ms);
        finish_ = true;
    });
    Common::setUnloadingUnderLoaderLock(true);
    Common::joinThread(thread, bodyDone_);
    EXPECT_TRUE(bodyDone_.load()); // let go only after the body's last act
    EXPECT_FALSE(thread.joinable());
    finisher.join();
}

TEST_F(ThreadJoinTest, WhenTheProcessExitsLetsGoAtOnceEvenOfARunningBody) {
    std::thread thread = start();
    Common::setUnloadingUnderLoaderLock(true, true);
    Common::joinThread(thread, bodyDone_);
    EXPECT_FALSE(thread.joinable());
    EXPECT_FALSE(bodyDone_.load());
}

// The crash path may stop the very thread it runs on (a writer that faulted): that
// thread is let go instead of joined, which would fail.
TEST(ThreadJoinOfItself, AThreadStoppingItselfIsLetGo) {
    std::thread thread;
    std::atomic<bool> assigned{false}, bodyDone{false}, threw{false}, stillJoinable{true}, finished{false};
    thread = std::thread([&] {
        pollUntil(
            5s, [&] { return assigned.load(); }, 1ms);
        try {
            Common::joinThread(thread, bodyDone);
        } catch (...) {
            threw = true;
        }
        stillJoinable = thread.joinable();
        finished = true;
    });
    assigned = true;
    ASSERT_TRUE(pollUntil(5s, [&] { return finished.load(); }));
    EXPECT_FALSE(threw.load());
    EXPECT_FALSE(stillJoinable.load());
    if (thread.joinable()) {
        thread.join();
    }
}

} // namespace
