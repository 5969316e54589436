// Load and unload notifications of the shared object.
//
// The load notification runs when the object is mapped (dlopen or program start).
// The unload notification must run before the process-wide objects are destroyed:
// they are function-local statics, destroyed in the reverse order of their
// construction, so a guard constructed right after them at load is destroyed first.
#include "api/ZxLibrary.h"

namespace {

struct UnloadNotification {
    ~UnloadNotification() { ZxLibrary::onUnload(); }
};

__attribute__((constructor)) void zxLibraryLoaded() {
    ZxLibrary::onLoad();
    static UnloadNotification unloadNotification;
    (void)unloadNotification;
}

} // namespace
