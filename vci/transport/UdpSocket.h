// One UDP socket of the VCI link, closed when the object goes; one implementation per
// platform (UdpSocketPosix.cpp, UdpSocketWin.cpp). A call that fails returns false (a
// count: -1) and leaves the platform's reason in lastError().
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class UdpSocket {
public:
    // Starts the platform's socket layer for one user (Windows Sockets 2.2; logged when
    // it fails); each successful startup is balanced by one cleanup.
    static bool startup();
    static void cleanup();

    // Creates an IPv4 datagram socket; isOpen() tells whether that worked.
    UdpSocket();
    ~UdpSocket();
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    bool isOpen() const;
    // Binds to ip:port; a text that does not parse as IPv4 binds to 0.0.0.0.
    bool bind(const std::string& ip, std::uint16_t port);
    // Connects to ip:port; a text that does not parse as IPv4 fails with the
    // platform's "address not available" code, since 0.0.0.0 would reach this host.
    bool connect(const std::string& ip, std::uint16_t port);
    // Asks the system to report its running count of datagrams it dropped for this
    // socket; false where the platform has no such count.
    bool enableDropCounter();

    // A blocked receive gives up after timeoutMs (not negative).
    bool setReceiveTimeout(int timeoutMs);
    // Buffer sizes in bytes. The receive buffer goes beyond the system maximum where
    // the process has the right to (SO_RCVBUFFORCE on Linux).
    bool setSendBufferBytes(int bytes);
    bool setReceiveBufferBytes(int bytes);
    // The sizes as the system reports them; -1 on failure.
    int sendBufferBytes() const;
    int receiveBufferBytes() const;
    // The receive buffer the system granted, in bytes of datagram data, and the
    // system setting that caps it for a process without the right to exceed it
    // (empty where there is no such cap).
    int grantedReceiveBufferBytes() const;
    static const char* receiveBufferLimitSetting();

    // Sends one datagram; the byte count, or -1.
    long send(const void* data, std::size_t length);
    // Receives one datagram into buffer; the byte count (0 for an empty datagram or a
    // socket shut down for reading), or -1. droppedTotal is set to the system's
    // running count of dropped datagrams when the datagram carries it; truncated tells
    // whether the datagram was longer than capacity (its first capacity bytes are then
    // in buffer and counted in the result).
    long receive(void* buffer, std::size_t capacity, std::uint32_t& droppedTotal, bool& truncated);
    // Wakes a receive that is blocked on the socket; the socket stays open.
    void shutdown();

    // The error of the calling thread's last failed socket call.
    static int lastError();
    static void setLastError(int code);
    // True when a failed receive only means that nothing came within the time-out.
    static bool isTimeOut(int error);
    // True when a failed receive means the socket itself is unusable. Every other
    // error of a datagram socket concerns one datagram (an ICMP "port unreachable"
    // after the peer restarted, an oversized datagram) and the next receive works.
    static bool socketIsGone(int error);

private:
    std::intptr_t handle_; // a descriptor here, a SOCKET on Windows; -1: none
};
