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
std::atomic<bool> exitReleased{false}, exitFinished{false};

struct ExitHolder {
    ~ExitHolder() {
        pollUntil(
            60s, [] { return exitReleased.load(); }, 1ms);
        exitFinished.store(true);
    }
};

class ThreadJoinTest : public ::testing::Test {
protected:
    void SetUp() override { exitReleased = exitFinished = false; }
    void TearDown() override {
        Common::setUnloadingUnderLoaderLock(false);
        finishBody_ = exitReleased = true;
        if (helper_.joinable()) {
            helper_.join();
        }
        // the held thread must be gone before the next case resets the flags
        EXPECT_TRUE(pollUntil(5s, [this] { return exitFinished && bodyDone_; }));
    }

    // The thread's body returns once finishBody_ is set, then it waits in its exit. The
    // helper runs beside it (started first: on Windows the held exit holds the loader lock).
    std::thread startHeldThread(std::function<void()> helper = {}) {
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

    std::atomic<bool> bodyDone_{false}, finishBody_{false}, joined_{false};
    std::thread helper_;
};

// The join waits for the body, then lets go without waiting for the exit (a join that
// waited for the exit would be released after 5 s and fail the case).
TEST_F(ThreadJoinTest, WhileUnloadingWaitsForTheBodyButNotForTheExit) {
    std::thread thread = startHeldThread([this] {
        std::this_thread::sleep_for(30ms);
        finishBody_ = true;
        if (!pollUntil(5s, [this] { return joined_.load(); })) {
            exitReleased = true;
        }
    });
    Common::setUnloadingUnderLoaderLock(true);
    Common::joinThread(thread, bodyDone_);
    joined_ = true;
    EXPECT_TRUE(bodyDone_.load());
    EXPECT_FALSE(exitFinished.load()) << "joinThread waited for the thread's exit";
    EXPECT_FALSE(thread.joinable());
}

TEST_F(ThreadJoinTest, WhenTheProcessExitsLetsGoAtOnceEvenOfARunningBody) {
    std::thread thread = startHeldThread();
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
