// The crash hook in real dying processes: the handler runs once, then the process
// ends by the signal that killed it (or the handler that was there before runs).
#include "common/Utils.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
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

void prepareChild() {
    const std::string path = markerPath(::getppid());
    path.copy(childMarker, sizeof(childMarker) - 1);
}

void segfault() {
#if defined(ZX_SANITIZED)
    std::raise(SIGSEGV); // a real null access would be reported by the sanitizer first
#else
    volatile int* volatile nowhere = nullptr;
    *nowhere = 1;
#endif
}

// How a process killed by sig ends here: by the signal, or, where a sanitizer's own
// handler was installed before ours and is chained, by its error exit.
bool endedBy(int status, int sig) {
#if defined(ZX_SANITIZED)
    (void)sig;
    return !(WIFEXITED(status) && WEXITSTATUS(status) == 0);
#else
    return WIFSIGNALED(status) && WTERMSIG(status) == sig;
#endif
}

class CrashHandlerTest : public ::testing::Test {
protected:
    void SetUp() override {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        marker_ = markerPath(::getpid());
        std::filesystem::remove(marker_);
    }
    void TearDown() override {
        Common::Utils::removeCrashHandler();
        std::filesystem::remove(marker_);
    }
    std::string marker() const {
        std::ifstream in(marker_);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::string marker_;
};

TEST_F(CrashHandlerTest, SegfaultRunsHandlerAndStillKillsTheProcess) {
    EXPECT_EXIT(
        {
            prepareChild();
            Common::Utils::registerCrashHandler([] { appendMarker("ran\n"); });
            Common::Utils::setupCrashHandler();
            segfault();
            std::_Exit(0);
        },
        [](int status) { return endedBy(status, SIGSEGV); }, "");
    EXPECT_EQ(marker(), "ran\n");
}

TEST_F(CrashHandlerTest, AbortRunsHandlerAndEndsByAbort) {
    EXPECT_EXIT(
        {
            prepareChild();
            Common::Utils::registerCrashHandler([] { appendMarker("ran\n"); });
            Common::Utils::setupCrashHandler();
            std::abort();
        },
        ::testing::KilledBySignal(SIGABRT), "");
    EXPECT_EQ(marker(), "ran\n");
}

TEST_F(CrashHandlerTest, HandlerThatFailsItselfRunsOnlyOnce) {
    EXPECT_EXIT(
        {
            prepareChild();
            Common::Utils::registerCrashHandler([] {
                appendMarker("ran\n");
                std::abort();
            });
            Common::Utils::setupCrashHandler();
            segfault();
            std::_Exit(0);
        },
        [](int status) { return !(WIFEXITED(status) && WEXITSTATUS(status) == 0); }, "");
    EXPECT_EQ(marker(), "ran\n");
}

// A handler stuck on a lock the failing thread holds: the process ends by its signal
// after the 2 s bound, long before the handler would return.
TEST_F(CrashHandlerTest, HandlerThatHangsIsCutOffAndTheProcessEndsByItsSignal) {
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EXIT(
        {
            prepareChild();
            Common::Utils::registerCrashHandler([] {
                appendMarker("ran\n");
                std::this_thread::sleep_for(std::chrono::seconds(20));
                appendMarker("returned\n");
            });
            Common::Utils::setupCrashHandler();
            std::raise(SIGSEGV);
            std::_Exit(0);
        },
        ::testing::KilledBySignal(SIGSEGV), "");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_EQ(marker(), "ran\n");
}

void previousHandler(int) {
    appendMarker("previous\n");
    std::_Exit(42);
}

TEST_F(CrashHandlerTest, HandlerInstalledBeforeRunsAfterOurs) {
    EXPECT_EXIT(
        {
            prepareChild();
            struct sigaction action {};
            action.sa_handler = previousHandler;
            sigemptyset(&action.sa_mask);
            sigaction(SIGSEGV, &action, nullptr);
            Common::Utils::registerCrashHandler([] { appendMarker("ran\n"); });
            Common::Utils::setupCrashHandler();
            std::raise(SIGSEGV);
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(42), "");
    EXPECT_EQ(marker(), "ran\nprevious\n");
}

TEST_F(CrashHandlerTest, RemovedHookPutsBackThePreviousActions) {
    const int signals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
    struct sigaction before[5];
    for (int i = 0; i < 5; ++i) {
        sigaction(signals[i], nullptr, &before[i]);
    }
    Common::Utils::registerCrashHandler([] {});
    Common::Utils::setupCrashHandler();
    Common::Utils::setupCrashHandler(); // a second setup must not save our own handler as "previous"
    for (int i = 0; i < 5; ++i) {
        struct sigaction installed {};
        sigaction(signals[i], nullptr, &installed);
        EXPECT_NE(installed.sa_handler, before[i].sa_handler) << signals[i];
    }
    Common::Utils::removeCrashHandler();
    Common::Utils::removeCrashHandler();
    for (int i = 0; i < 5; ++i) {
        struct sigaction after {};
        sigaction(signals[i], nullptr, &after);
        EXPECT_EQ(after.sa_handler, before[i].sa_handler) << signals[i];
    }
}

TEST_F(CrashHandlerTest, RemovedHookNoLongerRunsTheHandler) {
    EXPECT_EXIT(
        {
            prepareChild();
            Common::Utils::registerCrashHandler([] { appendMarker("ran\n"); });
            Common::Utils::setupCrashHandler();
            Common::Utils::removeCrashHandler();
            std::abort();
        },
        ::testing::KilledBySignal(SIGABRT), "");
    EXPECT_EQ(marker(), "");
}

} // namespace
