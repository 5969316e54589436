// The crash hook in real dying processes: the handler runs once, then the process
// ends by the signal that killed it (or the handler that was there before runs).
#include "common/Utils.h"
#include "tests/support/FileText.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The dying child and the watching parent agree on the marker file through the
// parent's process id.
std::string markerPath(pid_t parent) {
    return (std::filesystem::temp_directory_path() / ("zx_common_crash_" + std::to_string(parent))).string();
}

char childMarker[256];

void appendMarker(const char* text) {
    const int fd = ::open(childMarker, O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (fd >= 0) {
        const ssize_t ignored = ::write(fd, text, std::char_traits<char>::length(text));
        (void)ignored;
        ::close(fd);
    }
}

void segfault() {
#if defined(ZX_SANITIZED)
    std::raise(SIGSEGV); // a real null access would be reported by the sanitizer first
#else
    volatile int* volatile nowhere = nullptr;
    *nowhere = 1;
#endif
}

void raiseSegfault() {
    std::raise(SIGSEGV);
}

void markRan() {
    appendMarker("ran\n");
}

void markThenAbort() {
    appendMarker("ran\n");
    std::abort();
}

// stuck on a lock the failing thread holds: cut off after the 2 s bound
void markThenHang() {
    appendMarker("ran\n");
    std::this_thread::sleep_for(std::chrono::seconds(20));
    appendMarker("returned\n");
}

void previousHandler(int) {
    appendMarker("previous\n");
    std::_Exit(42);
}

enum class End { BySegfault, ByRaisedSegfault, ByAbort, NotCleanly, With42 };

bool endedAs(End end, int status) {
    const bool clean = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    switch (end) {
    case End::BySegfault:
#if defined(ZX_SANITIZED)
        return !clean; // a sanitizer's handler, installed before ours and chained, exits with an error
#else
        [[fallthrough]];
#endif
    case End::ByRaisedSegfault:
        return WIFSIGNALED(status) && WTERMSIG(status) == SIGSEGV;
    case End::ByAbort:
        return WIFSIGNALED(status) && WTERMSIG(status) == SIGABRT;
    case End::NotCleanly:
        return !clean;
    case End::With42:
        return WIFEXITED(status) && WEXITSTATUS(status) == 42;
    }
    return false;
}

struct CrashCase {
    const char* name;
    void (*handler)();
    bool previousInstalled; // a handler of the program's own, installed before the hook
    bool removed;           // the hook removed again before the crash
    void (*crash)();
    End end;
    const char* marker; // what the handlers wrote
};

const CrashCase kCases[] = {
    {"SegfaultRunsTheHandlerAndStillKillsTheProcess", markRan, false, false, segfault, End::BySegfault,
     "ran\n"},
    {"AbortRunsTheHandlerAndEndsByAbort", markRan, false, false, std::abort, End::ByAbort, "ran\n"},
    {"HandlerThatFailsItselfRunsOnlyOnce", markThenAbort, false, false, segfault, End::NotCleanly, "ran\n"},
    {"HandlerThatHangsIsCutOff", markThenHang, false, false, raiseSegfault, End::ByRaisedSegfault, "ran\n"},
    {"HandlerInstalledBeforeRunsAfterOurs", markRan, true, false, raiseSegfault, End::With42,
     "ran\nprevious\n"},
    {"RemovedHookNoLongerRunsTheHandler", markRan, false, true, std::abort, End::ByAbort, ""},
};

class CrashHandlerTest : public ::testing::TestWithParam<CrashCase> {
protected:
    void TearDown() override {
        Common::Utils::removeCrashHandler();
        std::filesystem::remove(markerPath(::getpid()));
    }
};

TEST_P(CrashHandlerTest, InADyingProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const CrashCase& c = GetParam();
    std::filesystem::remove(markerPath(::getpid()));
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EXIT(
        {
            markerPath(::getppid()).copy(childMarker, sizeof(childMarker) - 1);
            if (c.previousInstalled) {
                struct sigaction action {};
                action.sa_handler = previousHandler;
                sigemptyset(&action.sa_mask);
                sigaction(SIGSEGV, &action, nullptr);
            }
            Common::Utils::registerCrashHandler(c.handler);
            Common::Utils::setupCrashHandler();
            if (c.removed) {
                Common::Utils::removeCrashHandler();
            }
            c.crash();
            std::_Exit(0);
        },
        [&c](int status) { return endedAs(c.end, status); }, "");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_EQ(zxtest::readFile(markerPath(::getpid())), c.marker);
}

INSTANTIATE_TEST_SUITE_P(Crash, CrashHandlerTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CrashHandlerSetup, RemovedHookPutsBackThePreviousActions) {
    const int signals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
    struct sigaction before[5];
    for (int i = 0; i < 5; ++i) {
        sigaction(signals[i], nullptr, &before[i]);
    }
    Common::Utils::registerCrashHandler([] {});
    Common::Utils::setupCrashHandler();
    Common::Utils::setupCrashHandler(); // a second setup must not save our own handler as "previous"
    Common::Utils::removeCrashHandler();
    Common::Utils::removeCrashHandler();
    for (int i = 0; i < 5; ++i) {
        struct sigaction after {};
        sigaction(signals[i], nullptr, &after);
        EXPECT_EQ(after.sa_handler, before[i].sa_handler) << signals[i];
    }
}

} // namespace
