// Ending threads while the library is being unloaded: a thread whose body has returned
// but whose exit cannot finish yet is let go instead of joined. A thread_local destructor
// holds the exit here; mingw runs those where this hold cannot be reproduced, so the
// Windows build checks the unload end to end with the host program instead.
#include "common/ThreadJoin.h"
#include "tests/common/PollUntil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace std::chrono_literals;
using zxtest::pollUntil;

namespace {

// Holds a thread in its exit, after its body has returned, the way the loader lock
// holds a Windows thread during an unload. Static: the thread outlives the test's
// locals once it has been let go. On Windows the exit holds the loader lock meanwhile,
// so every helper thread of a case starts before the held thread.
std::atomic<bool> exitReleased{false};
std::atomic<bool> exitFinished{false};

struct ExitHolder {
    void arm() {}
    ~ExitHolder() {
        while (!exitReleased.load()) {
            std::this_thread::sleep_for(1ms);
        }
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
        EXPECT_TRUE(pollUntil([] { return exitFinished.load(); }));
    }

    // A thread that ends its body once `finishBody` is set and then waits in its exit.
    std::thread startHeldThread(std::atomic<bool>& bodyDone, std::atomic<bool>& finishBody) {
        bodyDone.store(false);
        return std::thread([&bodyDone, &finishBody] {
            thread_local ExitHolder holder;
            holder.arm();
            const Common::ThreadBodyDone done(bodyDone);
            while (!finishBody.load()) {
                std::this_thread::sleep_for(1ms);
            }
        });
    }

    // Releases the held exit after a while if joinThread has not returned by then, so a
    // join that waits for the exit fails the case instead of hanging the program.
    std::thread watchdog(std::atomic<bool>& joined, std::atomic<bool>& fired) {
        return std::thread([&joined, &fired] {
            if (!pollUntil([&] { return joined.load(); }, 5s)) {
                fired.store(true);
                exitReleased.store(true);
            }
        });
    }
};

TEST_F(ThreadJoinTest, NormallyJoinsTheWholeThreadIncludingItsExit) {
    std::atomic<bool> bodyDone{false};
    std::atomic<bool> finishBody{true};
    std::thread releaser([&bodyDone] {
        pollUntil([&] { return bodyDone.load(); });
        std::this_thread::sleep_for(20ms);
        exitReleased.store(true);
    });
    std::thread thread = startHeldThread(bodyDone, finishBody);
    Common::joinThread(thread, bodyDone);
    EXPECT_TRUE(exitFinished.load()); // the exit had ended before the join returned
    EXPECT_FALSE(thread.joinable());
    releaser.join();
}

TEST_F(ThreadJoinTest, WhileUnloadingLetsGoOfAThreadWhoseBodyReturnedWithoutWaitingForItsExit) {
    std::atomic<bool> bodyDone{false};
    std::atomic<bool> finishBody{true};
    std::atomic<bool> joined{false};
    std::atomic<bool> fired{false};
    std::thread guard = watchdog(joined, fired);
    std::thread thread = startHeldThread(bodyDone, finishBody);
    Common::setUnloadingUnderLoaderLock(true);
    Common::joinThread(thread, bodyDone);
    joined.store(true);
    guard.join();
    EXPECT_FALSE(fired.load()) << "joinThread waited for the thread's exit";
    EXPECT_TRUE(bodyDone.load());
    EXPECT_FALSE(exitFinished.load());
    EXPECT_FALSE(thread.joinable());
}

TEST_F(ThreadJoinTest, WhileUnloadingWaitsUntilTheBodyHasReturned) {
    std::atomic<bool> bodyDone{false};
    std::atomic<bool> finishBody{false};
    std::thread finisher([&finishBody] {
        std::this_thread::sleep_for(30ms);
        finishBody.store(true);
    });
    std::thread thread = startHeldThread(bodyDone, finishBody);
    Common::setUnloadingUnderLoaderLock(true);
    Common::joinThread(thread, bodyDone);
    EXPECT_TRUE(bodyDone.load()); // let go only after the body's last act
    EXPECT_FALSE(thread.joinable());
    finisher.join();
}

TEST_F(ThreadJoinTest, WhenTheProcessExitsLetsGoAtOnceEvenOfARunningBody) {
    std::atomic<bool> bodyDone{false};
    std::atomic<bool> finishBody{false};
    std::thread thread = startHeldThread(bodyDone, finishBody);
    Common::setUnloadingUnderLoaderLock(true, true);
    Common::joinThread(thread, bodyDone);
    EXPECT_FALSE(thread.joinable());
    EXPECT_FALSE(bodyDone.load());
    finishBody.store(true);
    // finishBody is a local: the let-go body must have left before the case returns
    ASSERT_TRUE(pollUntil([&] { return bodyDone.load(); }));
}

// The crash path may stop the very thread it runs on (a writer that faulted): that
// thread is let go instead of joined, which would fail.
TEST(ThreadJoinOfItself, AThreadStoppingItselfIsLetGo) {
    std::thread thread;
    std::atomic<bool> assigned{false};
    std::atomic<bool> bodyDone{false};
    std::atomic<bool> threw{false};
    std::atomic<bool> stillJoinable{true};
    std::atomic<bool> finished{false};
    thread = std::thread([&] {
        while (!assigned.load()) {
            std::this_thread::sleep_for(1ms);
        }
        try {
            Common::joinThread(thread, bodyDone);
        } catch (...) {
            threw.store(true);
        }
        stillJoinable.store(thread.joinable());
        finished.store(true);
    });
    assigned.store(true);
    ASSERT_TRUE(pollUntil([&] { return finished.load(); }));
    EXPECT_FALSE(threw.load());
    EXPECT_FALSE(stillJoinable.load());
    if (thread.joinable()) {
        thread.join();
    }
}

} // namespace
