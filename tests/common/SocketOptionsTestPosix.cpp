// Socket options on a real (unconnected, loopback-only) UDP socket.
#include "common/Utils.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

class SocketOptionsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_GE(socket_, 0); }
    void TearDown() override { ::close(socket_); }
    const int socket_ = ::socket(AF_INET, SOCK_DGRAM, 0);
};

TEST_F(SocketOptionsTest, ReceiveTimeoutIsSetInMilliseconds) {
    ASSERT_EQ(Common::Utils::setReceiveTimeout(socket_, 1030), 0);
    timeval timeout{};
    socklen_t length = sizeof(timeout);
    ASSERT_EQ(::getsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &timeout, &length), 0);
    EXPECT_EQ(timeout.tv_sec, 1);
    // the kernel keeps the time-out in jiffies, so allow its rounding
    EXPECT_NEAR(static_cast<double>(timeout.tv_usec), 30000.0, 10000.0);
}

TEST_F(SocketOptionsTest, BufferSizesAreSetAndReported) {
    const int receiveBefore = Common::Utils::getSocketReceiveBufferSize(socket_);
    ASSERT_GT(receiveBefore, 0);
    EXPECT_NE(Common::Utils::setSocketSendBufferSize(socket_, 1024), 0);
    EXPECT_GT(Common::Utils::getSocketSendBufferSize(socket_), 0);
    EXPECT_NE(Common::Utils::setSocketReceiveBufferSize(socket_, 8192), 0);
    EXPECT_GE(Common::Utils::getSocketReceiveBufferSize(socket_), receiveBefore);
}

TEST_F(SocketOptionsTest, NoSocketOrNonsenseSizesFail) {
    EXPECT_NE(Common::Utils::setReceiveTimeout(-1, 30), 0);
    EXPECT_NE(Common::Utils::setReceiveTimeout(socket_, -5), 0);
    EXPECT_EQ(Common::Utils::setSocketSendBufferSize(-1, 1024), 0);
    EXPECT_EQ(Common::Utils::setSocketSendBufferSize(socket_, 0), 0);
    EXPECT_EQ(Common::Utils::setSocketReceiveBufferSize(socket_, 1 << 30), 0);
    EXPECT_EQ(Common::Utils::getSocketReceiveBufferSize(-1), -1);
    EXPECT_EQ(Common::Utils::getSocketSendBufferSize(-1), -1);
}

} // namespace
