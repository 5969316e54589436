// A host process that cannot start threads (its thread limit reached): the library's
// calls fail with their codes instead of throwing into the host. This program stands
// in for such a process by refusing pthread_create on request; the library resolves
// pthread_create to this definition, as it would to any host's.
#include "tests/support/FileText.h"
#include "tests/support/InProcessSimulator.h"
#include "tests/support/TempDir.h"
#include "zxcollector_api.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <string>

#include <dlfcn.h>
#include <pthread.h>

namespace {

// While refusing, this many more thread starts succeed before every further one fails.
std::atomic<bool> refuseThreads{false};
std::atomic<int> threadsLeft{0};

using PthreadCreate = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

} // namespace

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*body)(void*),
                              void* argument) {
    if (refuseThreads.load() && threadsLeft.fetch_sub(1) <= 0) {
        return EAGAIN;
    }
    static const auto next = reinterpret_cast<PthreadCreate>(dlsym(RTLD_NEXT, "pthread_create"));
    return next(thread, attributes, body, argument);
}

namespace {

class ThreadStartFailureTest : public zxtest::SimulatorTest {
protected:
    void TearDown() override {
        refuseThreads = false;
        ZxCloseDev(0xFFFFFFFFu);
        ZxCloseLog();
        zxtest::SimulatorTest::TearDown();
    }
};

// The open starts the receive thread first, then the heartbeat: either may be refused.
TEST_F(ThreadStartFailureTest, OpenThatCannotStartItsThreadsFailsWithItsCodeAndCanBeRetried) {
    zxtest::TempDir folder;
    const std::string log = (folder / "zx.log").string();
    ASSERT_EQ(ZxOpenLog(log.c_str(), 0, 10, 3), ZX_OK);
    for (const int startsBeforeRefusal : {0, 1}) {
        threadsLeft = startsBeforeRefusal;
        refuseThreads = true;
        EXPECT_EQ(ZxOpenDev(0, 0, 1), ZX_ERR_OPEN_DEVICE) << startsBeforeRefusal;
        refuseThreads = false;

        // Nothing of the failed open is left behind: the same device opens again.
        ASSERT_EQ(ZxOpenDev(0, 0, 1), ZX_OK) << startsBeforeRefusal;
        ASSERT_EQ(ZxInitCAN(0, 0, 500000), ZX_OK) << startsBeforeRefusal;
        ASSERT_EQ(ZxCloseDev(0), ZX_OK) << startsBeforeRefusal;
    }
    ASSERT_EQ(ZxCloseLog(), ZX_OK);
    EXPECT_NE(zxtest::readFile(log).find("ZxOpenDev failed: "), std::string::npos) << zxtest::readFile(log);
}

} // namespace
