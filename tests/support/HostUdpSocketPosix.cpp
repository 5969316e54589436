#include "tests/support/HostUdpSocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zxtest {

namespace {

sockaddr_in boxAddress(uint32_t deviceIndex, uint16_t port) {
    sockaddr_in box{};
    box.sin_family = AF_INET;
    box.sin_port = htons(port);
    box.sin_addr.s_addr = htonl(0xC0A8C900u + 130 + deviceIndex); // 192.168.201.(130 + index)
    return box;
}

} // namespace

HostUdpSocket::HostUdpSocket(uint32_t deviceIndex, const std::string& localAddress, uint16_t boxPort) {
    const sockaddr_in box = boxAddress(deviceIndex, boxPort);
    if (open(localAddress, 0) && connect(fd_, reinterpret_cast<const sockaddr*>(&box), sizeof box) != 0) {
        problem_ = std::string("connect: ") + std::strerror(errno);
    }
}

HostUdpSocket::HostUdpSocket(BoxSide, uint32_t deviceIndex, uint16_t boxPort) : boxSide_(true) {
    open("192.168.201." + std::to_string(130 + deviceIndex), boxPort);
}

bool HostUdpSocket::open(const std::string& localAddress, uint16_t localPort) {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        problem_ = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(localPort);
    inet_pton(AF_INET, localAddress.c_str(), &local.sin_addr);
    if (bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        problem_ = std::string("bind: ") + std::strerror(errno);
        return false;
    }
    return true;
}

HostUdpSocket::~HostUdpSocket() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

bool HostUdpSocket::send(const std::vector<uint8_t>& datagram) {
    if (boxSide_ && sender_.empty()) {
        return false;
    }
    const ssize_t sent = boxSide_ ? ::sendto(fd_, datagram.data(), datagram.size(), 0,
                                             reinterpret_cast<const sockaddr*>(sender_.data()),
                                             static_cast<socklen_t>(sender_.size()))
                                  : ::send(fd_, datagram.data(), datagram.size(), 0);
    return sent == static_cast<ssize_t>(datagram.size());
}

std::optional<std::vector<uint8_t>> HostUdpSocket::receive(std::chrono::milliseconds timeout) {
    pollfd readable{fd_, POLLIN, 0};
    if (poll(&readable, 1, static_cast<int>(timeout.count())) <= 0) {
        return std::nullopt;
    }
    std::vector<uint8_t> datagram(65536);
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    const ssize_t n =
        recvfrom(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (n < 0) {
        return std::nullopt;
    }
    datagram.resize(static_cast<size_t>(n));
    const auto* fromBytes = reinterpret_cast<const uint8_t*>(&from);
    sender_.assign(fromBytes, fromBytes + fromLength);
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
    senderAddress_ = text;
    return datagram;
}

} // namespace zxtest
