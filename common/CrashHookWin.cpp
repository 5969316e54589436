#include "common/CrashHook.h"

#include <windows.h>

#include <atomic>
#include <mutex>

namespace Common {

namespace {

std::mutex hookMutex; // guards installed against concurrent install/uninstall
bool installed = false;
// Read by the filter on the failing thread, so atomics rather than under hookMutex.
std::atomic<LPTOP_LEVEL_EXCEPTION_FILTER> previousFilter{nullptr};
std::atomic<CrashHook::Callback> callback{nullptr};

LONG WINAPI onUnhandledException(EXCEPTION_POINTERS* exception) {
    if (const CrashHook::Callback run = callback.load()) {
        run();
    }
    // The filter that was there before decides what happens next; without one the
    // system goes on as it would have (error reporting, then the process ends).
    if (const LPTOP_LEVEL_EXCEPTION_FILTER previous = previousFilter.load()) {
        return previous(exception);
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

} // namespace

void CrashHook::install(Callback onCrash) {
    std::lock_guard<std::mutex> lock(hookMutex);
    callback.store(onCrash);
    if (installed) {
        return;
    }
    previousFilter.store(::SetUnhandledExceptionFilter(onUnhandledException));
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
    installed = false;
    callback.store(nullptr);
}

} // namespace Common
