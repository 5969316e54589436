#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601 // inet_pton needs Vista or later
#endif
#include <winsock2.h>
#include <ws2tcpip.h>

#include "vci/transport/UdpSocket.h"

#include "api/common/ZxLog.h"
#include "common/ThreadJoin.h"

#include <cstring>

namespace {

constexpr std::intptr_t kNoSocket = -1;

SOCKET toSocket(std::intptr_t handle) {
    return static_cast<SOCKET>(handle);
}

sockaddr_in makeAddress(std::uint16_t port) {
    sockaddr_in address;
    std::memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    return address;
}

bool setIntOption(std::intptr_t handle, int name, int value) {
    return ::setsockopt(toSocket(handle), SOL_SOCKET, name, reinterpret_cast<const char*>(&value),
                        sizeof(value)) == 0;
}

int intOption(std::intptr_t handle, int name) {
    int value = 0;
    int length = sizeof(value);
    if (::getsockopt(toSocket(handle), SOL_SOCKET, name, reinterpret_cast<char*>(&value), &length) != 0) {
        return -1;
    }
    return value;
}

std::intptr_t createSocket() {
    // Overlapped like socket()'s, and never inherited: a child the host starts with
    // handle inheritance (a shell command, a redirected process) would otherwise keep the
    // box's port bound after the host closed it.
    const SOCKET handle =
        ::WSASocketW(AF_INET, SOCK_DGRAM, 0, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    return handle == INVALID_SOCKET ? kNoSocket : static_cast<std::intptr_t>(handle);
}

} // namespace

bool UdpSocket::startup() {
    WSADATA data;
    const int error = WSAStartup(MAKEWORD(2, 2), &data);
    if (error != 0) {
        zxLog(ZxLevel::Error, "WSAStartup failed with error: {}", error);
        return false;
    }
    return true;
}

void UdpSocket::cleanup() {
    // Never from the library's unload notification: the network layer may not be torn
    // down under the loader lock; the process's own cleanup does it.
    if (Common::unloadingUnderLoaderLock()) {
        return;
    }
    WSACleanup();
}

UdpSocket::UdpSocket() : handle_(createSocket()) {}

UdpSocket::~UdpSocket() {
    if (isOpen()) {
        ::closesocket(toSocket(handle_));
    }
}

bool UdpSocket::isOpen() const {
    return handle_ != kNoSocket;
}

bool UdpSocket::bind(const std::string& ip, std::uint16_t port) {
    sockaddr_in address = makeAddress(port);
    if (inet_pton(AF_INET, ip.c_str(), &address.sin_addr) != 1) {
        address.sin_addr.s_addr = htonl(INADDR_ANY);
    }
    return ::bind(toSocket(handle_), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
}

bool UdpSocket::connect(const std::string& ip, std::uint16_t port) {
    sockaddr_in address = makeAddress(port);
    if (inet_pton(AF_INET, ip.c_str(), &address.sin_addr) != 1) {
        WSASetLastError(WSAEADDRNOTAVAIL);
        return false;
    }
    return ::connect(toSocket(handle_), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
}

bool UdpSocket::enableDropCounter() {
    return false;
}

bool UdpSocket::setReceiveTimeout(int timeoutMs) {
    if (timeoutMs < 0) {
        return false;
    }
    // Winsock takes the time-out as a DWORD of milliseconds, not a timeval.
    const DWORD timeout = static_cast<DWORD>(timeoutMs);
    return ::setsockopt(toSocket(handle_), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
                        sizeof(timeout)) == 0;
}

bool UdpSocket::setSendBufferBytes(int bytes) {
    return bytes > 0 && setIntOption(handle_, SO_SNDBUF, bytes);
}

bool UdpSocket::setReceiveBufferBytes(int bytes) {
    // Winsock has no system maximum to force past.
    return bytes > 0 && setIntOption(handle_, SO_RCVBUF, bytes);
}

int UdpSocket::sendBufferBytes() const {
    return intOption(handle_, SO_SNDBUF);
}

int UdpSocket::receiveBufferBytes() const {
    return intOption(handle_, SO_RCVBUF);
}

int UdpSocket::grantedReceiveBufferBytes() const {
    return receiveBufferBytes();
}

const char* UdpSocket::receiveBufferLimitSetting() {
    return "";
}

long UdpSocket::send(const void* data, std::size_t length) {
    const int sent = ::send(toSocket(handle_), static_cast<const char*>(data), static_cast<int>(length), 0);
    return sent == SOCKET_ERROR ? -1 : static_cast<long>(sent);
}

long UdpSocket::receive(void* buffer, std::size_t capacity, std::uint32_t&, bool& truncated) {
    sockaddr_in sender;
    int senderLength = sizeof(sender);
    const int received = ::recvfrom(toSocket(handle_), static_cast<char*>(buffer), static_cast<int>(capacity),
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

void UdpSocket::shutdown() {
    ::shutdown(toSocket(handle_), SD_BOTH);
}

int UdpSocket::lastError() {
    return WSAGetLastError();
}

void UdpSocket::setLastError(int code) {
    WSASetLastError(code);
}

bool UdpSocket::isTimeOut(int error) {
    return error == WSAETIMEDOUT || error == WSAEWOULDBLOCK;
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
