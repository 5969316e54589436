#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601
#endif
#include <winsock2.h>
#include <ws2tcpip.h>

#include "tests/vci/TransportPeer.h"

#include <cstring>

namespace zxtest {

namespace {

sockaddr_in makeAddress(const std::string& ip, std::uint16_t port) {
    sockaddr_in address;
    std::memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    inet_pton(AF_INET, ip.c_str(), &address.sin_addr);
    return address;
}

} // namespace

TransportPeer::TransportPeer(const std::string& ip, std::uint16_t port) {
    WSADATA data;
    started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    const SOCKET handle = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (handle == INVALID_SOCKET) {
        return;
    }
    const sockaddr_in address = makeAddress(ip, port);
    if (::bind(handle, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        ::closesocket(handle);
        return;
    }
    socket_ = static_cast<long long>(handle);
}

TransportPeer::~TransportPeer() {
    if (socket_ != -1) {
        ::closesocket(static_cast<SOCKET>(socket_));
    }
    if (started_) {
        WSACleanup();
    }
}

bool TransportPeer::receive(PeerDatagram& out, int timeoutMs) {
    const SOCKET handle = static_cast<SOCKET>(socket_);
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(handle, &readable);
    timeval wait{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    if (::select(0, &readable, nullptr, nullptr, &wait) != 1) {
        return false;
    }
    std::vector<char> buffer(65536);
    sockaddr_in sender;
    int senderLength = sizeof(sender);
    const int received = ::recvfrom(handle, buffer.data(), static_cast<int>(buffer.size()), 0,
                                    reinterpret_cast<sockaddr*>(&sender), &senderLength);
    if (received == SOCKET_ERROR) {
        return false;
    }
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &sender.sin_addr, text, sizeof(text));
    out.bytes.assign(buffer.begin(), buffer.begin() + received);
    out.senderIp = text;
    out.senderPort = ntohs(sender.sin_port);
    return true;
}

bool TransportPeer::sendTo(const std::string& ip, std::uint16_t port,
                           const std::vector<std::uint8_t>& bytes) {
    const sockaddr_in address = makeAddress(ip, port);
    return ::sendto(static_cast<SOCKET>(socket_), reinterpret_cast<const char*>(bytes.data()),
                    static_cast<int>(bytes.size()), 0, reinterpret_cast<const sockaddr*>(&address),
                    sizeof(address)) == static_cast<int>(bytes.size());
}

} // namespace zxtest
