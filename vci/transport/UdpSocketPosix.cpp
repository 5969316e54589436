#include "vci/transport/UdpSocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

constexpr int kMillisPerSecond = 1000;
constexpr int kMicrosPerMilli = 1000;

sockaddr_in makeAddress(std::uint16_t port) {
    sockaddr_in address;
    std::memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    return address;
}

bool setIntOption(int fd, int name, int value) {
    return ::setsockopt(fd, SOL_SOCKET, name, &value, sizeof(value)) == 0;
}

int intOption(int fd, int name) {
    int value = 0;
    socklen_t length = sizeof(value);
    if (::getsockopt(fd, SOL_SOCKET, name, &value, &length) != 0) {
        return -1;
    }
    return value;
}

} // namespace

bool UdpSocket::startup() {
    return true;
}

void UdpSocket::cleanup() {}

UdpSocket::UdpSocket() : handle_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}

UdpSocket::~UdpSocket() {
    if (isOpen()) {
        ::close(static_cast<int>(handle_));
    }
}

bool UdpSocket::isOpen() const {
    return handle_ >= 0;
}

bool UdpSocket::bind(const std::string& ip, std::uint16_t port) {
    sockaddr_in address = makeAddress(port);
    if (inet_pton(AF_INET, ip.c_str(), &address.sin_addr) != 1) {
        address.sin_addr.s_addr = htonl(INADDR_ANY);
    }
    return ::bind(static_cast<int>(handle_), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) ==
           0;
}

bool UdpSocket::connect(const std::string& ip, std::uint16_t port) {
    sockaddr_in address = makeAddress(port);
    if (inet_pton(AF_INET, ip.c_str(), &address.sin_addr) != 1) {
        errno = EADDRNOTAVAIL;
        return false;
    }
    return ::connect(static_cast<int>(handle_), reinterpret_cast<const sockaddr*>(&address),
                     sizeof(address)) == 0;
}

bool UdpSocket::enableDropCounter() {
    return setIntOption(static_cast<int>(handle_), SO_RXQ_OVFL, 1);
}

bool UdpSocket::setReceiveTimeout(int timeoutMs) {
    if (timeoutMs < 0) {
        return false;
    }
    timeval timeout{};
    timeout.tv_sec = timeoutMs / kMillisPerSecond;
    timeout.tv_usec = (timeoutMs % kMillisPerSecond) * kMicrosPerMilli;
    return ::setsockopt(static_cast<int>(handle_), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout)) == 0;
}

bool UdpSocket::setSendBufferBytes(int bytes) {
    return bytes > 0 && setIntOption(static_cast<int>(handle_), SO_SNDBUF, bytes);
}

bool UdpSocket::setReceiveBufferBytes(int bytes) {
    if (bytes <= 0) {
        return false;
    }
    // Forcing needs administrator rights; without them the system caps the size at its maximum.
    return setIntOption(static_cast<int>(handle_), SO_RCVBUFFORCE, bytes) ||
           setIntOption(static_cast<int>(handle_), SO_RCVBUF, bytes);
}

int UdpSocket::sendBufferBytes() const {
    return intOption(static_cast<int>(handle_), SO_SNDBUF);
}

int UdpSocket::receiveBufferBytes() const {
    return intOption(static_cast<int>(handle_), SO_RCVBUF);
}

int UdpSocket::grantedReceiveBufferBytes() const {
    const int bytes = receiveBufferBytes();
    // Linux reports twice the size asked for: the other half is its bookkeeping.
    return bytes < 0 ? -1 : bytes / 2;
}

const char* UdpSocket::receiveBufferLimitSetting() {
    return "net.core.rmem_max";
}

long UdpSocket::send(const void* data, std::size_t length) {
    const ssize_t sent = ::send(static_cast<int>(handle_), data, length, MSG_NOSIGNAL);
    return sent < 0 ? -1 : static_cast<long>(sent);
}

long UdpSocket::receive(void* buffer, std::size_t capacity, std::uint32_t& droppedTotal, bool& truncated) {
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

    const ssize_t received = ::recvmsg(static_cast<int>(handle_), &message, 0);
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

void UdpSocket::shutdown() {
    ::shutdown(static_cast<int>(handle_), SHUT_RDWR);
}

int UdpSocket::lastError() {
    return errno;
}

void UdpSocket::setLastError(int code) {
    errno = code;
}

bool UdpSocket::isTimeOut(int error) {
    // SO_RCVTIMEO ends a blocked receive with EAGAIN; a signal may interrupt it too.
    return error == EAGAIN || error == EWOULDBLOCK || error == ETIMEDOUT || error == EINTR;
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
