#include "common/CrashHandler.h"

#include "common/CrashHook.h"

#include <array>
#include <atomic>
#include <mutex>
#include <utility>

namespace Common {

namespace {

// Registered handlers live in fixed slots, never on the heap: a crash on another
// thread may be running an earlier one, and nothing of them may outlive an unload.
constexpr std::size_t kHandlerSlots = 8;
std::mutex handlerMutex; // guards the handler slots and nextHandlerSlot
using HandlerSlots = std::array<std::function<void()>, kHandlerSlots>;
// Built on first registration, not by this file's initialiser: a library may register
// from its load notification before that initialiser has run, and the slots must then
// outlive that library's unload notification (destroyed in reverse order of creation).
HandlerSlots& handlerSlots() {
    static HandlerSlots slots;
    return slots;
}
std::size_t nextHandlerSlot = 0;
// What the crash path calls; a plain atomic pointer because it is read inside a signal handler.
std::atomic<std::function<void()>*> crashHandler{nullptr};
// The handler runs once, even when it faults itself or two threads fail together.
std::atomic<bool> crashHandlerRan{false};

void runCrashHandlerOnce() {
    if (crashHandlerRan.exchange(true)) {
        return;
    }
    std::function<void()>* handler = crashHandler.load();
    if (handler == nullptr || !*handler) {
        return;
    }
    try {
        (*handler)();
    } catch (...) {
        // the process is ending anyway; the original failure decides how
    }
}

} // namespace

void CrashHandler::registerHandler(std::function<void()> handler) {
    std::lock_guard<std::mutex> lock(handlerMutex);
    std::function<void()>& slot = handlerSlots()[nextHandlerSlot];
    nextHandlerSlot = (nextHandlerSlot + 1) % kHandlerSlots;
    crashHandler.store(nullptr);
    slot = std::move(handler);
    crashHandler.store(&slot);
    crashHandlerRan.store(false);
}

void CrashHandler::install() {
    CrashHook::install(runCrashHandlerOnce);
}

void CrashHandler::remove() {
    CrashHook::uninstall();
    std::lock_guard<std::mutex> lock(handlerMutex);
    crashHandler.store(nullptr);
    // The hook is gone, so no crash path can reach these any more; the library is
    // about to be unloaded together with the code they point into.
    for (auto& slot : handlerSlots()) {
        slot = nullptr;
    }
}

} // namespace Common
