// The crash hook in real dying processes: the handler runs once, then the process
// ends by the signal that killed it. A handler that was there before takes the signal
// instead: it recovers (the process lives on) or ends the process itself; an abort or
// a fault in our own code runs ours first.
#include "common/Utils.h"
#include "tests/support/FileText.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csetjmp>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
    if (fd >= 0 && ::write(fd, text, std::char_traits<char>::length(text)) >= 0) {
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

// A fault in code that is not the hook's (the C library here, a runtime's own code in a host).
void faultElsewhere() {
#if defined(ZX_SANITIZED)
    std::raise(SIGSEGV);
#else
    static std::size_t (*volatile length)(const char*) = std::strlen;
    volatile const char* volatile nowhere = nullptr;
    std::printf("%zu\n", length(const_cast<const char*>(nowhere)));
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

// A runtime's handler: a fault it knows becomes an exception of its own, and the
// program goes on from where it catches it.
sigjmp_buf recoverPoint;

void recoveringHandler(int) {
    appendMarker("previous\n");
    siglongjmp(recoverPoint, 1);
}

// A runtime meeting a fault it does not know aborts.
void abortingHandler(int) {
    appendMarker("previous\n");
    std::abort();
}

struct CrashCase {
    const char* name;
    void (*handler)();
    void (*previous)(int); // a handler of the program's own, installed before the hook
    int previousOn;        // for this signal
    bool removed;          // the hook removed again before the crash
    void (*crash)();
    int end;            // the signal that ends the process, -N for exit code N, 0 any failure
    const char* marker; // what the handlers wrote
};

constexpr int kRecovered = 7; // the exit code of a process that went on after the fault

bool endedAs(int end, int status) {
#if defined(ZX_SANITIZED)
    end = end == SIGSEGV ? 0 : end; // a sanitizer may still report the fault first and exit with an error
#endif
    if (end > 0) {
        return WIFSIGNALED(status) && WTERMSIG(status) == end;
    }
    return end < 0 ? WIFEXITED(status) && WEXITSTATUS(status) == -end
                   : !(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

const CrashCase kCases[] = {
    {"SegfaultRunsTheHandlerAndStillKillsTheProcess", markRan, nullptr, SIGSEGV, false, segfault, SIGSEGV,
     "ran\n"},
    {"AbortRunsTheHandlerAndEndsByAbort", markRan, nullptr, SIGSEGV, false, std::abort, SIGABRT, "ran\n"},
    {"HandlerThatFailsItselfRunsOnlyOnce", markThenAbort, nullptr, SIGSEGV, false, segfault, 0, "ran\n"},
    {"HandlerThatHangsIsCutOff", markThenHang, nullptr, SIGSEGV, false, raiseSegfault, SIGSEGV, "ran\n"},
    {"HandlerInstalledBeforeTakesTheSignalInsteadOfOurs", markRan, previousHandler, SIGSEGV, false,
     faultElsewhere, -42, "previous\n"},
    {"HandlerInstalledBeforeThatRecoversKeepsTheProcessGoing", markRan, recoveringHandler, SIGSEGV, false,
     faultElsewhere, -kRecovered, "previous\nrecovered\n"},
    {"HandlerInstalledBeforeThatAbortsStillRunsOurs", markRan, abortingHandler, SIGSEGV, false,
     faultElsewhere, SIGABRT, "previous\nran\n"},
#if !defined(ZX_SANITIZED) // a raised signal comes from no instruction of ours
    // no runtime recovers from a fault in the library's own code
    {"FaultInOurOwnCodeRunsOursBeforeTheHandlerInstalledBefore", markRan, previousHandler, SIGSEGV, false,
     segfault, -42, "ran\nprevious\n"},
#endif
    {"AbortRunsOursBeforeTheHandlerInstalledBefore", markRan, previousHandler, SIGABRT, false, std::abort,
     -42, "ran\nprevious\n"},
    // and puts back the handler that was there before
    {"RemovedHookNoLongerRunsTheHandler", markRan, previousHandler, SIGSEGV, true, raiseSegfault, -42,
     "previous\n"},
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
            // What was there before is the case's alone (a sanitizer has a handler of its own).
            struct sigaction action {};
            action.sa_handler = c.previous != nullptr ? c.previous : SIG_DFL;
            sigemptyset(&action.sa_mask);
            sigaction(c.previousOn, &action, nullptr);
            Common::Utils::registerCrashHandler(c.handler);
            Common::Utils::setupCrashHandler();
            Common::Utils::setupCrashHandler(); // must not keep our own handler as "previous"
            if (c.removed) {
                Common::Utils::removeCrashHandler();
            }
            if (sigsetjmp(recoverPoint, 1) == 0) {
                c.crash();
                std::_Exit(0);
            }
            appendMarker("recovered\n");
            std::_Exit(kRecovered);
        },
        [&c](int status) { return endedAs(c.end, status); }, "");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_EQ(zxtest::readFile(markerPath(::getpid())), c.marker);
}

INSTANTIATE_TEST_SUITE_P(Crash, CrashHandlerTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
