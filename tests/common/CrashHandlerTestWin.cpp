// The crash hook in real dying Windows processes: the unhandled-exception filter runs
// the handler once, then the filter that was there before decides, or the process
// ends with the exception's code.
#include "common/Utils.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

// The death-test child is a new process started from this one; it finds the marker
// file through the environment it inherits.
constexpr const char* kMarkerVariable = "ZX_CRASH_MARKER";

void appendMarker(const char* text) {
    char path[MAX_PATH] = {};
    if (GetEnvironmentVariableA(kMarkerVariable, path, MAX_PATH) == 0) {
        return;
    }
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, text, static_cast<DWORD>(std::char_traits<char>::length(text)), &written, nullptr);
        CloseHandle(file);
    }
}

void accessViolation() {
    // No error box and no debugger: the test waits for the child to end by itself.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    volatile int* volatile nowhere = nullptr;
    *nowhere = 1;
}

LONG WINAPI previousFilter(EXCEPTION_POINTERS*) {
    appendMarker("previous\n");
    ExitProcess(42);
}

LONG WINAPI otherFilter(EXCEPTION_POINTERS*) {
    return EXCEPTION_CONTINUE_SEARCH;
}

class CrashHandlerTest : public ::testing::Test {
protected:
    void SetUp() override {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        // The child runs SetUp again; it must keep the parent's marker.
        char inherited[MAX_PATH] = {};
        if (GetEnvironmentVariableA(kMarkerVariable, inherited, MAX_PATH) != 0) {
            marker_ = inherited;
            return;
        }
        marker_ = (std::filesystem::temp_directory_path() /
                   ("zx_common_crash_" + std::to_string(GetCurrentProcessId())))
                      .string();
        std::filesystem::remove(marker_);
        SetEnvironmentVariableA(kMarkerVariable, marker_.c_str());
    }
    void TearDown() override {
        Common::Utils::removeCrashHandler();
        SetEnvironmentVariableA(kMarkerVariable, nullptr);
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

TEST_F(CrashHandlerTest, AccessViolationRunsHandlerAndEndsWithTheExceptionCode) {
    EXPECT_EXIT(
        {
            Common::Utils::registerCrashHandler([] { appendMarker("ran\n"); });
            Common::Utils::setupCrashHandler();
            accessViolation();
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(static_cast<int>(EXCEPTION_ACCESS_VIOLATION)), "");
    EXPECT_EQ(marker(), "ran\n");
}

TEST_F(CrashHandlerTest, FilterInstalledBeforeRunsAfterOurs) {
    EXPECT_EXIT(
        {
            SetUnhandledExceptionFilter(previousFilter);
            Common::Utils::registerCrashHandler([] { appendMarker("ran\n"); });
            Common::Utils::setupCrashHandler();
            accessViolation();
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(42), "");
    EXPECT_EQ(marker(), "ran\nprevious\n");
}

TEST_F(CrashHandlerTest, AbortRunsHandler) {
    EXPECT_EXIT(
        {
            Common::Utils::registerCrashHandler([] { appendMarker("ran\n"); });
            Common::Utils::setupCrashHandler();
            std::abort();
        },
        [](int code) { return code != 0; }, "");
    EXPECT_EQ(marker(), "ran\n");
}

TEST_F(CrashHandlerTest, RemovedHookPutsBackThePreviousFilterAndNoLongerRuns) {
    const LPTOP_LEVEL_EXCEPTION_FILTER before = SetUnhandledExceptionFilter(otherFilter);
    Common::Utils::registerCrashHandler([] {});
    Common::Utils::setupCrashHandler();
    Common::Utils::setupCrashHandler(); // a second setup must not keep our own filter as "previous"
    Common::Utils::removeCrashHandler();
    Common::Utils::removeCrashHandler();
    EXPECT_EQ(SetUnhandledExceptionFilter(before), otherFilter);

    EXPECT_EXIT(
        {
            SetUnhandledExceptionFilter(previousFilter);
            Common::Utils::registerCrashHandler([] { appendMarker("ran\n"); });
            Common::Utils::setupCrashHandler();
            Common::Utils::removeCrashHandler();
            accessViolation();
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(42), "");
    EXPECT_EQ(marker(), "previous\n");
}

} // namespace
