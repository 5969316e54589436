#include "common/ThreadExit.h"

#include <windows.h>

#include <pthread.h>

#include <cstdint>

namespace Common {

namespace {

// The address range of the module (DLL or program) this code is linked into.
struct ModuleRange {
    std::uintptr_t begin = 0;
    std::uintptr_t end = 0;
};

ModuleRange ourModule() {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&ourModule), &module)) {
        return {};
    }
    const auto* base = reinterpret_cast<const unsigned char*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const auto begin = reinterpret_cast<std::uintptr_t>(base);
    return {begin, begin + nt->OptionalHeader.SizeOfImage};
}

} // namespace

void ThreadExit::endHereWhileUnloading() {
    // ExitThread does not return: whatever of ours is still on this thread's stack is
    // never run again. The thread finishes exiting once the unload has released the
    // loader lock, when our DLL is no longer in the process.
    ExitThread(0);
}

bool ThreadExit::leftOurCode(std::thread& thread) {
    const HANDLE handle = pthread_gethandle(thread.native_handle());
    if (handle == nullptr || SuspendThread(handle) == static_cast<DWORD>(-1)) {
        return true; // gone already
    }
    CONTEXT context{};
    context.ContextFlags = CONTEXT_CONTROL;
    const bool known = GetThreadContext(handle, &context) != 0;
    ResumeThread(handle);
    if (!known) {
        return false;
    }
#if defined(_WIN64)
    const std::uintptr_t at = context.Rip;
#else
    const std::uintptr_t at = context.Eip;
#endif
    const ModuleRange module = ourModule();
    return at < module.begin || at >= module.end;
}

} // namespace Common
