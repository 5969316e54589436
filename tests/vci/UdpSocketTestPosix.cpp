// Socket options on a real, unbound UDP socket (nothing is sent): the units the
// system takes them in.
#include "vci/transport/UdpSocket.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

TEST(UdpSocketOptions, TimeOutIsInMillisecondsAndBufferSizesInBytes) {
    UdpSocket socket;
    ASSERT_TRUE(socket.isOpen());

    // A receive that gets nothing gives up after the time-out, neither at once nor
    // after seconds.
    ASSERT_TRUE(socket.setReceiveTimeout(100));
    char byte = 0;
    std::uint32_t drops = 0;
    bool truncated = false;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(socket.receive(&byte, 1, drops, truncated), -1);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(UdpSocket::isTimeOut(UdpSocket::lastError()));
    EXPECT_GE(waited, std::chrono::milliseconds(50));
    EXPECT_LT(waited, std::chrono::seconds(5));
    EXPECT_FALSE(socket.setReceiveTimeout(-5));

    const int receiveBefore = socket.receiveBufferBytes();
    ASSERT_GT(receiveBefore, 0);
    EXPECT_TRUE(socket.setSendBufferBytes(1024 * 1024));
    EXPECT_GT(socket.sendBufferBytes(), 0);
    EXPECT_TRUE(socket.setReceiveBufferBytes(8 * 1024 * 1024));
    EXPECT_GT(socket.receiveBufferBytes(), receiveBefore);
    EXPECT_FALSE(socket.setSendBufferBytes(0));
}

} // namespace
