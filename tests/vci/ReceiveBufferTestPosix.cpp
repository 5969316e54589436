#include "tests/support/LogCapture.h"
#include "tests/support/PrivateNetwork.h"
#include "vci/transport/KvVciSocketClient.h"

#include <gtest/gtest.h>

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <fstream>
#include <thread>

namespace {

// Drops CAP_NET_ADMIN from the calling thread alone (Linux keeps capabilities per
// thread), as for a host that runs without the right to exceed the system's cap.
bool dropNetAdminOfThisThread() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (syscall(SYS_capget, &header, data) != 0) {
        return false;
    }
    data[CAP_NET_ADMIN / 32].effective &= ~(1u << (CAP_NET_ADMIN % 32));
    return syscall(SYS_capset, &header, data) == 0;
}

TEST(ReceiveBufferTest, BufferCappedBelowTheRequestIsLoggedWithTheLimitingSetting) {
    ZX_REQUIRE_PRIVATE_NETWORK();
    long rmemMax = 0;
    std::ifstream("/proc/sys/net/core/rmem_max") >> rmemMax;
    if (rmemMax <= 0 || rmemMax >= 8 * 1024 * 1024) {
        GTEST_SKIP() << "net.core.rmem_max does not cap the 8 MiB request here";
    }
    LogCapture log(1);
    bool dropped = false;
    bool connected = false;
    std::thread host([&] {
        dropped = dropNetAdminOfThisThread();
        KvVciSocketClient client(3);
        KvVciSocketSettings settings;
        settings.serverIp = "192.168.201.133";
        settings.serverPort = 8000;
        connected = client.connectToServer(settings);
        client.disconnectFromServer();
    });
    host.join();
    ASSERT_TRUE(dropped);
    ASSERT_TRUE(connected);
    EXPECT_TRUE(log.hasLine(2, "UDP receive buffer is " + std::to_string(rmemMax) +
                                   " bytes instead of the 8388608 asked for; net.core.rmem_max limits it"));
}

} // namespace
