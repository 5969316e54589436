// A thread ending while the DLL is being unloaded under the loader lock: its exit cannot
// be waited for there, so once its body has returned it must run nothing more of ours
// (or of the thread runtime's DLLs, which the unload may take away too). The unload with
// a device open and saving is checked end to end by win-host-check.sh.
#include "common/ThreadJoin.h"
#include "tests/support/PollUntil.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace std::chrono_literals;

namespace {

TEST(ThreadJoinWhileUnloading, AThreadWhoseBodyReturnedRunsNothingMoreOfOurs) {
    std::atomic<bool> bodyDone{false}, finish{false}, ranAfterBody{false};
    std::atomic<DWORD> threadId{0};
    std::thread thread([&] {
        threadId = GetCurrentThreadId();
        {
            const Common::ThreadBodyDone done(bodyDone);
            zxtest::pollUntil(
                10s, [&] { return finish.load(); }, 1ms);
        }
        // Stands for the runtime's exit code after the body, in DLLs that may be gone.
        std::this_thread::sleep_for(100ms);
        ranAfterBody = true;
    });
    ASSERT_TRUE(zxtest::pollUntil(5s, [&] { return threadId.load() != 0; }));
    const HANDLE handle = OpenThread(SYNCHRONIZE, FALSE, threadId.load());
    ASSERT_NE(handle, nullptr);

    Common::setUnloadingUnderLoaderLock(true);
    finish = true;
    Common::joinThread(thread, bodyDone);
    Common::setUnloadingUnderLoaderLock(false);

    EXPECT_FALSE(thread.joinable());
    // Here no loader lock is held, so the thread finishes exiting at once.
    EXPECT_EQ(WaitForSingleObject(handle, 5000), WAIT_OBJECT_0);
    CloseHandle(handle);
    EXPECT_FALSE(ranAfterBody.load()) << "the thread went on after its body";
}

} // namespace
