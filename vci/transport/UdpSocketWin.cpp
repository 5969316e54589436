#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601 // inet_pton needs Vista or later
#endif
#include <winsock2.h>
#include <ws2tcpip.h>

#include "vci/transport/UdpSocket.h"

#include "common/ThreadJoin.h"

#include <cstring>

namespace {

SOCKET toSocket(Common::SocketHandle socket) {
    return static_cast<SOCKET>(socket);
}

sockaddr_in makeAddress(std::uint16_t port) {
    sockaddr_in address;
    std::memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    return address;
}

} // namespace

int UdpSocket::startup() {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data);
}

void UdpSocket::cleanup() {
    // Never from the library's unload notification: the network layer may not be torn
    // down under the loader lock; the process's own cleanup does it.
    if (Common::unloadingUnderLoaderLock()) {
        return;
    }
    WSACleanup();
}

Common::SocketHandle UdpSocket::create() {
    const SOCKET handle = ::socket(AF_INET, SOCK_DGRAM, 0);
    return handle == INVALID_SOCKET ? kUdpNoSocket : static_cast<Common::SocketHandle>(handle);
}

bool UdpSocket::bind(Common::SocketHandle socket, const std::string& ip, std::uint16_t port) {
    sockaddr_in address = makeAddress(port);
    if (inet_pton(AF_INET, ip.c_str(), &address.sin_addr) != 1) {
        address.sin_addr.s_addr = htonl(INADDR_ANY);
    }
    return ::bind(toSocket(socket), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
}

bool UdpSocket::connect(Common::SocketHandle socket, const std::string& ip, std::uint16_t port) {
    sockaddr_in address = makeAddress(port);
    if (inet_pton(AF_INET, ip.c_str(), &address.sin_addr) != 1) {
        WSASetLastError(WSAEADDRNOTAVAIL);
        return false;
    }
    return ::connect(toSocket(socket), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
}

bool UdpSocket::enableDropCounter(Common::SocketHandle) {
    return false;
}

long UdpSocket::send(Common::SocketHandle socket, const void* data, std::size_t length) {
    const int sent = ::send(toSocket(socket), static_cast<const char*>(data), static_cast<int>(length), 0);
    return sent == SOCKET_ERROR ? -1 : static_cast<long>(sent);
}

long UdpSocket::receive(Common::SocketHandle socket, void* buffer, std::size_t capacity, std::uint32_t&,
                        bool& truncated) {
    sockaddr_in sender;
    int senderLength = sizeof(sender);
    const int received = ::recvfrom(toSocket(socket), static_cast<char*>(buffer), static_cast<int>(capacity),
                                    0, reinterpret_cast<sockaddr*>(&sender), &senderLength);
    truncated = false;
    if (received == SOCKET_ERROR) {
        if (WSAGetLastError() == WSAEMSGSIZE) {
            // The buffer holds the datagram's first capacity bytes; the rest is lost.
            truncated = true;
            return static_cast<long>(capacity);
        }
        return -1;
    }
    return static_cast<long>(received);
}

bool UdpSocket::socketIsGone(int error) {
    switch (error) {
    case WSANOTINITIALISED:
    case WSAENETDOWN:
    case WSAENOTSOCK:
    case WSAEBADF:
    case WSAEFAULT:
    case WSAEINVAL:
    case WSAESHUTDOWN:
    case WSAENOTCONN:
        return true;
    default:
        return false;
    }
}

int UdpSocket::grantedReceiveBufferBytes(Common::SocketHandle socket) {
    int bytes = 0;
    int length = sizeof(bytes);
    if (::getsockopt(toSocket(socket), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&bytes), &length) !=
        0) {
        return -1;
    }
    return bytes;
}

const char* UdpSocket::receiveBufferLimitSetting() {
    return "";
}

void UdpSocket::shutdown(Common::SocketHandle socket) {
    ::shutdown(toSocket(socket), SD_BOTH);
}

void UdpSocket::close(Common::SocketHandle socket) {
    ::closesocket(toSocket(socket));
}

int UdpSocket::lastError() {
    return WSAGetLastError();
}

void UdpSocket::setLastError(int code) {
    WSASetLastError(code);
}
