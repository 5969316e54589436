// Receive throughput: the same datagrams of CAN frames go once through a bare loop
// that only receives and scans them, and once through the library (socket client,
// the device's dispatcher, the channel buffer, a reader draining it). Prints both
// rates, their ratio and the frames lost on the library path.
//   scripts/netns-run.sh build/bench/receive/bench_receive [datagrams per round]
#include "api/common/ZxLog.h"
#include "common/Log.h"
#include "tests/support/PrivateNetwork.h"
#include "vci/config/KvVciConfigStore.h"
#include "vci/device/KvVciDevice.h"
#include "vci/transport/KvVciFrameScanner.h"
#include "vci/transport/UdpSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr const char* kBoxIp = "192.168.201.130";
constexpr const char* kHostIp = "192.168.201.1";     // the library's device
constexpr const char* kBareHostIp = "192.168.201.2"; // the bare loop
constexpr std::size_t kFramesPerDatagram = 40;       // 1320 bytes: fits one Ethernet frame
constexpr std::size_t kCanDataBytes = 8;
constexpr std::uint64_t kWindowFrames = 40000; // in flight at most: far below the receive buffer
constexpr int kRounds = 5;

sockaddr_in address(const char* ip, std::uint16_t port) {
    sockaddr_in result;
    std::memset(&result, 0, sizeof(result));
    result.sin_family = AF_INET;
    result.sin_port = htons(port);
    inet_pton(AF_INET, ip, &result.sin_addr);
    return result;
}

// The box's side: a socket on the box address that answers the firmware request and
// sends numbered CAN frames to whoever spoke to it last.
class BenchBox {
public:
    BenchBox() {
        fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        const sockaddr_in self = address(kBoxIp, kVciServerPort);
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<const sockaddr*>(&self), sizeof(self)) != 0) {
            std::perror("bench box bind");
            std::exit(1);
        }
        const int size = 4 << 20;
        ::setsockopt(fd_, SOL_SOCKET, SO_SNDBUF, &size, sizeof(size));
        buildDatagram();
    }
    ~BenchBox() { ::close(fd_); }

    // Waits for a datagram from hostIp (heartbeats of the other host are skipped) and
    // returns its sender; answers a firmware request.
    bool awaitClient(const char* hostIp, sockaddr_in& client) {
        const in_addr_t wanted = address(hostIp, 0).sin_addr.s_addr;
        const auto end = Clock::now() + 2s;
        while (Clock::now() < end) {
            pollfd wait{fd_, POLLIN, 0};
            if (::poll(&wait, 1, 100) != 1) {
                continue;
            }
            std::uint8_t buffer[2048];
            socklen_t length = sizeof(client);
            const ssize_t n =
                ::recvfrom(fd_, buffer, sizeof(buffer), 0, reinterpret_cast<sockaddr*>(&client), &length);
            if (n < 0 || client.sin_addr.s_addr != wanted) {
                continue;
            }
            if (n >= 4 && buffer[2] == static_cast<std::uint8_t>(KvVciFrameType::Device) &&
                buffer[3] == static_cast<std::uint8_t>(KvVciCommand::FirmwareVersion)) {
                const std::uint8_t reply[] = {0x55, 0xAA, 0x0F, 0x60, 0x00, 0x00, 0x04,
                                              0x00, 1,    2,    3,    4,    0x00};
                ::sendto(fd_, reply, sizeof(reply), 0, reinterpret_cast<const sockaddr*>(&client),
                         sizeof(client));
            }
            return true;
        }
        return false;
    }

    // Sends datagrams until total frames went out, never more than the window ahead of
    // what the receiving side reports as delivered.
    void flood(const sockaddr_in& client, std::size_t datagrams,
               const std::function<std::uint64_t()>& delivered) {
        std::uint64_t frameNumber = 0;
        for (std::size_t d = 0; d < datagrams; ++d) {
            while (frameNumber - delivered() > kWindowFrames) {
                std::this_thread::sleep_for(20us);
            }
            for (std::size_t f = 0; f < kFramesPerDatagram; ++f) {
                const std::uint64_t stamp = frameNumber++;
                std::memcpy(datagram_.data() + f * frameSize_ + 8 + offsetof(_KvVciCanDataType, timestamp),
                            &stamp, sizeof(stamp));
            }
            while (::sendto(fd_, datagram_.data(), datagram_.size(), 0,
                            reinterpret_cast<const sockaddr*>(&client), sizeof(client)) < 0) {
                std::this_thread::sleep_for(20us); // the send buffer is full for a moment
            }
        }
    }

private:
    void buildDatagram() {
        _KvVciCanDataType can;
        std::memset(&can, 0, sizeof(can));
        can.id = 0x181;
        can.dataLength = kCanDataBytes;
        can.frameKind = kVciCanFrameKindReceived;
        const std::uint16_t payload = static_cast<std::uint16_t>(kVciCanHeaderBytes + kCanDataBytes);
        frameSize_ = payload + kVciFrameOverhead;
        for (std::size_t f = 0; f < kFramesPerDatagram; ++f) {
            const std::uint8_t header[] = {
                kVciBoxSync1, kVciBoxSync2, 0x01, 0x40, 0x00, 0x00, static_cast<std::uint8_t>(payload), 0x00};
            datagram_.insert(datagram_.end(), header, header + sizeof(header));
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(&can);
            datagram_.insert(datagram_.end(), bytes, bytes + payload);
            datagram_.push_back(0x00);
        }
    }

    int fd_ = -1;
    std::vector<std::uint8_t> datagram_;
    std::size_t frameSize_ = 0;
};

struct RoundResult {
    double framesPerSecond = 0;
    std::uint64_t lost = 0;
};

// Receives and scans only: the floor any receive path stands on.
RoundResult runBare(BenchBox& box, std::size_t datagrams) {
    UdpSocket socket;
    socket.bind(kBareHostIp, 0);
    socket.setReceiveBufferBytes(8 * 1024 * 1024);
    socket.setReceiveTimeout(30);
    socket.connect(kBoxIp, kVciServerPort);
    const std::uint8_t hello = 0xFF;
    socket.send(&hello, 1);
    sockaddr_in client;
    if (!box.awaitClient(kBareHostIp, client)) {
        std::fprintf(stderr, "bench_receive: the bare socket did not reach the box\n");
        std::exit(1);
    }

    std::atomic<std::uint64_t> delivered{0};
    std::atomic<bool> running{true};
    const std::uint64_t expected = datagrams * kFramesPerDatagram;
    std::thread receiver([&] {
        KvVciLossCounters losses;
        const std::string tag = "bare";
        KvVciFrameScanner scanner(tag, losses);
        const KvVciFrameScanner::BatchCallback count = [&](const std::vector<_KvVciProtocolData>& batch) {
            delivered.fetch_add(batch.size(), std::memory_order_release);
        };
        std::uint8_t buffer[4096];
        std::uint32_t drops = 0;
        bool truncated = false;
        while (running.load(std::memory_order_relaxed)) {
            const long n = socket.receive(buffer, sizeof(buffer), drops, truncated);
            if (n > 0) {
                scanner.feed(buffer, static_cast<std::size_t>(n), count);
            }
        }
    });
    const auto start = Clock::now();
    box.flood(client, datagrams, [&] { return delivered.load(std::memory_order_acquire); });
    const auto deadline = Clock::now() + 10s;
    while (delivered.load() < expected && Clock::now() < deadline) {
        std::this_thread::sleep_for(20us);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    running.store(false);
    socket.shutdown();
    receiver.join();
    return {static_cast<double>(delivered.load()) / seconds, expected - std::min(expected, delivered.load())};
}

// Through the library: the device's link and dispatcher fill channel 0's buffer. The
// rate counts frames arriving in the buffer; a reader drains it every millisecond as a
// host polling ZxReadBuffer would, and checks every frame's number.
RoundResult runLibrary(BenchBox& box, const sockaddr_in& client, KvVciDevice& device, std::size_t datagrams) {
    KvVciCanChannelBuffer& buffer = *device.channelBufferManager().canBuffer(0);
    std::atomic<std::uint64_t> drained{0};
    std::atomic<std::uint64_t> outOfSequence{0};
    std::atomic<bool> running{true};
    const std::uint64_t expected = datagrams * kFramesPerDatagram;
    std::thread reader([&] {
        std::vector<_KvVciCanDataType> records(4096);
        std::uint64_t next = 0;
        while (running.load(std::memory_order_relaxed) || drained.load() < expected) {
            std::uint32_t count = static_cast<std::uint32_t>(records.size());
            buffer.readRecords(records.data(), count);
            if (count == 0) {
                if (!running.load(std::memory_order_relaxed)) {
                    break;
                }
                std::this_thread::sleep_for(1ms);
                continue;
            }
            for (std::uint32_t i = 0; i < count; ++i) {
                if (records[i].timestamp != next) {
                    outOfSequence.fetch_add(1, std::memory_order_relaxed);
                    next = records[i].timestamp;
                }
                ++next;
            }
            drained.fetch_add(count, std::memory_order_release);
        }
    });
    const auto arrived = [&] { return drained.load(std::memory_order_acquire) + buffer.sizeApprox(); };
    const auto start = Clock::now();
    box.flood(client, datagrams, arrived);
    const auto deadline = Clock::now() + 10s;
    while (arrived() < expected && Clock::now() < deadline) {
        std::this_thread::sleep_for(20us);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double rate = static_cast<double>(std::min<std::uint64_t>(arrived(), expected)) / seconds;
    running.store(false);
    reader.join();
    const std::uint64_t got = drained.load();
    return {rate, (expected - std::min(expected, got)) + outOfSequence.load()};
}

} // namespace

int main(int argc, char** argv) {
    const std::string problem = zxtest::privateNetworkProblem();
    if (!problem.empty()) {
        std::fprintf(stderr, "bench_receive: refusing to run: %s (run it through scripts/netns-run.sh)\n",
                     problem.c_str());
        return 2;
    }
    const std::size_t datagrams = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 50000;

    Common::logInit("/tmp/bench_receive.log", ZxLevel::Warning, 10, 1);
    Common::logStart(false);
    KvVciConfigStore::instance().loadDefaults();
    KvVciConfigStore::instance().setDeviceAddress(0, QString::fromLatin1(kHostIp));

    BenchBox box;
    KvVciDevice device(0);
    sockaddr_in deviceClient;
    std::thread answer([&] { box.awaitClient(kHostIp, deviceClient); });
    const int opened = device.open();
    answer.join();
    if (opened != 0) {
        std::fprintf(stderr, "bench_receive: device open failed: %d\n", opened);
        return 1;
    }

    RoundResult bestBare;
    RoundResult bestLibrary;
    std::uint64_t libraryLost = 0;
    std::uint64_t bareLost = 0;
    for (int round = 0; round < kRounds; ++round) {
        const RoundResult bare = runBare(box, datagrams);
        const RoundResult library = runLibrary(box, deviceClient, device, datagrams);
        std::printf("round %d: bare %.0f frames/s, library %.0f frames/s, lost bare %llu library %llu\n",
                    round + 1, bare.framesPerSecond, library.framesPerSecond,
                    static_cast<unsigned long long>(bare.lost),
                    static_cast<unsigned long long>(library.lost));
        bestBare.framesPerSecond = std::max(bestBare.framesPerSecond, bare.framesPerSecond);
        bestLibrary.framesPerSecond = std::max(bestLibrary.framesPerSecond, library.framesPerSecond);
        bareLost += bare.lost;
        libraryLost += library.lost;
    }
    const KvVciLossSnapshot losses = device.lossCounters().snapshot();
    libraryLost += losses.total();
    device.close();
    Common::logStop();

    const double ratio = bestLibrary.framesPerSecond / bestBare.framesPerSecond;
    std::printf("frames per round: %zu (%zu datagrams of %zu frames)\n", datagrams * kFramesPerDatagram,
                datagrams, kFramesPerDatagram);
    std::printf("bare receive+scan:      %.0f frames/s (best of %d)\n", bestBare.framesPerSecond, kRounds);
    std::printf("library to channel buf: %.0f frames/s (best of %d)\n", bestLibrary.framesPerSecond, kRounds);
    std::printf("ratio library/bare:     %.2f (target at least 0.50)\n", ratio);
    std::printf("frames lost: library %llu (kernel drops %llu), bare %llu\n",
                static_cast<unsigned long long>(libraryLost),
                static_cast<unsigned long long>(losses.kernelDroppedDatagrams),
                static_cast<unsigned long long>(bareLost));
    return libraryLost == 0 && ratio >= 0.5 ? 0 : 1;
}
