// The crash hook in real dying Windows processes: the unhandled-exception filter runs
// the handler once, then the filter that was there before decides, or the process
// ends with the exception's code.
#include "common/Utils.h"
#include "tests/support/FileText.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <filesystem>
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
    HANDLE file =
        CreateFileA(path, FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(file, text, static_cast<DWORD>(std::char_traits<char>::length(text)), &written, nullptr);
    CloseHandle(file);
}

void accessViolation() {
    // No error box and no debugger: the test waits for the child to end by itself.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    volatile int* volatile nowhere = nullptr;
    *nowhere = 1;
}

DWORD failingThread = 0;

// A crash on a thread that holds what the shutdown needs: the handler never returns.
void accessViolationHoldingALock() {
    failingThread = GetCurrentThreadId();
    accessViolation();
}

void markRan() {
    appendMarker("ran\n");
}

void markThreadAndHang() {
    appendMarker(GetCurrentThreadId() == failingThread ? "failing thread\n" : "own thread\n");
    Sleep(INFINITE);
}

LONG WINAPI previousFilter(EXCEPTION_POINTERS*) {
    appendMarker("previous\n");
    ExitProcess(42);
}

struct CrashCase {
    const char* name;
    bool previousInstalled; // a filter of the program's own, set before the hook
    bool removed;           // the hook removed again before the crash
    void (*crash)();
    void (*handler)();
    int exitCode;       // 0: any failure
    const char* marker; // what the handlers wrote
};

const CrashCase kCases[] = {
    {"AccessViolationRunsTheHandlerAndEndsWithItsCode", false, false, accessViolation, markRan,
     static_cast<int>(EXCEPTION_ACCESS_VIOLATION), "ran\n"},
    {"FilterInstalledBeforeRunsAfterOurs", true, false, accessViolation, markRan, 42, "ran\nprevious\n"},
    {"AbortRunsTheHandler", false, false, std::abort, markRan, 0, "ran\n"},
    // and puts back the filter that was there before
    {"RemovedHookNoLongerRuns", true, true, accessViolation, markRan, 42, "previous\n"},
    // The handler runs on a thread of its own; one that never returns holds up the
    // filter before for a bounded time only.
    {"HandlerThatHangsStillLeadsToTheFilterBefore", true, false, accessViolationHoldingALock,
     markThreadAndHang, 42, "own thread\nprevious\n"},
};

class CrashHandlerTest : public ::testing::TestWithParam<CrashCase> {
protected:
    void SetUp() override {
        // The child runs SetUp again; it must keep the parent's marker.
        if (GetEnvironmentVariableA(kMarkerVariable, nullptr, 0) == 0) {
            SetEnvironmentVariableA(kMarkerVariable, marker_.c_str());
            std::filesystem::remove(marker_);
        }
    }
    void TearDown() override {
        Common::Utils::removeCrashHandler();
        SetEnvironmentVariableA(kMarkerVariable, nullptr);
        std::filesystem::remove(marker_);
    }
    const std::string marker_ = (std::filesystem::temp_directory_path() /
                                 ("zx_common_crash_" + std::to_string(GetCurrentProcessId())))
                                    .string();
};

TEST_P(CrashHandlerTest, InADyingProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const CrashCase& c = GetParam();
    EXPECT_EXIT(
        {
            if (c.previousInstalled) {
                SetUnhandledExceptionFilter(previousFilter);
            }
            Common::Utils::registerCrashHandler(c.handler);
            Common::Utils::setupCrashHandler();
            Common::Utils::setupCrashHandler(); // must not keep our own filter as "previous"
            if (c.removed) {
                Common::Utils::removeCrashHandler();
            }
            c.crash();
            std::_Exit(0);
        },
        [&c](int code) { return c.exitCode == 0 ? code != 0 : code == c.exitCode; }, "");
    EXPECT_EQ(zxtest::readFile(marker_), c.marker);
}

INSTANTIATE_TEST_SUITE_P(Crash, CrashHandlerTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
