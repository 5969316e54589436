#include "common/SocketOptions.h"

#include <winsock2.h>

namespace Common {

namespace {

SOCKET toSocket(SocketHandle socket) {
    return static_cast<SOCKET>(socket);
}

bool setIntOption(SocketHandle socket, int name, int value) {
    return ::setsockopt(toSocket(socket), SOL_SOCKET, name, reinterpret_cast<const char*>(&value),
                        sizeof(value)) == 0;
}

int intOption(SocketHandle socket, int name) {
    int value = 0;
    int length = sizeof(value);
    if (::getsockopt(toSocket(socket), SOL_SOCKET, name, reinterpret_cast<char*>(&value), &length) != 0) {
        return -1;
    }
    return value;
}

} // namespace

bool SocketOptions::setReceiveTimeout(SocketHandle socket, int timeoutMs) {
    // Winsock takes the time-out as a DWORD of milliseconds, not a timeval.
    const DWORD timeout = static_cast<DWORD>(timeoutMs);
    return ::setsockopt(toSocket(socket), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
                        sizeof(timeout)) == 0;
}

bool SocketOptions::setSendBufferBytes(SocketHandle socket, int bytes) {
    return setIntOption(socket, SO_SNDBUF, bytes);
}

bool SocketOptions::setReceiveBufferBytes(SocketHandle socket, int bytes) {
    // Winsock has no system maximum to force past.
    return setIntOption(socket, SO_RCVBUF, bytes);
}

int SocketOptions::receiveBufferBytes(SocketHandle socket) {
    return intOption(socket, SO_RCVBUF);
}

int SocketOptions::sendBufferBytes(SocketHandle socket) {
    return intOption(socket, SO_SNDBUF);
}

} // namespace Common
