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

// The shutdown runs on a thread of its own while the failing thread waits for it this
// long at most: the failing thread may have no stack left (a stack overflow), may hold a
// lock the shutdown needs, or may be a thread the shutdown waits for. Then the handler
// that was there before gets its turn (a host's crash log, error reporting, .NET).
constexpr DWORD kHandlerBoundMs = 2000;

DWORD WINAPI runCallback(LPVOID) {
    if (const CrashHook::Callback run = callback.load()) {
        run();
    }
    return 0;
}

void runBounded() {
    if (callback.load() == nullptr) {
        return;
    }
    HANDLE worker = ::CreateThread(nullptr, 0, runCallback, nullptr, 0, nullptr);
    if (worker == nullptr) {
        return; // no thread to be had: the process ends without the shutdown
    }
    ::WaitForSingleObject(worker, kHandlerBoundMs);
    ::CloseHandle(worker);
}

LONG WINAPI onUnhandledException(EXCEPTION_POINTERS* exception) {
    runBounded();
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
    runBounded();
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
