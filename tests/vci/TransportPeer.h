// A plain UDP socket standing in for the box in transport tests: it binds the box's
// address, sees what the client sends and from where, and answers with raw datagrams.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zxtest {

struct PeerDatagram {
    std::vector<std::uint8_t> bytes;
    std::string senderIp;
    std::uint16_t senderPort = 0;
};

class TransportPeer {
public:
    // Binds ip:port; ok() tells whether that worked.
    TransportPeer(const std::string& ip, std::uint16_t port);
    ~TransportPeer();
    TransportPeer(const TransportPeer&) = delete;
    TransportPeer& operator=(const TransportPeer&) = delete;

    bool ok() const { return socket_ != -1; }
    // Waits up to timeoutMs for one datagram; false when none came.
    bool receive(PeerDatagram& out, int timeoutMs);
    bool sendTo(const std::string& ip, std::uint16_t port, const std::vector<std::uint8_t>& bytes);

private:
    long long socket_ = -1;
    bool started_ = false;
};

} // namespace zxtest
