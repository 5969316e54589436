// A plain host-side UDP socket for tests that talk to a simulated box directly:
// bound to a host address, connected to 192.168.201.(130 + device index):8000.
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
    ~HostUdpSocket();
    HostUdpSocket(const HostUdpSocket&) = delete;
    HostUdpSocket& operator=(const HostUdpSocket&) = delete;

    // Empty when the socket is bound and connected, otherwise why not.
    const std::string& problem() const { return problem_; }
    uint16_t localPort() const { return localPort_; }

    bool send(const std::vector<uint8_t>& datagram);
    // The next datagram, or nothing when none arrived within the time-out.
    std::optional<std::vector<uint8_t>> receive(std::chrono::milliseconds timeout);

private:
    int fd_ = -1;
    uint16_t localPort_ = 0;
    std::string problem_;
};

} // namespace zxtest
