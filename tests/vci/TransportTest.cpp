#include "common/Log.h"
#include "tests/support/PollUntil.h"
#include "tests/support/PrivateNetwork.h"
#include "tests/support/RunningUnderWine.h"
#include "tests/vci/TransportFrames.h"
#include "tests/vci/TransportPeer.h"
#include "vci/transport/KvVciSocketClient.h"

#include <gtest/gtest.h>

#include <QByteArray>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using zxtest::append;
using zxtest::numberedFrame;
using zxtest::PeerDatagram;
using zxtest::TransportPeer;

const std::string kBoxIp = "192.168.201.130";
const std::string kHostIp = "192.168.201.1";

KvVciSocketSettings boxSettings() {
    KvVciSocketSettings settings;
    settings.serverIp = kBoxIp;
    settings.serverPort = kVciServerPort;
    settings.localIp = kHostIp;
    return settings;
}

std::size_t countOf(const std::string& text, const std::string& needle) {
    std::size_t count = 0;
    for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
        ++count;
    }
    return count;
}

// Records delivered by the client's receive thread, readable from the test thread.
class RecordSink {
public:
    KvVciSocketClient::DataCallback callback() {
        return [this](const std::vector<_KvVciProtocolData>& batch) {
            std::unique_lock lock(mutex_);
            ++calls_;
            changed_.notify_all();
            changed_.wait(lock, [this] { return !held_; });
            for (const auto& record : batch) {
                std::uint32_t number = 0;
                std::memcpy(&number, record.payload, sizeof(number));
                numbers_.push_back(number);
                // numberedFrame fills behind the number with A5: anything else in a
                // record was spliced from bytes of different frames
                const std::size_t length = std::min<std::size_t>(record.length, sizeof(record.payload));
                spliced_ += std::any_of(record.payload + std::min<std::size_t>(4, length),
                                        record.payload + length, [](std::uint8_t b) { return b != 0xA5; })
                                ? 1
                                : 0;
            }
            changed_.notify_all();
        };
    }
    // Polls until at least count records arrived or the deadline passed.
    std::vector<std::uint32_t> waitFor(std::size_t count, std::chrono::milliseconds deadline) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, deadline, [&] { return numbers_.size() >= count; });
        return numbers_;
    }
    std::size_t spliced() {
        std::unique_lock lock(mutex_);
        return spliced_;
    }
    bool contains(std::uint32_t number) {
        std::unique_lock lock(mutex_);
        return std::find(numbers_.begin(), numbers_.end(), number) != numbers_.end();
    }
    // Polls until the receive thread entered the callback at least once.
    bool waitForCall(std::chrono::milliseconds deadline) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, deadline, [&] { return calls_ > 0; });
    }
    // While held, the receive thread stays inside the callback.
    void hold(bool held) {
        {
            std::lock_guard lock(mutex_);
            held_ = held;
        }
        changed_.notify_all();
    }

private:
    std::mutex mutex_; // guards numbers_, calls_ and held_
    std::condition_variable changed_;
    std::vector<std::uint32_t> numbers_;
    std::size_t spliced_ = 0;
    std::size_t calls_ = 0;
    bool held_ = false;
};

// Lets a held receive thread go when a test ends early, before the client joins it.
struct ReleaseOnExit {
    RecordSink& sink;
    ~ReleaseOnExit() { sink.hold(false); }
};

class TransportTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (zxtest::runningUnderWine()) {
            // wine binds a UDP socket to every address of its interface, so the bound
            // address cannot be observed there; the Windows host test runs this path
            // end to end against the box simulator instead.
            GTEST_SKIP() << "socket binding differs under wine";
        }
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        logPath_ = std::filesystem::temp_directory_path() /
                   ("zx_transport_" + std::to_string(Clock::now().time_since_epoch().count()) + "_" +
                    info->name() + ".log");
        std::filesystem::remove(logPath_);
        startLog(1);
    }
    void TearDown() override {
        Common::logStop();
        std::filesystem::remove(logPath_);
    }
    void startLog(int minLevel) {
        Common::logInit(logPath_.string(), minLevel, 10, 1);
        Common::logStart(false);
    }
    std::string logText() const {
        std::ifstream in(logPath_);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    // The log writes every line through, so a line can be waited for.
    bool waitForLog(const std::string& needle, std::chrono::milliseconds deadline = 3s) const {
        const auto end = Clock::now() + deadline;
        while (Clock::now() < end) {
            if (logText().find(needle) != std::string::npos) {
                return true;
            }
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }
    // The client sends one byte so the peer learns its port.
    std::uint16_t learnClientPort(KvVciSocketClient& client, TransportPeer& peer) {
        EXPECT_EQ(client.sendData(std::vector<std::uint8_t>{0x01}), 0);
        PeerDatagram datagram;
        EXPECT_TRUE(peer.receive(datagram, 2000));
        return datagram.senderPort;
    }

    std::filesystem::path logPath_;
};

TEST_F(TransportTest, PeerSeesBoundLocalAddressAndTheBytesSent) {
    ZX_REQUIRE_PRIVATE_NETWORK();
    startLog(0);
    TransportPeer peer(kBoxIp, kVciServerPort);
    ASSERT_TRUE(peer.ok());
    KvVciSocketClient client(7);
    ASSERT_TRUE(client.connectToServer(boxSettings()));
    EXPECT_TRUE(client.isConnected());

    const std::vector<std::uint8_t> request{0xAA, 0x55, 0x0F, 0x60, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00};
    EXPECT_EQ(client.sendData(request), 0);
    PeerDatagram datagram;
    ASSERT_TRUE(peer.receive(datagram, 2000));
    EXPECT_EQ(datagram.senderIp, kHostIp);
    EXPECT_EQ(datagram.bytes, request);

    client.disconnectFromServer();
    EXPECT_FALSE(client.isConnected());
    const std::string log = logText();
    EXPECT_NE(log.find("Bind to local IP: 192.168.201.1"), std::string::npos);
    EXPECT_NE(log.find("Connected to server: 192.168.201.130"), std::string::npos);
    EXPECT_NE(log.find("7 SD:"), std::string::npos);
}

TEST_F(TransportTest, DatagramsFromTheBoxComeBackAsRecords) {
    ZX_REQUIRE_PRIVATE_NETWORK();
    TransportPeer peer(kBoxIp, kVciServerPort);
    ASSERT_TRUE(peer.ok());
    RecordSink sink;
    KvVciSocketClient client(0);
    client.setDataCallback(sink.callback());
    ASSERT_TRUE(client.connectToServer(boxSettings()));
    const std::uint16_t port = learnClientPort(client, peer);

    // a callback offered while connected is refused; records keep going to the first
    RecordSink other;
    client.setDataCallback(other.callback());

    std::vector<std::uint8_t> two = numberedFrame(1);
    append(two, numberedFrame(2));
    const std::vector<std::uint8_t> split = numberedFrame(3, 80);
    ASSERT_TRUE(peer.sendTo(kHostIp, port, two));
    ASSERT_TRUE(peer.sendTo(kHostIp, port, std::vector<std::uint8_t>(split.begin(), split.begin() + 30)));
    ASSERT_TRUE(peer.sendTo(kHostIp, port, std::vector<std::uint8_t>(split.begin() + 30, split.end())));

    EXPECT_EQ(sink.waitFor(3, 3s), (std::vector<std::uint32_t>{1, 2, 3}));
    EXPECT_TRUE(other.waitFor(1, 0ms).empty());
    client.disconnectFromServer();
    EXPECT_NE(logText().find("Stopped read message thread"), std::string::npos);
}

TEST_F(TransportTest, HeartbeatIsOneByteFFAfterTheLinkWasIdle) {
    ZX_REQUIRE_PRIVATE_NETWORK();
    TransportPeer peer(kBoxIp, kVciServerPort);
    ASSERT_TRUE(peer.ok());
    KvVciSocketClient client(0);
    ASSERT_TRUE(client.connectToServer(boxSettings()));
    learnClientPort(client, peer);
    const auto lastSend = Clock::now();

    PeerDatagram datagram;
    ASSERT_TRUE(peer.receive(datagram, 5000));
    const auto idle = Clock::now() - lastSend;
    EXPECT_EQ(datagram.bytes, std::vector<std::uint8_t>{0xFF});
    // the send just before counts as traffic, so the heartbeat waits out the idle time
    EXPECT_GE(idle, 1500ms);
    client.disconnectFromServer();
}

TEST_F(TransportTest, EmptySendIsRefusedEvenWhenConnected) {
    ZX_REQUIRE_PRIVATE_NETWORK();
    TransportPeer peer(kBoxIp, kVciServerPort);
    KvVciSocketClient client(0);
    EXPECT_EQ(client.sendData(std::vector<std::uint8_t>{0x01}), -103);
    ASSERT_TRUE(client.connectToServer(boxSettings()));
    EXPECT_EQ(client.sendData(std::vector<std::uint8_t>{}), -103);
    client.disconnectFromServer();
    EXPECT_EQ(client.sendData(std::vector<std::uint8_t>{0x01}), -103);
    EXPECT_EQ(countOf(logText(), "Failed to send data: invalid socket or data"), 3u);
}

TEST_F(TransportTest, DisconnectIsPromptAndLogsOnlyOnce) {
    ZX_REQUIRE_PRIVATE_NETWORK();
    TransportPeer peer(kBoxIp, kVciServerPort);
    KvVciSocketClient client(2);
    client.disconnectFromServer(); // never connected: nothing happens, nothing is logged
    ASSERT_TRUE(client.connectToServer(boxSettings()));
    ASSERT_TRUE(waitForLog("Start read message thread"));

    const auto start = Clock::now();
    client.disconnectFromServer();
    EXPECT_LT(Clock::now() - start, 1s);
    client.disconnectFromServer();
    EXPECT_FALSE(client.isConnected());

    // a second connect on the same client works after a disconnect
    ASSERT_TRUE(client.connectToServer(boxSettings()));
    client.disconnectFromServer();

    const std::string log = logText();
    EXPECT_EQ(countOf(log, "Disconnected from server: 192.168.201.130"), 2u);
    EXPECT_EQ(countOf(log, "exit code 0"), 2u);
}

TEST_F(TransportTest, DisconnectReturnsWhileTheReceiveThreadIsBusy) {
    ZX_REQUIRE_PRIVATE_NETWORK();
    TransportPeer peer(kBoxIp, kVciServerPort);
    ASSERT_TRUE(peer.ok());
    RecordSink sink;
    KvVciSocketClient client(0);
    client.setDataCallback(sink.callback());
    ASSERT_TRUE(client.connectToServer(boxSettings()));
    const std::uint16_t port = learnClientPort(client, peer);

    // the thread sits in the callback while the disconnect starts, then is let go
    const ReleaseOnExit releaseOnExit{sink};
    sink.hold(true);
    ASSERT_TRUE(peer.sendTo(kHostIp, port, numberedFrame(1)));
    ASSERT_TRUE(sink.waitForCall(2s));
    std::thread release([&] {
        std::this_thread::sleep_for(100ms);
        sink.hold(false);
    });
    client.disconnectFromServer();
    release.join();
    EXPECT_FALSE(client.isConnected());
    EXPECT_EQ(sink.waitFor(1, 0ms), std::vector<std::uint32_t>{1});
    EXPECT_NE(logText().find("exit code 0"), std::string::npos);
}

TEST_F(TransportTest, EmptyDatagramEndsTheReceiveThreadWithExitCodeMinusOne) {
    ZX_REQUIRE_PRIVATE_NETWORK();
    TransportPeer peer(kBoxIp, kVciServerPort);
    ASSERT_TRUE(peer.ok());
    RecordSink sink;
    KvVciSocketClient client(0);
    client.setDataCallback(sink.callback());
    ASSERT_TRUE(client.connectToServer(boxSettings()));
    const std::uint16_t port = learnClientPort(client, peer);

    ASSERT_TRUE(peer.sendTo(kHostIp, port, {}));
    ASSERT_TRUE(waitForLog(", exit code -1"));
    EXPECT_NE(logText().find("Connection closed by server: 192.168.201.130"), std::string::npos);
    // nothing is received any more, and the client says so
    EXPECT_FALSE(client.isConnected());
    EXPECT_EQ(client.linkEndCode(), -1);
    client.reportSummary();
    EXPECT_TRUE(waitForLog("Device0 stopped receiving before it was closed: the box closed the connection"));
    client.disconnectFromServer();
    EXPECT_FALSE(client.isConnected());
}

TEST_F(TransportTest, ConnectFailuresLeaveTheClientClosed) {
    ZX_REQUIRE_PRIVATE_NETWORK();
    KvVciSocketClient client(16);
    KvVciSocketSettings noServer = boxSettings();
    noServer.serverIp.clear();
    EXPECT_FALSE(client.connectToServer(noServer));
    EXPECT_FALSE(client.isConnected());

    KvVciSocketSettings foreignLocal = boxSettings();
    foreignLocal.localIp = "192.168.201.99"; // not an address of this host
    EXPECT_FALSE(client.connectToServer(foreignLocal));
    EXPECT_FALSE(client.isConnected());
    EXPECT_EQ(client.sendData(std::vector<std::uint8_t>{0x01}), -103);

    const std::string log = logText();
    EXPECT_NE(log.find("Failed to connect to server IP: . Error: "), std::string::npos);
    EXPECT_NE(log.find("Failed to bind to local IP: 192.168.201.99. Error: "), std::string::npos);
    EXPECT_EQ(log.find("Start read message thread"), std::string::npos);
}

TEST_F(TransportTest, EmptyLocalAddressSkipsTheBind) {
    ZX_REQUIRE_PRIVATE_NETWORK();
    TransportPeer peer(kBoxIp, kVciServerPort);
    ASSERT_TRUE(peer.ok());
    KvVciSocketClient client(0);
    KvVciSocketSettings settings = boxSettings();
    settings.localIp.clear();
    ASSERT_TRUE(client.connectToServer(settings));
    learnClientPort(client, peer);
    client.disconnectFromServer();
    EXPECT_EQ(logText().find("Bind to local IP"), std::string::npos);
}

TEST_F(TransportTest, BoxRestartOnTheSameAddressIsCountedAndRecordsFlowAgain) {
    ZX_REQUIRE_PRIVATE_NETWORK();
    RecordSink sink;
    KvVciSocketClient client(1);
    client.setDataCallback(sink.callback());
    ASSERT_TRUE(client.connectToServer(boxSettings()));
    {
        TransportPeer box(kBoxIp, kVciServerPort);
        ASSERT_TRUE(box.ok());
        const std::uint16_t port = learnClientPort(client, box);
        ASSERT_TRUE(box.sendTo(kHostIp, port, numberedFrame(1)));
        ASSERT_EQ(sink.waitFor(1, 3s), std::vector<std::uint32_t>{1});
    }
    // While the box is down each datagram to it comes back as "port unreachable",
    // which the next receive reports as an error of that one datagram.
    EXPECT_TRUE(zxtest::pollUntil(
        3s,
        [&] {
            client.sendData(std::vector<std::uint8_t>{0x01});
            return client.lossCounters().snapshot().receiveErrors >= 2;
        },
        20ms));
    EXPECT_TRUE(client.isConnected());

    TransportPeer restarted(kBoxIp, kVciServerPort);
    ASSERT_TRUE(restarted.ok());
    // the error of a datagram sent while the box was away may still be pending: the
    // send that meets it goes out all the same
    const std::uint16_t port = learnClientPort(client, restarted);
    ASSERT_TRUE(restarted.sendTo(kHostIp, port, numberedFrame(2)));
    EXPECT_EQ(sink.waitFor(2, 3s), (std::vector<std::uint32_t>{1, 2}));
    EXPECT_EQ(client.linkEndCode(), 0);
    client.disconnectFromServer();
    const std::string log = logText();
    // rate-limited: the errors of one burst give one line
    EXPECT_EQ(countOf(log, "receiving goes on"), 1u);
    EXPECT_EQ(countOf(log, "exit code 0"), 1u);
}

TEST_F(TransportTest, DatagramCutByTheReceiveBufferSplicesNoFrames) {
    ZX_REQUIRE_PRIVATE_NETWORK();
    TransportPeer peer(kBoxIp, kVciServerPort);
    ASSERT_TRUE(peer.ok());
    RecordSink sink;
    KvVciSocketClient client(5);
    client.setDataCallback(sink.callback());
    ASSERT_TRUE(client.connectToServer(boxSettings()));
    const std::uint16_t port = learnClientPort(client, peer);

    // 55 frames of 109 bytes: the 4096-byte receive buffer ends inside frame 38
    std::vector<std::uint8_t> oversized;
    std::vector<std::uint32_t> expected;
    for (std::uint32_t n = 1; n <= 55; ++n) {
        append(oversized, numberedFrame(n, 100));
        if (n <= 37) {
            expected.push_back(n);
        }
    }
    std::vector<std::uint8_t> next;
    for (std::uint32_t n = 100; n < 110; ++n) {
        append(next, numberedFrame(n, 100));
        expected.push_back(n);
    }
    ASSERT_TRUE(peer.sendTo(kHostIp, port, oversized));
    ASSERT_TRUE(peer.sendTo(kHostIp, port, next));

    EXPECT_EQ(sink.waitFor(expected.size(), 3s), expected);
    EXPECT_EQ(sink.spliced(), 0u);
    const KvVciLossSnapshot losses = client.lossCounters().snapshot();
    EXPECT_EQ(losses.truncatedDatagrams, 1u);
    EXPECT_EQ(losses.gapDiscardedBytes, 4096u - 37u * 109u);
    client.disconnectFromServer();
}

TEST_F(TransportTest, KernelDropsOfAFloodAreCounted) {
    ZX_REQUIRE_PRIVATE_NETWORK();
    TransportPeer peer(kBoxIp, kVciServerPort);
    ASSERT_TRUE(peer.ok());
    RecordSink sink;
    KvVciSocketClient client(4);
    client.setDataCallback(sink.callback());
    ASSERT_TRUE(client.connectToServer(boxSettings()));
    const std::uint16_t port = learnClientPort(client, peer);

    // the receive thread is held in the callback while far more arrives than the
    // receive buffer holds
    constexpr std::uint32_t kFlood = 100000;
    const ReleaseOnExit releaseOnExit{sink};
    sink.hold(true);
    ASSERT_TRUE(peer.sendTo(kHostIp, port, numberedFrame(0)));
    std::uint32_t sent = 1;
    for (std::uint32_t i = 1; i <= kFlood; ++i) {
        sent += peer.sendTo(kHostIp, port, numberedFrame(i)) ? 1 : 0;
    }
    sink.hold(false);
    // The system reports its drop count with the next datagram it queues; a marker
    // may itself be dropped while the queue is still full, so each try has its own
    // number and the count is complete once the latest try arrived.
    std::uint32_t marker = kFlood;
    const auto end = Clock::now() + 10s;
    do {
        ++marker;
        ASSERT_TRUE(peer.sendTo(kHostIp, port, numberedFrame(marker)));
        ++sent;
        const auto tryEnd = Clock::now() + 200ms;
        while (!sink.contains(marker) && Clock::now() < tryEnd) {
            std::this_thread::sleep_for(5ms);
        }
    } while (!sink.contains(marker) && Clock::now() < end);
    ASSERT_TRUE(sink.contains(marker));

    const std::uint64_t dropped = client.lossCounters().snapshot().kernelDroppedDatagrams;
    const std::size_t received = sink.waitFor(0, 0ms).size();
    EXPECT_GT(dropped, 0u);
    EXPECT_EQ(received + dropped, sent);
    EXPECT_TRUE(waitForLog("Device4 link dropped"));
    client.disconnectFromServer();
}

TEST_F(TransportTest, HalfFrameBeforeKernelDropsIsNotCompletedByLaterBytes) {
    ZX_REQUIRE_PRIVATE_NETWORK();
    TransportPeer peer(kBoxIp, kVciServerPort);
    ASSERT_TRUE(peer.ok());
    RecordSink sink;
    KvVciSocketClient client(4);
    client.setDataCallback(sink.callback());
    ASSERT_TRUE(client.connectToServer(boxSettings()));
    const std::uint16_t port = learnClientPort(client, peer);

    // Every datagram ends inside a frame that the next one completes, so wherever the
    // kernel starts dropping, a half frame is carried over into the gap.
    constexpr std::size_t kHead = 13;
    const ReleaseOnExit releaseOnExit{sink};
    sink.hold(true);
    ASSERT_TRUE(peer.sendTo(kHostIp, port, numberedFrame(0)));
    std::vector<std::uint8_t> previous = numberedFrame(1);
    ASSERT_TRUE(
        peer.sendTo(kHostIp, port, std::vector<std::uint8_t>(previous.begin(), previous.begin() + kHead)));
    for (std::uint32_t n = 2; n <= 100000; ++n) {
        std::vector<std::uint8_t> datagram(previous.begin() + kHead, previous.end());
        previous = numberedFrame(n);
        datagram.insert(datagram.end(), previous.begin(), previous.begin() + kHead);
        peer.sendTo(kHostIp, port, datagram);
    }
    sink.hold(false);
    // whole frames after the gap, until one of them arrived
    std::uint32_t marker = 200000;
    ASSERT_TRUE(zxtest::pollUntil(
        10s, [&] { return sink.contains(marker) || !peer.sendTo(kHostIp, port, numberedFrame(++marker)); },
        50ms));
    ASSERT_TRUE(sink.contains(marker));

    const KvVciLossSnapshot losses = client.lossCounters().snapshot();
    EXPECT_GT(losses.kernelDroppedDatagrams, 0u);
    EXPECT_GT(losses.gapDiscardedBytes, 0u);
    EXPECT_EQ(sink.spliced(), 0u);
    client.disconnectFromServer();
}

} // namespace
