// Collector throughput.
//  1. Conversion: frames pushed straight into a channel buffer are read back as
//     ZxCollectData records (timestamp texts included) by a collector reader, beside
//     the bare dequeue of the same frames from the channel buffer.
//  2. End to end (private namespace only): the simulated box streams numbered frames;
//     the library (socket client, dispatcher, channel buffer, reader) turns them into
//     host records, beside a bare socket that only receives and counts the same
//     datagrams from a second simulated box.
//   scripts/netns-run.sh build/bench/collector/bench_collector [end-to-end frames] [box frames/s]
//   build/bench/collector/bench_collector --convert-only
#include "collector/ZxCollectorManager.h"
#include "collector/ZxCollectorReader.h"
#include "common/Log.h"
#include "tools/vci-sim/PrivateNamespaceCheck.h"
#include "tools/vci-sim/VciSimulator.h"
#include "vci/config/KvVciChannelConfig.h"
#include "vci/config/KvVciConfigStore.h"
#include "vci/device/KvVciChannelBufferManager.h"
#include "vci/manager/KvVciDeviceManager.h"
#include "vci/transport/UdpSocket.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kRounds = 5;
constexpr std::size_t kConvertFrames = 1000000;
constexpr std::int32_t kHostCapacity = 10000;
constexpr std::uint32_t kLibraryDevice = 0;     // box 192.168.201.130, host .1
constexpr std::uint32_t kBareDevice = 1;        // box 192.168.201.131, host .2
constexpr std::size_t kCounterOffset = 16 + 28; // value 8 of a sample: the box's frame counter

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// --- 1. conversion -----------------------------------------------------------------

void fillBuffer(KvVciChannelBufferManager& buffers, std::size_t frames) {
    _KvVciCanDataType frame;
    std::memset(&frame, 0, sizeof(frame));
    frame.id = 0x101;
    frame.dataLength = 64;
    frame.frameKind = kVciCanFrameKindReceived;
    for (std::size_t n = 0; n < frames; ++n) {
        frame.timestamp = 10000000ull + n * 100; // 100 kHz in 0.1 us ticks
        for (int k = 0; k < 8; ++k) {
            const std::uint32_t value = static_cast<std::uint32_t>(n * 8 + k);
            std::memcpy(frame.data + 4 * k, &value, 4);
        }
        buffers.pushCanRecord(0, frame);
    }
}

void benchConversion() {
    KvVciChannelBufferManager buffers(2);
    ZxCollectorReader reader(kLibraryDevice, 0, buffers);
    std::vector<ZxCollectData> records(kHostCapacity);
    std::vector<_KvVciCanDataType> raw(kHostCapacity);
    double bestRead = 0;
    double bestDequeue = 0;
    for (int round = 0; round < kRounds; ++round) {
        fillBuffer(buffers, kConvertFrames);
        std::size_t taken = 0;
        const auto start = Clock::now();
        for (;;) {
            const std::int32_t n = reader.read(records.data(), kHostCapacity);
            if (n <= 0) {
                break;
            }
            taken += static_cast<std::size_t>(n);
        }
        const double readRate = static_cast<double>(taken) / seconds(Clock::now() - start);
        if (taken != kConvertFrames || records[0].timestamp[0] == '\0') {
            std::fprintf(stderr, "bench_collector: read %zu of %zu records\n", taken, kConvertFrames);
            std::exit(1);
        }

        fillBuffer(buffers, kConvertFrames);
        const auto dequeueStart = Clock::now();
        for (;;) {
            std::uint32_t count = kHostCapacity;
            if (buffers.readCanRecords(0, raw.data(), count) != 0 || count == 0) {
                break;
            }
        }
        const double dequeueRate = static_cast<double>(kConvertFrames) / seconds(Clock::now() - dequeueStart);
        std::printf("conversion round %d: read %.2f M records/s, bare dequeue %.2f M frames/s\n", round + 1,
                    readRate / 1e6, dequeueRate / 1e6);
        bestRead = std::max(bestRead, readRate);
        bestDequeue = std::max(bestDequeue, dequeueRate);
    }
    std::printf("sample record: id 0x%X time '%s' values %d %d ... %d\n", records[0].canId,
                records[0].timestamp, records[0].values[0], records[0].values[1], records[0].values[7]);
    std::printf("read (dequeue + conversion + timestamp text): %.2f M records/s (best of %d, target >= 5)\n",
                bestRead / 1e6, kRounds);
    std::printf("bare dequeue of the same frames:              %.2f M frames/s; ratio %.2f\n",
                bestDequeue / 1e6, bestRead / bestDequeue);
}

// --- 2. end to end -----------------------------------------------------------------

struct Result {
    double framesPerSecond = 0;
    std::uint64_t received = 0;
    std::uint64_t outOfOrder = 0;
};

// A socket that opens CAN channel 0 of box 1 and counts the data frames it streams.
Result runBare(std::uint64_t frames) {
    UdpSocket socket;
    socket.setReceiveBufferBytes(8 << 20);
    socket.setReceiveTimeout(2000);
    if (!socket.bind("192.168.201.2", 0) || !socket.connect("192.168.201.131", kVciServerPort)) {
        std::perror("bench_collector: bare socket");
        std::exit(1);
    }
    // Open CAN channel 0 at 500 kbit/s: the box starts streaming.
    const std::uint8_t open[] = {0xAA, 0x55, 0x01, 0x10, 0x00, 0x00, 0x04,
                                 0x00, 0x20, 0xA1, 0x07, 0x00, 0x00};
    const auto start = Clock::now();
    socket.send(open, sizeof(open));

    Result result;
    std::uint32_t next = 0;
    auto last = start;
    std::uint8_t buffer[65536];
    std::uint32_t drops = 0;
    bool truncated = false;
    while (result.received < frames) {
        const long n = socket.receive(buffer, sizeof(buffer), drops, truncated);
        if (n < 0) {
            break; // nothing for 2 s: the rest is lost
        }
        for (long i = 0; i + static_cast<long>(kVciFrameOverhead) <= n;) {
            const std::uint16_t length = static_cast<std::uint16_t>(buffer[i + 6] | (buffer[i + 7] << 8));
            if (buffer[i] != kVciBoxSync1 || buffer[i + 1] != kVciBoxSync2) {
                break;
            }
            if (buffer[i + 2] == 0x01 && buffer[i + 3] == 0x40 && length >= kCounterOffset + 4) {
                std::uint32_t counter;
                std::memcpy(&counter, buffer + i + 8 + kCounterOffset, 4);
                result.outOfOrder += counter != next;
                next = counter + 1;
                ++result.received;
            }
            i += static_cast<long>(kVciFrameOverhead) + length;
        }
        last = Clock::now();
    }
    result.framesPerSecond = static_cast<double>(result.received) / seconds(last - start);
    return result;
}

// The library's path: device 0 opened through the device manager, channel 0 opened and
// its reader created as ZxInitCAN does, then read as a host polling ZxReadBuffer.
Result runLibrary(std::uint64_t frames) {
    KvVciConfigStore::instance().setDeviceAddress(kLibraryDevice, QStringLiteral("192.168.201.1"));
    if (KvVciDeviceManager::instance().openDevice(kLibraryDevice) != 0) {
        std::fprintf(stderr, "bench_collector: device open failed\n");
        std::exit(1);
    }
    auto* config = static_cast<KvVciCanChannelConfig*>(
        KvVciConfigStore::instance().getChannelConfig(kLibraryDevice, kVciProtocolIdCan, 0));
    config->mode = QStringLiteral("CAN");
    ZxCollectorManager& collector = ZxCollectorManager::instance();
    std::vector<ZxCollectData> records(kHostCapacity);

    const auto start = Clock::now();
    if (KvVciDeviceManager::instance().openCanChannel(kLibraryDevice, 0) != 0 ||
        collector.createReader(kLibraryDevice, 0) != 0) {
        std::fprintf(stderr, "bench_collector: channel open failed\n");
        std::exit(1);
    }
    Result result;
    std::int32_t next = 0;
    auto last = start;
    while (result.received < frames && Clock::now() - last < 2s) {
        const std::int32_t n = collector.readBuffer(kLibraryDevice, 0, records.data(), kHostCapacity);
        if (n <= 0) {
            // As a polling host does: with two cores, a spinning reader would take the
            // receive thread's time.
            std::this_thread::sleep_for(200us);
            continue;
        }
        for (std::int32_t i = 0; i < n; ++i) {
            result.outOfOrder += records[i].values[7] != next;
            next = records[i].values[7] + 1;
        }
        result.received += static_cast<std::uint64_t>(n);
        last = Clock::now();
    }
    result.framesPerSecond = static_cast<double>(result.received) / seconds(last - start);
    collector.closeAllReaders();
    KvVciDeviceManager::instance().closeAllDevices();
    return result;
}

int benchEndToEnd(std::uint64_t frames, double framesPerSecond) {
    vcisim::VciSimulatorOptions options;
    options.deviceIndices = {kLibraryDevice, kBareDevice};
    options.modules = {{vcisim::ModuleKind::Temperature, 0x101, 100, 0x3F, false}};
    options.busLoadIntervalMs = 0;
    options.uniqueValues = true; // cheap for the box to make: it is not the bottleneck
    options.rate.enabled = true;
    options.rate.framesPerSecond = framesPerSecond;
    options.rate.frameCount = frames;
    vcisim::VciSimulator simulator(options);
    if (!simulator.start()) {
        std::fprintf(stderr, "bench_collector: simulator: %s\n", simulator.lastError().c_str());
        return 1;
    }
    KvVciConfigStore::instance().loadDefaults();

    const Result bare = runBare(frames);
    const Result library = runLibrary(frames);
    const std::uint64_t datagrams = simulator.datagramsSent(kLibraryDevice);
    simulator.stop();

    const std::uint64_t bareLost = frames - bare.received + bare.outOfOrder;
    const std::uint64_t libraryLost = frames - library.received + library.outOfOrder;
    std::printf("end to end: %llu frames per run, box rate %s, %u datagrams of up to %u bytes\n",
                static_cast<unsigned long long>(frames),
                framesPerSecond > 0 ? std::to_string(static_cast<long long>(framesPerSecond)).c_str()
                                    : "unlimited",
                static_cast<unsigned>(datagrams), static_cast<unsigned>(options.maxDatagramBytes));
    std::printf("bare receive and count:      %.2f M frames/s, lost or out of order %llu\n",
                bare.framesPerSecond / 1e6, static_cast<unsigned long long>(bareLost));
    std::printf(
        "library to host records:     %.2f M frames/s, lost or out of order %llu (target >= 1.5, 0)\n",
        library.framesPerSecond / 1e6, static_cast<unsigned long long>(libraryLost));
    std::printf("ratio library/bare:          %.2f\n", library.framesPerSecond / bare.framesPerSecond);
    return libraryLost == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    const bool convertOnly = argc > 1 && std::string(argv[1]) == "--convert-only";
    Common::logInit("/tmp/bench_collector.log", 2, 10, 1);
    Common::logStart(false);

    benchConversion();
    if (convertOnly) {
        Common::logStop();
        return 0;
    }
    const std::string problem = vcisim::privateNamespaceProblem();
    if (!problem.empty()) {
        std::fprintf(
            stderr,
            "bench_collector: refusing the end-to-end part: %s (run it through scripts/netns-run.sh, "
            "or pass --convert-only)\n",
            problem.c_str());
        Common::logStop();
        return 2;
    }
    const std::uint64_t frames = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 3000000;
    const double rate = argc > 2 ? std::strtod(argv[2], nullptr) : 2000000.0;
    const int code = benchEndToEnd(frames, rate);
    Common::logStop();
    return code;
}
