#include "tests/vci/TransportPeer.h"

#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

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
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        return;
    }
    const sockaddr_in address = makeAddress(ip, port);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        ::close(fd);
        return;
    }
    socket_ = fd;
}

TransportPeer::~TransportPeer() {
    if (socket_ != -1) {
        ::close(static_cast<int>(socket_));
    }
}

bool TransportPeer::receive(PeerDatagram& out, int timeoutMs) {
    pollfd wait{static_cast<int>(socket_), POLLIN, 0};
    if (::poll(&wait, 1, timeoutMs) != 1) {
        return false;
    }
    std::uint8_t buffer[65536];
    sockaddr_in sender;
    socklen_t senderLength = sizeof(sender);
    const ssize_t received = ::recvfrom(static_cast<int>(socket_), buffer, sizeof(buffer), 0,
                                        reinterpret_cast<sockaddr*>(&sender), &senderLength);
    if (received < 0) {
        return false;
    }
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &sender.sin_addr, text, sizeof(text));
    out.bytes.assign(buffer, buffer + received);
    out.senderIp = text;
    out.senderPort = ntohs(sender.sin_port);
    return true;
}

bool TransportPeer::sendTo(const std::string& ip, std::uint16_t port,
                           const std::vector<std::uint8_t>& bytes) {
    const sockaddr_in address = makeAddress(ip, port);
    return ::sendto(static_cast<int>(socket_), bytes.data(), bytes.size(), 0,
                    reinterpret_cast<const sockaddr*>(&address),
                    sizeof(address)) == static_cast<ssize_t>(bytes.size());
}

} // namespace zxtest
