// The socket client against a plain UDP socket standing in for the box. Linux only: wine
// binds a UDP socket to every address of its interface, so the bound address cannot be
// observed there; the Windows host test runs this path against the box simulator.
#include "tests/support/HostUdpSocket.h"
#include "tests/support/LogCapture.h"
#include "tests/support/PollUntil.h"
#include "tests/support/PrivateNetwork.h"
#include "tests/support/WireFrames.h"
#include "vci/transport/KvVciSocketClient.h"
#include "zxcollector_api.h"

#include <gtest/gtest.h>

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <mutex>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using zxtest::append;
using zxtest::numberedFrame;
using zxtest::pollUntil;

// Records delivered by the client's receive thread, readable from the test thread.
class RecordSink {
public:
    KvVciSocketClient::DataCallback callback() {
        return [this](const std::vector<_KvVciProtocolData>& batch) {
            std::unique_lock lock(mutex_);
            for (const auto& record : batch) {
                std::uint32_t number = 0;
                std::memcpy(&number, record.payload, sizeof(number));
                numbers_.push_back(number);
                // numberedFrame fills behind the number with A5: anything else in a
                // record was spliced from bytes of different frames
                const std::size_t length = std::min<std::size_t>(record.length, sizeof(record.payload));
                spliced_ += std::any_of(record.payload + std::min<std::size_t>(4, length),
                                        record.payload + length, [](std::uint8_t b) { return b != 0xA5; });
            }
            changed_.notify_all();
            changed_.wait(lock, [this] { return !held_; });
        };
    }
    std::vector<std::uint32_t> numbers(std::size_t atLeast = 0, std::chrono::milliseconds deadline = 0ms) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, deadline, [&] { return numbers_.size() >= atLeast; });
        return numbers_;
    }
    std::size_t spliced() {
        std::lock_guard lock(mutex_);
        return spliced_;
    }
    // While held, the receive thread stays inside the callback once it delivered a batch.
    void hold(bool held) {
        {
            std::lock_guard lock(mutex_);
            held_ = held;
        }
        changed_.notify_all();
    }

private:
    std::mutex mutex_; // guards everything below
    std::condition_variable changed_;
    std::vector<std::uint32_t> numbers_;
    std::size_t spliced_ = 0;
    bool held_ = false;
};

class TransportTest : public ::testing::Test {
protected:
    void SetUp() override {
        ZX_REQUIRE_PRIVATE_NETWORK();
        ASSERT_EQ(box->problem(), "");
        client.setDataCallback(sink.callback());
    }
    void TearDown() override {
        sink.hold(false); // a held receive thread must be let go before the client joins it
        client.disconnectFromServer();
    }
    static KvVciSocketSettings settings(const std::string& localIp = "192.168.201.1") {
        return {false, "192.168.201.130", kVciServerPort, localIp};
    }
    // Connects and sends one byte, so the box learns where to answer.
    void connect() {
        ASSERT_TRUE(client.connectToServer(settings()));
        learnClient();
    }
    void learnClient() {
        ASSERT_EQ(client.sendData(Bytes{0x01}), ZX_OK);
        ASSERT_TRUE(box->receive(2s));
    }
    // Sends numbered frames from after `last` until one of them arrives, as the system
    // reports its drops with the next datagram it queues; returns how many were sent.
    std::uint32_t sendUntilOneArrives(std::uint32_t last) {
        std::uint32_t sent = 0;
        EXPECT_TRUE(pollUntil(
            10s,
            [&] {
                const auto numbers = sink.numbers();
                if (sent > 0 && std::find(numbers.begin(), numbers.end(), last) != numbers.end()) {
                    return true;
                }
                sent += box->send(numberedFrame(++last));
                return false;
            },
            100ms));
        return sent;
    }

    LogCapture log{1};
    std::unique_ptr<zxtest::HostUdpSocket> box =
        std::make_unique<zxtest::HostUdpSocket>(zxtest::HostUdpSocket::BoxSide{});
    RecordSink sink; // outlives the client whose thread calls it
    KvVciSocketClient client{3};
};

TEST_F(TransportTest, SendsFromTheBoundAddressAndDeliversFramesAcrossDatagrams) {
    ASSERT_TRUE(client.connectToServer(settings()));
    const Bytes request{0xAA, 0x55, 0x0F, 0x60, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00};
    EXPECT_EQ(client.sendData(request), ZX_OK);
    EXPECT_EQ(box->receive(2s), request);
    EXPECT_EQ(box->senderAddress(), "192.168.201.1");

    // a callback offered while connected is refused; records keep going to the first
    RecordSink other;
    client.setDataCallback(other.callback());
    const Bytes split = numberedFrame(3, 80);
    ASSERT_TRUE(box->send(numberedFrame(1)));
    ASSERT_TRUE(box->send(numberedFrame(2)));
    ASSERT_TRUE(box->send(Bytes(split.begin(), split.begin() + 30)));
    ASSERT_TRUE(box->send(Bytes(split.begin() + 30, split.end())));
    EXPECT_EQ(sink.numbers(3, 3s), (std::vector<std::uint32_t>{1, 2, 3}));
    EXPECT_TRUE(other.numbers().empty());
}

TEST_F(TransportTest, HeartbeatIsOneByteFFAfterTheLinkWasIdle) {
    connect();
    const auto lastSend = Clock::now();
    EXPECT_EQ(box->receive(5s), Bytes{0xFF});
    // the send just before counts as traffic, so the heartbeat waits out the idle time
    EXPECT_GE(Clock::now() - lastSend, 1500ms);
}

TEST_F(TransportTest, DisconnectIsPromptEvenWhileTheReceiveThreadIsBusy) {
    connect();
    sink.hold(true);
    ASSERT_TRUE(box->send(numberedFrame(1)));
    ASSERT_EQ(sink.numbers(1, 2s).size(), 1u);
    std::thread release([&] {
        std::this_thread::sleep_for(100ms); // the disconnect starts while the thread is busy
        sink.hold(false);
    });
    const auto start = Clock::now();
    client.disconnectFromServer();
    EXPECT_LT(Clock::now() - start, 1s);
    release.join();
    client.disconnectFromServer();
    EXPECT_FALSE(client.isConnected());
    EXPECT_EQ(sink.numbers(), std::vector<std::uint32_t>{1});

    // a second connect on the same client works after a disconnect
    connect();
}

TEST_F(TransportTest, ConnectNeedsAServerAndBindsOnlyAGivenLocalAddress) {
    KvVciSocketSettings noServer = settings();
    noServer.serverIp.clear();
    EXPECT_FALSE(client.connectToServer(noServer));
    EXPECT_FALSE(client.connectToServer(settings("192.168.201.99"))); // not an address of this host
    EXPECT_TRUE(log.hasLine(3, "Check: 192.168.201.99 is not an address of any network interface"));
    EXPECT_FALSE(client.isConnected());
    const std::size_t binds = log.count("Bind to local IP");
    ASSERT_TRUE(client.connectToServer(settings("")));
    learnClient();
    EXPECT_EQ(log.count("Bind to local IP"), binds);
    EXPECT_EQ(client.sendData(Bytes{}), ZX_ERR_SEND_REFUSED);
}

TEST_F(TransportTest, BoxRestartOnTheSameAddressIsCountedAndRecordsFlowAgain) {
    connect();
    ASSERT_TRUE(box->send(numberedFrame(1)));
    ASSERT_EQ(sink.numbers(1, 3s), std::vector<std::uint32_t>{1});
    box.reset();
    // While the box is down each datagram to it comes back as "port unreachable",
    // which the next receive reports as an error of that one datagram.
    EXPECT_TRUE(pollUntil(
        3s,
        [&] {
            client.sendData(Bytes{0x01});
            return client.lossCounters().snapshot().receiveErrors >= 2;
        },
        20ms));
    EXPECT_TRUE(client.isConnected());

    box = std::make_unique<zxtest::HostUdpSocket>(zxtest::HostUdpSocket::BoxSide{});
    // the error of a datagram sent while the box was away may still be pending: the
    // send that meets it goes out all the same
    learnClient();
    ASSERT_TRUE(box->send(numberedFrame(2)));
    EXPECT_EQ(sink.numbers(2, 3s), (std::vector<std::uint32_t>{1, 2}));
    EXPECT_EQ(client.linkEndCode(), 0);
    client.disconnectFromServer();
    // rate-limited: the errors of one burst give one line
    EXPECT_EQ(log.count("receiving goes on"), 1u);
}

TEST_F(TransportTest, DatagramCutByTheReceiveBufferSplicesNoFrames) {
    connect();
    // 55 frames of 109 bytes: the 4096-byte receive buffer ends inside frame 38
    Bytes oversized;
    Bytes next;
    std::vector<std::uint32_t> expected;
    for (std::uint32_t n = 1; n <= 55; ++n) {
        append(oversized, numberedFrame(n, 100));
        if (n <= 37) {
            expected.push_back(n);
        }
    }
    for (std::uint32_t n = 100; n < 110; ++n) {
        append(next, numberedFrame(n, 100));
        expected.push_back(n);
    }
    ASSERT_TRUE(box->send(oversized));
    ASSERT_TRUE(box->send(next));
    EXPECT_EQ(sink.numbers(expected.size(), 3s), expected);
    EXPECT_EQ(sink.spliced(), 0u);
    const KvVciLossSnapshot losses = client.lossCounters().snapshot();
    EXPECT_EQ(losses.truncatedDatagrams, 1u);
    EXPECT_EQ(losses.gapDiscardedBytes, 4096u - 37u * 109u);
}

// The receive thread is held in the callback while far more arrives than the receive
// buffer holds, then frames are sent until one arrives after the gap.
TEST_F(TransportTest, KernelDropsAreCountedAndLeaveNoHalfFrameToComplete) {
    connect();
    sink.hold(true);
    std::uint32_t sent = 0;
    for (std::uint32_t i = 0; i <= 100000; ++i) {
        sent += box->send(numberedFrame(i));
    }
    sink.hold(false);
    sent += sendUntilOneArrives(100000);
    const std::uint64_t dropped = client.lossCounters().snapshot().kernelDroppedDatagrams;
    EXPECT_GT(dropped, 0u);
    EXPECT_EQ(sink.numbers().size() + dropped, sent);
    EXPECT_TRUE(pollUntil(3s, [&] { return log.contains("Device3 link dropped"); }));

    // Now every datagram ends inside a frame that the next one completes, so wherever
    // the kernel starts dropping, a half frame is carried over into the gap.
    constexpr std::size_t kHead = 13;
    sink.hold(true);
    Bytes previous = numberedFrame(300000);
    ASSERT_TRUE(box->send(Bytes(previous.begin(), previous.begin() + kHead)));
    for (std::uint32_t n = 300001; n <= 400000; ++n) {
        Bytes datagram(previous.begin() + kHead, previous.end());
        previous = numberedFrame(n);
        datagram.insert(datagram.end(), previous.begin(), previous.begin() + kHead);
        box->send(datagram);
    }
    sink.hold(false);
    sendUntilOneArrives(500000);
    const KvVciLossSnapshot losses = client.lossCounters().snapshot();
    EXPECT_GT(losses.kernelDroppedDatagrams, dropped);
    EXPECT_GT(losses.gapDiscardedBytes, 0u);
    EXPECT_EQ(sink.spliced(), 0u);
}

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

TEST_F(TransportTest, ReceiveBufferCappedBelowTheRequestIsLoggedWithTheLimitingSetting) {
    long rmemMax = 0;
    std::ifstream("/proc/sys/net/core/rmem_max") >> rmemMax;
    if (rmemMax <= 0 || rmemMax >= 8 * 1024 * 1024) {
        GTEST_SKIP() << "net.core.rmem_max does not cap the 8 MiB request here";
    }
    bool dropped = false;
    std::thread host([&] {
        dropped = dropNetAdminOfThisThread();
        connect();
    });
    host.join();
    ASSERT_TRUE(dropped);
    EXPECT_TRUE(log.hasLine(2, "UDP receive buffer is " + std::to_string(rmemMax) +
                                   " bytes instead of the 8388608 asked for; net.core.rmem_max limits it"));
}

} // namespace
