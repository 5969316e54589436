// The simulated box's UDP endpoint: bound to its own address and port, non-blocking,
// with a wake-up that lets another thread interrupt a wait.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vcisim {

struct SimPeer {
    uint32_t address = 0; // host byte order
    uint16_t port = 0;
    bool valid() const { return port != 0; }
    bool operator==(const SimPeer& other) const { return address == other.address && port == other.port; }
    std::string addressText() const;
};

class SimUdpSocket {
public:
    SimUdpSocket() = default;
    ~SimUdpSocket();
    SimUdpSocket(const SimUdpSocket&) = delete;
    SimUdpSocket& operator=(const SimUdpSocket&) = delete;

    // Empty on success, otherwise why the socket could not be bound.
    std::string bind(const std::string& address, uint16_t port);
    void close();

    // Bytes of the next waiting datagram (0 for an empty one), -1 when none is waiting.
    long receive(uint8_t* buffer, size_t capacity, SimPeer& from);
    // True when the whole datagram left; false when the socket refused it for now.
    bool sendTo(const SimPeer& to, const uint8_t* data, size_t length);
    // Waits until a datagram is waiting, wake() is called or timeoutNs passes.
    void wait(int64_t timeoutNs);
    // Callable from any thread.
    void wake();

private:
    int fd_ = -1;
    int wakeFds_[2] = {-1, -1};
};

} // namespace vcisim
