// Ending threads while the library is being unloaded: a thread whose body has returned
// but whose exit cannot finish yet is let go instead of joined. A thread_local destructor
// holds the exit here; mingw runs those where this hold cannot be reproduced, so the
// Windows build checks the unload end to end with the host program instead.
#include "common/ThreadJoin.h"
#include "tests/support/PollUntil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

using namespace std::chrono_literals;
using zxtest::pollUntil;

namespace {

// Holds a thread in its exit, after its body has returned, the way the loader lock
// holds a Windows thread during an unload. Static: a let-go thread outlives the case.
std::atomic<bool> exitReleased{false};
std::atomic<bool> exitFinished{false};

struct ExitHolder {
    ~ExitHolder() {
        pollUntil(
            60s, [] { return exitReleased.load(); }, 1ms);
        exitFinished.store(true);
    }
};

class ThreadJoinTest : public ::testing::Test {
protected:
    void SetUp() override {
        exitReleased.store(false);
        exitFinished.store(false);
    }
    void TearDown() override {
        Common::setUnloadingUnderLoaderLock(false);
        exitReleased.store(true);
        // the held thread must be gone before the next case resets the flags
        EXPECT_TRUE(pollUntil(5s, [] { return exitFinished.load(); }));
        finishBody_.store(true);
        if (helper_.joinable()) {
            helper_.join();
        }
    }

    // The thread ends its body once finishBody_ is set and then waits in its exit. The
    // helper runs beside it (started first: on Windows the held exit holds the loader lock).
    std::thread startHeldThread(bool finishAtOnce, std::function<void()> helper = {}) {
        finishBody_.store(finishAtOnce);
        if (helper) {
            helper_ = std::thread(std::move(helper));
        }
        return std::thread([this] {
            thread_local ExitHolder holder;
            (void)holder;
            const Common::ThreadBodyDone done(bodyDone_);
            pollUntil(
                60s, [this] { return finishBody_.load(); }, 1ms);
        });
    }

    std::atomic<bool> bodyDone_{false};
    std::atomic<bool> finishBody_{false};
    std::thread helper_;
};

TEST_F(ThreadJoinTest, NormallyJoinsTheWholeThreadIncludingItsExit) {
    std::thread thread = startHeldThread(true, [this] {
        pollUntil(5s, [this] { return bodyDone_.load(); });
        std::this_thread::sleep_for(20ms);
        exitReleased.store(true);
    });
    Common::joinThread(thread, bodyDone_);
    EXPECT_TRUE(exitFinished.load()); // the exit had ended before the join returned
    EXPECT_FALSE(thread.joinable());
}

TEST_F(ThreadJoinTest, WhileUnloadingLetsGoOfAThreadWhoseBodyReturnedWithoutWaitingForItsExit) {
    // A join that waited for the exit would be released after 5 s and fail the case.
    std::atomic<bool> joined{false};
    std::thread thread = startHeldThread(true, [&joined] {
        if (!pollUntil(5s, [&joined] { return joined.load(); })) {
            exitReleased.store(true);
        }
    });
    Common::setUnloadingUnderLoaderLock(true);
    Common::joinThread(thread, bodyDone_);
    joined.store(true);
    EXPECT_TRUE(bodyDone_.load());
    EXPECT_FALSE(exitFinished.load()) << "joinThread waited for the thread's exit";
    EXPECT_FALSE(thread.joinable());
    helper_.join(); // joined is a local
}

TEST_F(ThreadJoinTest, WhileUnloadingWaitsUntilTheBodyHasReturned) {
    std::thread thread = startHeldThread(false, [this] {
        std::this_thread::sleep_for(30ms);
        finishBody_.store(true);
    });
    Common::setUnloadingUnderLoaderLock(true);
    Common::joinThread(thread, bodyDone_);
    EXPECT_TRUE(bodyDone_.load()); // let go only after the body's last act
    EXPECT_FALSE(thread.joinable());
}

TEST_F(ThreadJoinTest, WhenTheProcessExitsLetsGoAtOnceEvenOfARunningBody) {
    std::thread thread = startHeldThread(false);
    Common::setUnloadingUnderLoaderLock(true, true);
    Common::joinThread(thread, bodyDone_);
    EXPECT_FALSE(thread.joinable());
    EXPECT_FALSE(bodyDone_.load());
    finishBody_.store(true);
    // the let-go body uses this fixture: it must have left before the case ends
    ASSERT_TRUE(pollUntil(5s, [this] { return bodyDone_.load(); }));
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
            threw.store(true);
        }
        stillJoinable.store(thread.joinable());
        finished.store(true);
    });
    assigned.store(true);
    ASSERT_TRUE(pollUntil(5s, [&] { return finished.load(); }));
    EXPECT_FALSE(threw.load());
    EXPECT_FALSE(stillJoinable.load());
    if (thread.joinable()) {
        thread.join();
    }
}

} // namespace
