// A plain UDP socket for tests that talk over the wire directly: the host's side, bound
// to a host address and connected to the box 192.168.201.(130 + device index):8000, or
// the box's side, bound to that address and answering whoever sent to it last.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zxtest {

class HostUdpSocket {
public:
    explicit HostUdpSocket(uint32_t deviceIndex = 0, const std::string& localAddress = "192.168.201.1",
                           uint16_t boxPort = 8000);
    struct BoxSide {};
    explicit HostUdpSocket(BoxSide, uint32_t deviceIndex = 0, uint16_t boxPort = 8000);
    ~HostUdpSocket();
    HostUdpSocket(const HostUdpSocket&) = delete;
    HostUdpSocket& operator=(const HostUdpSocket&) = delete;

    // Empty when the socket is bound (and on the host's side connected), otherwise why not.
    const std::string& problem() const { return problem_; }
    // Where the last received datagram came from.
    const std::string& senderAddress() const { return senderAddress_; }

    // On the box's side to the sender of the last received datagram.
    bool send(const std::vector<uint8_t>& datagram);
    // The next datagram, or nothing when none arrived within the time-out.
    std::optional<std::vector<uint8_t>> receive(std::chrono::milliseconds timeout);

private:
    bool open(const std::string& localAddress, uint16_t localPort);

    int fd_ = -1;
    std::string problem_;
    bool boxSide_ = false;
    std::vector<uint8_t> sender_; // the last sender's socket address
    std::string senderAddress_;
};

} // namespace zxtest
