// Socket options as each platform spells them (timeval and descriptors here, DWORD
// milliseconds and SOCKET on Windows). Sizes are in bytes; false or -1 on failure.
#pragma once

#include "common/Utils.h"

namespace Common {

class SocketOptions {
public:
    static bool setReceiveTimeout(SocketHandle socket, int timeoutMs);
    static bool setSendBufferBytes(SocketHandle socket, int bytes);
    // Tries to go beyond the system's maximum first where the platform allows it
    // (SO_RCVBUFFORCE on Linux, which needs administrator rights), then asks normally.
    static bool setReceiveBufferBytes(SocketHandle socket, int bytes);
    static int receiveBufferBytes(SocketHandle socket);
    static int sendBufferBytes(SocketHandle socket);
};

} // namespace Common
