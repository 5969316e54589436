// Load and unload notifications of the DLL: the entry point's process attach and
// detach. Both run under the loader lock: nothing here starts a thread, and devices
// still open at an unload (FreeLibrary) close on this thread without joining theirs,
// which leave through the system before the DLL goes (Common::joinThread,
// Common::ThreadExit). At process exit nothing is stopped at all.
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
        if (reserved != nullptr) {
            // The process is exiting (ExitProcess, or the host returned from main): the
            // system has already ended every other thread, some of them inside our locks
            // or condition waits, so nothing here takes a lock or waits. Nothing is
            // stopped, closed or destroyed (Common::ExitSafeSingleton): the saving threads
            // wrote each file's lines up to their last pass, unbuffered, and the system
            // closes the files and sockets.
            Common::setUnloadingUnderLoaderLock(true, true);
            break;
        }
        Common::setUnloadingUnderLoaderLock(true, false);
        ZxLibrary::onUnload();
        break;
    default:
        break;
    }
    return TRUE;
}
