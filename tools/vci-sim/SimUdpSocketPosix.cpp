#include "tools/vci-sim/SimUdpSocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vcisim {

std::string SimPeer::addressText() const {
    in_addr raw{};
    raw.s_addr = htonl(address);
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &raw, text, sizeof text);
    return text;
}

SimUdpSocket::~SimUdpSocket() {
    close();
}

std::string SimUdpSocket::bind(const std::string& address, uint16_t port) {
    close();
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1) {
        return "not an IPv4 address: " + address;
    }
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        return std::string("cannot create a UDP socket: ") + std::strerror(errno);
    }
    // Large buffers so benchmark bursts are limited by the host, not by the box.
    const int bufferBytes = 8 * 1024 * 1024;
    for (int option : {SO_SNDBUF, SO_RCVBUF}) {
        const int forced = option == SO_SNDBUF ? SO_SNDBUFFORCE : SO_RCVBUFFORCE;
        if (setsockopt(fd_, SOL_SOCKET, forced, &bufferBytes, sizeof bufferBytes) != 0) {
            setsockopt(fd_, SOL_SOCKET, option, &bufferBytes, sizeof bufferBytes);
        }
    }
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        const std::string why = std::strerror(errno);
        close();
        return "cannot bind " + address + ":" + std::to_string(port) + ": " + why;
    }
    if (pipe2(wakeFds_, O_NONBLOCK | O_CLOEXEC) != 0) {
        const std::string why = std::strerror(errno);
        close();
        return "cannot create the wake pipe: " + why;
    }
    return {};
}

void SimUdpSocket::close() {
    for (int* fd : {&fd_, &wakeFds_[0], &wakeFds_[1]}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
}

long SimUdpSocket::receive(uint8_t* buffer, size_t capacity, SimPeer& from) {
    sockaddr_in source{};
    socklen_t sourceLength = sizeof source;
    const ssize_t n =
        ::recvfrom(fd_, buffer, capacity, 0, reinterpret_cast<sockaddr*>(&source), &sourceLength);
    if (n < 0) {
        return -1;
    }
    from.address = ntohl(source.sin_addr.s_addr);
    from.port = ntohs(source.sin_port);
    return static_cast<long>(n);
}

bool SimUdpSocket::sendTo(const SimPeer& to, const uint8_t* data, size_t length) {
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(to.port);
    target.sin_addr.s_addr = htonl(to.address);
    const ssize_t n =
        ::sendto(fd_, data, length, 0, reinterpret_cast<const sockaddr*>(&target), sizeof target);
    return n == static_cast<ssize_t>(length);
}

void SimUdpSocket::wait(int64_t timeoutNs) {
    if (timeoutNs < 0) {
        timeoutNs = 0;
    }
    pollfd fds[2] = {{fd_, POLLIN, 0}, {wakeFds_[0], POLLIN, 0}};
    timespec timeout{static_cast<time_t>(timeoutNs / 1000000000), static_cast<long>(timeoutNs % 1000000000)};
    if (ppoll(fds, 2, &timeout, nullptr) > 0 && (fds[1].revents & POLLIN) != 0) {
        uint8_t drain[64];
        while (::read(wakeFds_[0], drain, sizeof drain) > 0) {
        }
    }
}

void SimUdpSocket::wake() {
    const uint8_t one = 1;
    // A full pipe already means a wake-up is pending.
    [[maybe_unused]] const ssize_t ignored = ::write(wakeFds_[1], &one, 1);
}

} // namespace vcisim
