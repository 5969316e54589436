// Module frames stream on open channels only, with counters a test can check for
// loss and duplication.
#include "tests/sim/SimTestHelpers.h"
#include "tests/support/InProcessSimulator.h"
#include "tests/support/PollUntil.h"

#include <map>
#include <set>

namespace zxtest {
namespace {

using namespace std::chrono_literals;

constexpr int32_t kNoValue = -2147483647;

struct Stream {
    std::map<uint32_t, std::vector<CanRecord>> byId;
    std::set<uint8_t> channels;
    size_t busLoadReports = 0;
    size_t datagrams = 0;
    size_t maxFramesPerDatagram = 0;
};

// Everything the box sends within the time-out, sorted by CAN identifier.
Stream collect(HostUdpSocket& host, std::chrono::milliseconds duration) {
    Stream stream;
    const auto end = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < end) {
        const auto datagram = host.receive(20ms);
        if (!datagram) {
            continue;
        }
        ++stream.datagrams;
        const auto frames = boxFrames(*datagram);
        stream.maxFramesPerDatagram = std::max(stream.maxFramesPerDatagram, frames.size());
        for (const auto& frame : frames) {
            if (frame.type == kCan && frame.command == 0x70) {
                ++stream.busLoadReports;
                EXPECT_GE(frame.payload.size(), 12u);
            }
            CanRecord record;
            if (frame.type != kCan || frame.command != 0x40 || !parseCanRecord(frame.payload, record)) {
                continue;
            }
            stream.channels.insert(frame.channel);
            stream.byId[record.id].push_back(record);
        }
    }
    return stream;
}

class SimulatorStreaming : public SimulatorTest {
protected:
    vcisim::VciSimulatorOptions simulatorOptions() const override {
        vcisim::VciSimulatorOptions options;
        options.busLoadIntervalMs = 100;
        return options;
    }
    HostUdpSocket host_;
};

TEST_F(SimulatorStreaming, NothingIsStreamedBeforeAChannelOpens) {
    ASSERT_TRUE(requestReply(host_, hostFrame(kDevice, 0x60, 0, 0, {0x01})));
    const Stream stream = collect(host_, 150ms);
    EXPECT_EQ(stream.datagrams, 0u);
}

TEST_F(SimulatorStreaming, OpenChannelStreamsEveryModuleWithConsecutiveCountersAndRisingTimestamps) {
    ASSERT_TRUE(requestReply(host_, openRequest(3, 1000000)));
    const Stream stream = collect(host_, 300ms);

    EXPECT_EQ(stream.channels, (std::set<uint8_t>{3}));
    ASSERT_EQ(stream.byId.size(), 4u);
    for (uint32_t id : {0x101u, 0x301u, 0x501u, 0x701u}) {
        const auto& records = stream.byId.at(id);
        // The rate shows in the timestamps below; the count only has to be several.
        EXPECT_GE(records.size(), 5u) << std::hex << id;
        for (size_t i = 0; i < records.size(); ++i) {
            EXPECT_EQ(records[i].frameKind, 2);
            ASSERT_EQ(records[i].dataLength, 64);
            EXPECT_EQ(sampleValue(records[i], 7), static_cast<int32_t>(i)) << std::hex << id;
            if (i > 0) {
                // 100 Hz: 10 ms apart in 0.1 us ticks.
                EXPECT_EQ(records[i].timestamp - records[i - 1].timestamp, 100000u);
            }
        }
    }
    EXPECT_GE(stream.busLoadReports, 1u);
    // Frames due at the same time share a datagram.
    EXPECT_GT(stream.maxFramesPerDatagram, 1u);
}

TEST_F(SimulatorStreaming, SignalsArePlausiblePerKindAndUnmeasuredChannelsCarryTheNoValueMarker) {
    ASSERT_TRUE(requestReply(host_, openRequest(0, 500000)));
    const Stream stream = collect(host_, 100ms);
    ASSERT_EQ(stream.byId.size(), 4u);
    const CanRecord& temperature = stream.byId.at(0x101).front();
    const CanRecord& voltage = stream.byId.at(0x301).front();
    const CanRecord& frequency = stream.byId.at(0x701).front();
    for (unsigned k = 0; k < 6; ++k) {
        EXPECT_GT(sampleValue(temperature, k), 1000); // above 10 degC in 0.01 degC
        EXPECT_LT(sampleValue(temperature, k), 6000);
    }
    for (unsigned k = 0; k < 4; ++k) {
        EXPECT_GT(sampleValue(voltage, k), 1000); // mV
    }
    EXPECT_EQ(sampleValue(voltage, 4), kNoValue);
    EXPECT_EQ(sampleValue(voltage, 5), kNoValue);
    EXPECT_GT(sampleValue(frequency, 1), 0);
    EXPECT_EQ(sampleValue(frequency, 2), kNoValue);
}

TEST_F(SimulatorStreaming, ClosedChannelStopsStreaming) {
    ASSERT_TRUE(requestReply(host_, openRequest(1, 500000)));
    ASSERT_TRUE(requestReply(host_, hostFrame(kCan, 0x20, 1, 0)));
    const uint64_t sentAtClose = simulator().framesSent(0);
    collect(host_, 100ms);
    EXPECT_EQ(simulator().framesSent(0), sentAtClose);
}

TEST_F(SimulatorStreaming, UniqueValuesNumberEverySavedValueOnce) {
    simulator().setUniqueValues(true);
    ASSERT_TRUE(requestReply(host_, openRequest(0, 500000)));
    const Stream stream = collect(host_, 100ms);
    ASSERT_FALSE(stream.byId.empty());
    for (const auto& [id, records] : stream.byId) {
        for (const auto& record : records) {
            const int32_t counter = sampleValue(record, 7);
            for (unsigned k = 0; k < 6; ++k) {
                EXPECT_EQ(sampleValue(record, k), counter * 8 + static_cast<int32_t>(k));
            }
        }
    }
}

TEST_F(SimulatorStreaming, FramesPerDatagramLimitIsKept) {
    simulator().setFramesPerDatagram(1);
    ASSERT_TRUE(requestReply(host_, openRequest(0, 500000)));
    const Stream stream = collect(host_, 100ms);
    EXPECT_GT(stream.datagrams, 4u);
    EXPECT_EQ(stream.maxFramesPerDatagram, 1u);
}

TEST_F(SimulatorStreaming, RateModeSendsExactlyTheFrameCountInModuleOrder) {
    simulator().setRateMode({true, 20000.0, 1000});
    ASSERT_TRUE(requestReply(host_, openRequest(0, 500000)));
    Stream stream;
    size_t total = 0;
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (total < 1000 && std::chrono::steady_clock::now() < deadline) {
        const Stream part = collect(host_, 20ms);
        for (const auto& [id, records] : part.byId) {
            auto& all = stream.byId[id];
            all.insert(all.end(), records.begin(), records.end());
            total += records.size();
        }
    }
    EXPECT_TRUE(simulator().rateFinished(0));
    EXPECT_EQ(simulator().channel(0, 0).framesSent, 1000u);
    // Round robin over the four modules, each with its own consecutive counter.
    ASSERT_EQ(stream.byId.size(), 4u);
    for (const auto& [id, records] : stream.byId) {
        ASSERT_EQ(records.size(), 250u) << std::hex << id;
        for (size_t i = 0; i < records.size(); ++i) {
            EXPECT_EQ(sampleValue(records[i], 7), static_cast<int32_t>(i));
        }
    }
    EXPECT_FALSE(awaitFrame(
        host_, [](const WireFrame& f) { return f.command == 0x40; }, 50ms))
        << "frames beyond the frame count";
}

} // namespace
} // namespace zxtest
