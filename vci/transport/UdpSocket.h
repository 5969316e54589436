// The few socket calls of the VCI link, one implementation per platform. Error codes
// are the platform's own, except that every kind of receive time-out is reported as
// kUdpErrorTimedOut so the receive loop treats them alike.
#pragma once

#include "common/Utils.h"

#include <cstddef>
#include <cstdint>
#include <string>

constexpr Common::SocketHandle kUdpNoSocket = -1;
constexpr int kUdpErrorTimedOut = 10060; // the receive time-out ran out
constexpr int kUdpErrorTryAgain = 11;    // nothing to read yet; as harmless as a time-out

class UdpSocket {
public:
    // Starts the platform's socket layer (Windows Sockets 2.2); 0 or the error code.
    static int startup();
    // Balances one successful startup.
    static void cleanup();

    // An IPv4 datagram socket, or kUdpNoSocket.
    static Common::SocketHandle create();
    // Binds to ip:port; a text that does not parse as IPv4 binds to 0.0.0.0.
    static bool bind(Common::SocketHandle socket, const std::string& ip, std::uint16_t port);
    // Connects to ip:port; a text that does not parse as IPv4 fails with the
    // platform's "address not available" code, since 0.0.0.0 would reach this host.
    static bool connect(Common::SocketHandle socket, const std::string& ip, std::uint16_t port);
    // Asks the system to report its running count of datagrams it dropped for this
    // socket; false where the platform has no such count.
    static bool enableDropCounter(Common::SocketHandle socket);

    // Sends one datagram; the byte count, or -1 with lastError().
    static long send(Common::SocketHandle socket, const void* data, std::size_t length);
    // Receives one datagram into buffer; the byte count (0 for an empty datagram or a
    // socket shut down for reading), or -1 with lastError(). droppedTotal is set to the
    // system's running count of dropped datagrams when the datagram carries it;
    // truncated tells whether the datagram was longer than capacity (its first
    // capacity bytes are then in buffer and counted in the result).
    static long receive(Common::SocketHandle socket, void* buffer, std::size_t capacity,
                        std::uint32_t& droppedTotal, bool& truncated);
    // True when a failed receive means the socket itself is unusable. Every other
    // error of a datagram socket concerns one datagram (an ICMP "port unreachable"
    // after the peer restarted, an oversized datagram) and the next receive works.
    static bool socketIsGone(int error);

    // The receive buffer the system granted, in bytes of datagram data, and the
    // system setting that caps it for a process without the right to exceed it
    // (empty where there is no such cap).
    static int grantedReceiveBufferBytes(Common::SocketHandle socket);
    static const char* receiveBufferLimitSetting();

    // Wakes a receive that is blocked on the socket; the descriptor stays valid.
    static void shutdown(Common::SocketHandle socket);
    static void close(Common::SocketHandle socket);

    // The error of the calling thread's last failed socket call.
    static int lastError();
    static void setLastError(int code);
};
