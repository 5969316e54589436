#include "ZxLiveListenSocket.h"

// On Windows SO_REUSEADDR would let two programs bind one port; exclusive use refuses it.
void ZxLiveListenSocket::configure(socket_t socket) {
    const BOOL yes = TRUE;
    setsockopt(socket, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&yes), sizeof yes);
}
