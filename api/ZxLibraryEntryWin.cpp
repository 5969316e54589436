// Load and unload notifications of the DLL: the entry point's process attach and
// detach. Both run under the loader lock: nothing here starts a thread, and devices
// still open at detach close on this thread without joining theirs (Common::joinThread).
#include "api/ZxLibrary.h"
#include "common/ThreadJoin.h"

#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        DisableThreadLibraryCalls(instance);
        ZxLibrary::onLoad();
        break;
    case DLL_PROCESS_DETACH:
        // A reserved pointer means the process is exiting: its other threads are gone.
        Common::setUnloadingUnderLoaderLock(true, reserved != nullptr);
        ZxLibrary::onUnload();
        break;
    default:
        break;
    }
    return TRUE;
}
