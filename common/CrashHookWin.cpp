#include "common/CrashHook.h"

#include <windows.h>

#include <atomic>
#include <csignal>
#include <mutex>

namespace Common {

namespace {

using SignalHandler = void (*)(int);

std::mutex hookMutex; // guards installed and previousAbort against concurrent install/uninstall
bool installed = false;
SignalHandler previousAbort = SIG_DFL;
// Read by the filter on the failing thread, so atomics rather than under hookMutex.
std::atomic<LPTOP_LEVEL_EXCEPTION_FILTER> previousFilter{nullptr};
std::atomic<CrashHook::Callback> callback{nullptr};

// The handler's shutdown may wait for a lock the failing thread holds; after this long
// the process ends all the same, with the code it was failing with.
constexpr DWORD kHandlerBoundMs = 2000;
constexpr UINT kAbortExitCode = 3; // what abort() ends a process with

struct HandlerBound {
    HANDLE finished;
    UINT exitCode;
};

DWORD WINAPI endWhenHandlerTakesTooLong(LPVOID parameter) {
    const auto* bound = static_cast<const HandlerBound*>(parameter);
    if (::WaitForSingleObject(bound->finished, kHandlerBoundMs) == WAIT_TIMEOUT) {
        ::TerminateProcess(::GetCurrentProcess(), bound->exitCode);
    }
    return 0;
}

void runBounded(CrashHook::Callback run, UINT exitCode) {
    HandlerBound bound{::CreateEventW(nullptr, TRUE, FALSE, nullptr), exitCode};
    HANDLE watchdog = bound.finished != nullptr
                          ? ::CreateThread(nullptr, 0, endWhenHandlerTakesTooLong, &bound, 0, nullptr)
                          : nullptr;
    run();
    if (watchdog != nullptr) {
        ::SetEvent(bound.finished);
        ::WaitForSingleObject(watchdog, INFINITE);
        ::CloseHandle(watchdog);
    }
    if (bound.finished != nullptr) {
        ::CloseHandle(bound.finished);
    }
}

LONG WINAPI onUnhandledException(EXCEPTION_POINTERS* exception) {
    if (const CrashHook::Callback run = callback.load()) {
        runBounded(run, static_cast<UINT>(exception->ExceptionRecord->ExceptionCode));
    }
    // The filter that was there before decides what happens next; without one the
    // system goes on as it would have (error reporting, then the process ends).
    if (const LPTOP_LEVEL_EXCEPTION_FILTER previous = previousFilter.load()) {
        return previous(exception);
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

// abort() (std::terminate after an uncaught C++ exception included) never reaches the
// unhandled-exception filter, only SIGABRT.
void onAbort(int signal) {
    if (const CrashHook::Callback run = callback.load()) {
        runBounded(run, kAbortExitCode);
    }
    // The runtime resets the handler before calling it; abort ends the process once
    // this returns, and a handler that was there before gets its turn first.
    const SignalHandler previous = previousAbort;
    if (previous != SIG_DFL && previous != SIG_IGN && previous != SIG_ERR && previous != onAbort) {
        previous(signal);
    }
}

} // namespace

void CrashHook::install(Callback onCrash) {
    std::lock_guard<std::mutex> lock(hookMutex);
    callback.store(onCrash);
    if (installed) {
        return;
    }
    previousFilter.store(::SetUnhandledExceptionFilter(onUnhandledException));
    previousAbort = std::signal(SIGABRT, onAbort);
    installed = true;
}

void CrashHook::uninstall() {
    std::lock_guard<std::mutex> lock(hookMutex);
    if (!installed) {
        return;
    }
    const LPTOP_LEVEL_EXCEPTION_FILTER current = ::SetUnhandledExceptionFilter(previousFilter.load());
    if (current != onUnhandledException) {
        // Someone replaced our filter since; theirs stays.
        ::SetUnhandledExceptionFilter(current);
    }
    const SignalHandler currentAbort =
        std::signal(SIGABRT, previousAbort == SIG_ERR ? SIG_DFL : previousAbort);
    if (currentAbort != onAbort) {
        std::signal(SIGABRT, currentAbort);
    }
    installed = false;
    callback.store(nullptr);
}

} // namespace Common
