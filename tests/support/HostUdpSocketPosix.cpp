#include "tests/support/HostUdpSocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zxtest {

HostUdpSocket::HostUdpSocket(uint32_t deviceIndex, const std::string& localAddress, uint16_t boxPort) {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        problem_ = std::string("socket: ") + std::strerror(errno);
        return;
    }
    const int bufferBytes = 4 * 1024 * 1024;
    // Beyond the system maximum where the process may (it may inside its own namespace).
    if (setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &bufferBytes, sizeof bufferBytes) != 0) {
        setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &bufferBytes, sizeof bufferBytes);
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, localAddress.c_str(), &local.sin_addr);
    sockaddr_in box{};
    box.sin_family = AF_INET;
    box.sin_port = htons(boxPort);
    box.sin_addr.s_addr = htonl(0xC0A8C900u + 130 + deviceIndex); // 192.168.201.(130 + index)
    if (bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        connect(fd_, reinterpret_cast<sockaddr*>(&box), sizeof box) != 0) {
        problem_ = std::string("bind/connect: ") + std::strerror(errno);
        return;
    }
    socklen_t length = sizeof local;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length);
    localPort_ = ntohs(local.sin_port);
}

HostUdpSocket::~HostUdpSocket() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

bool HostUdpSocket::send(const std::vector<uint8_t>& datagram) {
    return ::send(fd_, datagram.data(), datagram.size(), 0) == static_cast<ssize_t>(datagram.size());
}

std::optional<std::vector<uint8_t>> HostUdpSocket::receive(std::chrono::milliseconds timeout) {
    pollfd readable{fd_, POLLIN, 0};
    if (poll(&readable, 1, static_cast<int>(timeout.count())) <= 0) {
        return std::nullopt;
    }
    std::vector<uint8_t> datagram(65536);
    const ssize_t n = recv(fd_, datagram.data(), datagram.size(), 0);
    if (n < 0) {
        return std::nullopt;
    }
    datagram.resize(static_cast<size_t>(n));
    return datagram;
}

} // namespace zxtest
