// The link's socket is not handed to child processes: a child started with handle
// inheritance would keep the box's port bound after the host closed it.
#include <winsock2.h>

#include "vci/transport/UdpSocket.h"

#include <gtest/gtest.h>

namespace {

TEST(UdpSocketWin, IsNotInheritedByChildProcesses) {
    ASSERT_TRUE(UdpSocket::startup());
    {
        UdpSocket socket;
        ASSERT_TRUE(socket.isOpen());
        // The class keeps its handle to itself: every socket handle of this process is
        // looked at (the test program opens no other socket).
        int sockets = 0;
        for (std::uintptr_t value = 4; value < 65536; value += 4) {
            const SOCKET candidate = static_cast<SOCKET>(value);
            int type = 0;
            int length = sizeof(type);
            if (::getsockopt(candidate, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &length) != 0 ||
                type != SOCK_DGRAM) {
                continue;
            }
            ++sockets;
            DWORD flags = 0;
            ASSERT_TRUE(::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags));
            EXPECT_EQ(flags & HANDLE_FLAG_INHERIT, 0u) << "socket handle " << value << " is inheritable";
        }
        EXPECT_EQ(sockets, 1);
    }
    UdpSocket::cleanup();
}

} // namespace
