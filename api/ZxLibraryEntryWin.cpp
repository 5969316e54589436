// Load and unload notifications of the DLL: the entry point's process attach and
// detach. Both run under the loader lock: nothing here starts or joins a thread
// (devices close on this thread at detach).
#include "api/ZxLibrary.h"

#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        DisableThreadLibraryCalls(instance);
        ZxLibrary::onLoad();
        break;
    case DLL_PROCESS_DETACH:
        ZxLibrary::onUnload();
        break;
    default:
        break;
    }
    return TRUE;
}
