#include "common/SocketOptions.h"

#include <sys/socket.h>
#include <sys/time.h>

namespace Common {

namespace {

constexpr int kMillisPerSecond = 1000;
constexpr int kMicrosPerMilli = 1000;

bool setIntOption(SocketHandle socket, int name, int value) {
    return ::setsockopt(static_cast<int>(socket), SOL_SOCKET, name, &value, sizeof(value)) == 0;
}

int intOption(SocketHandle socket, int name) {
    int value = 0;
    socklen_t length = sizeof(value);
    if (::getsockopt(static_cast<int>(socket), SOL_SOCKET, name, &value, &length) != 0) {
        return -1;
    }
    return value;
}

} // namespace

bool SocketOptions::setReceiveTimeout(SocketHandle socket, int timeoutMs) {
    timeval timeout{};
    timeout.tv_sec = timeoutMs / kMillisPerSecond;
    timeout.tv_usec = (timeoutMs % kMillisPerSecond) * kMicrosPerMilli;
    return ::setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout)) == 0;
}

bool SocketOptions::setSendBufferBytes(SocketHandle socket, int bytes) {
    return setIntOption(socket, SO_SNDBUF, bytes);
}

bool SocketOptions::setReceiveBufferBytes(SocketHandle socket, int bytes) {
#if defined(SO_RCVBUFFORCE)
    if (setIntOption(socket, SO_RCVBUFFORCE, bytes)) {
        return true;
    }
#endif
    // Without the right to force it the system caps the size at its maximum.
    return setIntOption(socket, SO_RCVBUF, bytes);
}

int SocketOptions::receiveBufferBytes(SocketHandle socket) {
    return intOption(socket, SO_RCVBUF);
}

int SocketOptions::sendBufferBytes(SocketHandle socket) {
    return intOption(socket, SO_SNDBUF);
}

} // namespace Common
