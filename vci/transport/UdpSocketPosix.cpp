#include "vci/transport/UdpSocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int toFd(Common::SocketHandle socket) {
    return static_cast<int>(socket);
}

sockaddr_in makeAddress(std::uint16_t port) {
    sockaddr_in address;
    std::memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    return address;
}

} // namespace

int UdpSocket::startup() {
    return 0;
}

void UdpSocket::cleanup() {}

Common::SocketHandle UdpSocket::create() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    return fd < 0 ? kUdpNoSocket : fd;
}

bool UdpSocket::bind(Common::SocketHandle socket, const std::string& ip, std::uint16_t port) {
    sockaddr_in address = makeAddress(port);
    if (inet_pton(AF_INET, ip.c_str(), &address.sin_addr) != 1) {
        address.sin_addr.s_addr = htonl(INADDR_ANY);
    }
    return ::bind(toFd(socket), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
}

bool UdpSocket::connect(Common::SocketHandle socket, const std::string& ip, std::uint16_t port) {
    sockaddr_in address = makeAddress(port);
    if (inet_pton(AF_INET, ip.c_str(), &address.sin_addr) != 1) {
        errno = EADDRNOTAVAIL;
        return false;
    }
    return ::connect(toFd(socket), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
}

bool UdpSocket::enableDropCounter(Common::SocketHandle socket) {
    const int on = 1;
    return ::setsockopt(toFd(socket), SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof(on)) == 0;
}

long UdpSocket::send(Common::SocketHandle socket, const void* data, std::size_t length) {
    const ssize_t sent = ::send(toFd(socket), data, length, MSG_NOSIGNAL);
    return sent < 0 ? -1 : static_cast<long>(sent);
}

long UdpSocket::receive(Common::SocketHandle socket, void* buffer, std::size_t capacity,
                        std::uint32_t& droppedTotal, bool& truncated) {
    sockaddr_in sender;
    iovec part{buffer, capacity};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(std::uint32_t))];
    msghdr message;
    std::memset(&message, 0, sizeof(message));
    message.msg_name = &sender;
    message.msg_namelen = sizeof(sender);
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof(control);

    const ssize_t received = ::recvmsg(toFd(socket), &message, 0);
    if (received < 0) {
        return -1;
    }
    // Linux returns the first capacity bytes of a longer datagram and says so only here.
    truncated = (message.msg_flags & MSG_TRUNC) != 0;
    for (cmsghdr* item = CMSG_FIRSTHDR(&message); item != nullptr; item = CMSG_NXTHDR(&message, item)) {
        if (item->cmsg_level == SOL_SOCKET && item->cmsg_type == SO_RXQ_OVFL) {
            std::memcpy(&droppedTotal, CMSG_DATA(item), sizeof(droppedTotal));
        }
    }
    return static_cast<long>(received);
}

bool UdpSocket::socketIsGone(int error) {
    switch (error) {
    case EBADF:
    case ENOTSOCK:
    case EFAULT:
    case EINVAL:
    case ENOTCONN:
        return true;
    default:
        return false;
    }
}

int UdpSocket::grantedReceiveBufferBytes(Common::SocketHandle socket) {
    int bytes = 0;
    socklen_t length = sizeof(bytes);
    if (::getsockopt(toFd(socket), SOL_SOCKET, SO_RCVBUF, &bytes, &length) != 0) {
        return -1;
    }
    // Linux reports twice the size asked for: the other half is its bookkeeping.
    return bytes / 2;
}

const char* UdpSocket::receiveBufferLimitSetting() {
    return "net.core.rmem_max";
}

void UdpSocket::shutdown(Common::SocketHandle socket) {
    ::shutdown(toFd(socket), SHUT_RDWR);
}

void UdpSocket::close(Common::SocketHandle socket) {
    ::close(toFd(socket));
}

int UdpSocket::lastError() {
    const int error = errno;
    // SO_RCVTIMEO ends a blocked receive with EAGAIN; a signal may interrupt it too.
    if (error == EAGAIN || error == EWOULDBLOCK || error == ETIMEDOUT || error == EINTR) {
        return kUdpErrorTimedOut;
    }
    return error;
}

void UdpSocket::setLastError(int code) {
    errno = code;
}
