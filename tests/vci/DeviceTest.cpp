#include "tests/support/LogCapture.h"
#include "tests/support/PollUntil.h"
#include "tests/support/PrivateNetwork.h"
#include "tests/vci/TransportFrames.h"
#include "tools/vci-sim/VciSimulator.h"
#include "vci/config/KvVciConfigStore.h"
#include "vci/device/KvVciDevice.h"
#include "vci/device/KvVciProtocol.h"
#include "zxcollector_api.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using zxtest::boxFrame;
using zxtest::pollUntil;

constexpr std::uint8_t kCan = 0x01;
constexpr std::uint8_t kLin = 0x05;
constexpr std::uint8_t kDevice = 0x0F;
const QString kHostAddress = QStringLiteral("192.168.201.1");

_KvVciProtocolData record(std::uint8_t type, std::uint8_t command, std::uint8_t channel,
                          const Bytes& payload) {
    _KvVciProtocolData r{};
    r.type = type;
    r.command = command;
    r.channel = channel;
    r.length = static_cast<std::uint16_t>(payload.size());
    std::memcpy(r.payload, payload.data(), std::min<std::size_t>(payload.size(), kVciMaxPayload));
    return r;
}

// The payload of a received CAN frame: identifier, length 8, kind, timestamp = sequence.
Bytes canPayload(std::uint32_t id, std::uint8_t kind, std::uint64_t sequence, std::size_t length = 24) {
    _KvVciCanDataType frame{};
    frame.id = id;
    frame.dataLength = 8;
    frame.frameKind = kind;
    frame.timestamp = sequence;
    frame.data[0] = 0x5A;
    Bytes bytes(length);
    std::memcpy(bytes.data(), &frame, std::min(length, sizeof(frame)));
    return bytes;
}

std::vector<_KvVciCanDataType> drain(KvVciDevice& device, std::uint32_t channel) {
    std::vector<_KvVciCanDataType> all;
    _KvVciCanDataType out[64];
    for (;;) {
        std::uint32_t count = 64;
        if (device.channelBufferManager().readCanRecords(channel, out, count) != ZX_OK) {
            return all;
        }
        all.insert(all.end(), out, out + count);
    }
}

// ---- The dispatcher, fed directly (no network) ----

class DeviceDispatchTest : public ::testing::Test {
protected:
    void SetUp() override { KvVciConfigStore::instance().loadDefaults(); }
};

TEST_F(DeviceDispatchTest, OnlyReceivedCanFramesOfKindTwoAreQueuedInOrder) {
    KvVciDevice device(0);
    device.onProtocolData({record(kCan, 0x40, 1, canPayload(0x181, 2, 1)),
                           record(kCan, 0x40, 1, canPayload(0x182, 1, 2)),
                           record(kCan, 0x40, 1, canPayload(0x183, 2, 3, 80)),
                           record(kCan, 0x40, 1, canPayload(0x184, 2, 4, 16))});
    const auto frames = drain(device, 1);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].id, 0x181u);
    EXPECT_EQ(frames[1].id, 0x183u);
    EXPECT_EQ(frames[2].id, 0x184u);
    EXPECT_EQ(frames[0].data[0], 0x5A);
    EXPECT_EQ(frames[2].data[0], 0); // a 16-byte frame has no data bytes: the record is zeroed
    EXPECT_TRUE(drain(device, 0).empty());
}

TEST_F(DeviceDispatchTest, AbnormalSizesAndUnbufferedChannelsAreCountedAsLoss) {
    LogCapture log;
    KvVciDevice device(0);
    device.onProtocolData(
        {record(kCan, 0x40, 0, canPayload(0x181, 2, 1, 15)), record(kCan, 0x40, 0, Bytes(81, 0)),
         record(kLin, 0x40, 0, Bytes(25, 0)), record(kLin, 0x40, 0, Bytes(12, 0)),
         record(kCan, 0x40, 9, canPayload(0x181, 2, 1)), record(kLin, 0x40, 9, Bytes(24, 0))});
    const KvVciLossSnapshot loss = device.lossCounters().snapshot();
    EXPECT_EQ(loss.abnormalDataFrames, 4u);
    EXPECT_EQ(loss.unbufferedFrames, 2u);
    EXPECT_TRUE(log.hasLine(3, "The size of the received CAN data is abnormal: 15"));
    EXPECT_TRUE(log.hasLine(3, "The size of the received CAN data is abnormal: 81"));
    EXPECT_TRUE(log.hasLine(3, "The size of the received LIN data is abnormal: 25"));
    EXPECT_TRUE(log.hasLine(3, "The size of the received LIN data is abnormal: 12"));
    EXPECT_TRUE(drain(device, 0).empty());
}

TEST_F(DeviceDispatchTest, LinFramesGoToTheLinBuffer) {
    KvVciDevice device(0);
    Bytes payload(20, 0);
    payload[0] = 0x21;
    payload[16] = 0x77;
    device.onProtocolData({record(kLin, 0x40, 2, payload)});
    _KvVciLinDataType out[2];
    std::uint32_t count = 2;
    ASSERT_EQ(device.channelBufferManager().readLinRecords(2, out, count), ZX_OK);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(out[0].id, 0x21);
    EXPECT_EQ(out[0].data[0], 0x77);
    EXPECT_EQ(out[0].data[4], 0);
}

TEST_F(DeviceDispatchTest, BusLoadReportsOfTwelveBytesOrMoreAreKept) {
    KvVciDevice device(0);
    Bytes report(12);
    for (std::size_t i = 0; i < report.size(); ++i) {
        report[i] = static_cast<std::uint8_t>(i + 1);
    }
    device.onProtocolData({record(kCan, 0x70, 0, Bytes(11, 9)), record(kLin, 0x70, 0, report)});
    EXPECT_FALSE(device.busLoad().hasNewReport());
    device.onProtocolData({record(kCan, 0x70, 0, report)});
    EXPECT_EQ(device.busLoad().reportLength(), 12u);
    Bytes taken;
    ASSERT_TRUE(device.busLoad().takeReport(taken));
    EXPECT_EQ(taken, report);
    EXPECT_FALSE(device.busLoad().hasNewReport());
    EXPECT_EQ(device.busLoad().channelTable().size(), 8u);
}

// The requester reads the base time as soon as it is woken: the dispatcher must have
// stored it by then, or readBaseTime returns a stale 0.
TEST_F(DeviceDispatchTest, BaseTimeIsStoredBeforeTheWaitingRequestWakes) {
    LogCapture log;
    for (int round = 0; round < 20; ++round) {
        KvVciDevice device(0);
        const std::uint64_t expected = 0x0000123456789ABCull + static_cast<std::uint64_t>(round);
        Bytes payload(8);
        std::memcpy(payload.data(), &expected, 8);
        auto result = std::async(std::launch::async, [&] { return device.readBaseTime(); });
        const auto reply = record(kDevice, 0x40, 0, payload);
        while (result.wait_for(0ms) != std::future_status::ready) {
            device.onProtocolData({reply});
            std::this_thread::yield();
        }
        ASSERT_EQ(result.get(), expected) << "round " << round;
    }
    EXPECT_TRUE(log.hasLine(1, "Device base time 20015998343868(0.1 microsecond)"));
}

TEST_F(DeviceDispatchTest, ZeroRecordNeverAnswersWhenNothingIsPending) {
    KvVciDevice device(0);
    device.onProtocolData({_KvVciProtocolData{}, record(kDevice, 0x60, 0, {1, 2, 3, 4})});
    EXPECT_EQ(device.firmwareVersion(), 0u); // nothing was asked
}

TEST_F(DeviceDispatchTest, DeviceWithoutStoreEntryCannotOpenAndHasNoChannels) {
    ZX_REQUIRE_PRIVATE_NETWORK();
    KvVciDevice device(16);
    EXPECT_EQ(device.open(), ZX_ERR_OPEN_DEVICE);
    EXPECT_EQ(device.close(), ZX_ERR_UNKNOWN_CHANNEL);
    EXPECT_EQ(device.channelBufferManager().channelCount(), 2);
}

// ---- End to end against the simulated box ----

class DeviceBoxTest : public ::testing::Test {
protected:
    void SetUp() override {
        KvVciConfigStore& store = KvVciConfigStore::instance();
        store.loadDefaults();
        for (int i = 0; i < 3; ++i) {
            store.setDeviceAddress(i, kHostAddress);
        }
    }

    // Boxes without modules and bus-load reports, so only what a test sends arrives.
    bool startBoxes(std::vector<std::uint32_t> indices = {0}, std::uint64_t clockOffset = 0) {
        vcisim::VciSimulatorOptions options;
        options.deviceIndices = std::move(indices);
        options.modules.clear();
        options.busLoadIntervalMs = 0;
        options.clockOffsetTicks = clockOffset;
        sim = std::make_unique<vcisim::VciSimulator>(options);
        if (!sim->start()) {
            ADD_FAILURE() << sim->lastError();
            return false;
        }
        return true;
    }

    void dropReplies(std::uint8_t type, std::uint8_t command, std::uint32_t nth = 0, std::uint32_t box = 0) {
        vcisim::Misbehaviour bad;
        bad.dropReplies.push_back({type, command, nth});
        sim->setMisbehaviour(bad, box);
    }

    std::vector<Bytes> requestsReceived(std::uint32_t box = 0) {
        std::vector<Bytes> frames;
        for (const auto& datagram : sim->receivedDatagrams(box)) {
            frames.push_back(datagram.bytes);
        }
        return frames;
    }

    std::unique_ptr<vcisim::VciSimulator> sim;
};

TEST_F(DeviceBoxTest, OpenReadsFirmwareVersionAndBaseTime) {
    ZX_REQUIRE_PRIVATE_NETWORK();
    ASSERT_TRUE(startBoxes({0}, 5000000000ull));
    LogCapture log;
    KvVciDevice device(0);
    ASSERT_EQ(device.open(), ZX_OK);
    EXPECT_TRUE(device.isConnected());
    EXPECT_EQ(device.firmwareVersion(), 0x01020304u);
    EXPECT_TRUE(KvVciConfigStore::instance().isDeviceOpened(0));
    EXPECT_GE(device.readBaseTime(), 5000000000ull);
    EXPECT_TRUE(log.hasLine(1, "Opening Device0"));
    EXPECT_TRUE(log.hasLine(1, "Device Firmware version: v1.2.3.4"));
    EXPECT_TRUE(log.hasLine(1, "Opened Device0"));
    EXPECT_TRUE(log.hasLine(1, "(0.1 microsecond)"));

    const auto received = requestsReceived();
    ASSERT_GE(received.size(), 2u);
    EXPECT_EQ(received[0], (Bytes{0xAA, 0x55, 0x0F, 0x60, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00}));
    EXPECT_EQ(received[1], (Bytes{0xAA, 0x55, 0x0F, 0x40, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00}));

    EXPECT_EQ(device.close(), ZX_OK);
    EXPECT_FALSE(KvVciConfigStore::instance().isDeviceOpened(0));
    EXPECT_TRUE(log.hasLine(1, "Closed Device0"));
    EXPECT_TRUE(log.hasLine(1, "Device0 link losses in total"));
}

TEST_F(DeviceBoxTest, CanFdInitSendsOpenParametersResistorAndApplyInOrder) {
    ZX_REQUIRE_PRIVATE_NETWORK();
    ASSERT_TRUE(startBoxes());
    LogCapture log;
    KvVciDevice device(0);
    ASSERT_EQ(device.open(), ZX_OK);
    sim->clearReceivedDatagrams(0);
    ASSERT_EQ(device.openCan(1), ZX_OK);

    const std::vector<Bytes> expected = {
        {0xAA, 0x55, 0x01, 0x10, 0x01, 0x00, 0x04, 0x00, 0x20, 0xA1, 0x07, 0x00, 0x00},
        {0xAA, 0x55, 0x01, 0x60, 0x01, 0x02, 0x05, 0x00, 0x01, 0x20, 0xA1, 0x07, 0x00, 0x00},
        {0xAA, 0x55, 0x01, 0x60, 0x01, 0x02, 0x05, 0x00, 0x27, 31, 0x00, 0x00, 0x00, 0x00},
        {0xAA, 0x55, 0x01, 0x60, 0x01, 0x02, 0x05, 0x00, 0x28, 8, 0x00, 0x00, 0x00, 0x00},
        {0xAA, 0x55, 0x01, 0x60, 0x01, 0x02, 0x05, 0x00, 0x26, 0x80, 0x84, 0x1E, 0x00, 0x00},
        {0xAA, 0x55, 0x01, 0x60, 0x01, 0x02, 0x05, 0x00, 0x29, 15, 0x00, 0x00, 0x00, 0x00},
        {0xAA, 0x55, 0x01, 0x60, 0x01, 0x02, 0x05, 0x00, 0x2A, 4, 0x00, 0x00, 0x00, 0x00},
        {0xAA, 0x55, 0x0F, 0x30, 0x01, 0x00, 0x01, 0x00, 0x01, 0x00},
        {0xAA, 0x55, 0x01, 0x60, 0x01, 0x05, 0x00, 0x00, 0x00},
    };
    EXPECT_EQ(requestsReceived(), expected);
    const vcisim::ChannelSnapshot channel = sim->channel(0, 1);
    EXPECT_TRUE(channel.open);
    EXPECT_EQ(channel.applyCount, 1u);
    EXPECT_TRUE(channel.terminalResistor);
    EXPECT_TRUE(KvVciConfigStore::instance().isCanChannelOpened(0, 1));
    EXPECT_TRUE(log.hasLine(1, "Opened Device0 CAN2, CANFD baudrate: 500000"));
}

TEST_F(DeviceBoxTest, ClassicCanChannelsSendOnlyTheOpenRequest) {
    ZX_REQUIRE_PRIVATE_NETWORK();
    ASSERT_TRUE(startBoxes());
    KvVciConfigStore& store = KvVciConfigStore::instance();
    store.getChannelConfig(0, kVciProtocolIdCan, 0)->mode = QStringLiteral("CAN");
    store.getChannelConfig(0, kVciProtocolIdCan, 1)->mode = QStringLiteral("canfd");
    store.getChannelConfig(0, kVciProtocolIdCan, 2)->bitRate = 250000;
    KvVciDevice device(0);
    ASSERT_EQ(device.open(), ZX_OK);
    sim->clearReceivedDatagrams(0);
    ASSERT_EQ(device.openCan(-1), ZX_OK);
    // 2 classic channels: 1 request each; 6 CAN FD channels: 1 + 8 each.
    EXPECT_EQ(requestsReceived().size(), 2u + 6u * 9u);
    EXPECT_EQ(sim->channel(0, 2).bitRate, 250000u);
    for (int ch = 0; ch < 8; ++ch) {
        EXPECT_TRUE(store.isCanChannelOpened(0, ch)) << ch;
    }
}

TEST_F(DeviceBoxTest, MissingRepliesGiveTheCodeOfTheFailedStep) {
    ZX_REQUIRE_PRIVATE_NETWORK();
    ASSERT_TRUE(startBoxes());
    LogCapture log;
    {
        dropReplies(kDevice, 0x60);
        KvVciDevice device(0);
        EXPECT_EQ(device.open(), ZX_ERR_OPEN_DEVICE);
        EXPECT_FALSE(device.isConnected());
        EXPECT_TRUE(log.hasLine(3, "Request Device0 timed out after 500 ms"));
        EXPECT_TRUE(log.hasLine(3, "Open Device0 failed, Unable to read version information"));
    }
    KvVciConfigStore& store = KvVciConfigStore::instance();
    sim->setMisbehaviour({}, 0);
    KvVciDevice device(0);
    ASSERT_EQ(device.open(), ZX_OK);

    dropReplies(kCan, 0x10);
    EXPECT_EQ(device.openCan(0), ZX_ERR_OPEN_CAN);
    EXPECT_FALSE(store.isCanChannelOpened(0, 0));
    EXPECT_TRUE(log.hasLine(3, "Open Device0 CAN1 failed, CANFD baudrate: 500000"));

    dropReplies(kCan, 0x60, 0);
    EXPECT_EQ(device.openCan(0), ZX_ERR_CANFD_PARAM);
    EXPECT_FALSE(store.isCanChannelOpened(0, 0));
    EXPECT_TRUE(log.hasLine(3, "Configure Device0 CAN1 failed: param 0x1 "));

    dropReplies(kDevice, 0x30);
    EXPECT_EQ(device.openCan(0), ZX_ERR_CANFD_PARAM);
    // The resistor record's first payload byte is its switch, 1.
    EXPECT_EQ(log.count("Configure Device0 CAN1 failed: param 0x1 "), 2u);
    EXPECT_EQ(sim->channel(0, 0).applyCount, 0u);
    EXPECT_EQ(device.setTerminalResistor(3, false), ZX_ERR_TERMINAL_RESISTOR);
    EXPECT_TRUE(log.hasLine(3, "set Device0 CAN4 terminal resistor disable failed"));

    sim->setMisbehaviour({}, 0);
    EXPECT_EQ(device.setTerminalResistor(3, true), ZX_OK);
    EXPECT_TRUE(sim->channel(0, 3).terminalResistor);
    ASSERT_EQ(device.openCan(0), ZX_OK);
    dropReplies(kCan, 0x20);
    EXPECT_EQ(device.closeCan(0), ZX_ERR_CLOSE_CAN);
    EXPECT_FALSE(store.isCanChannelOpened(0, 0)); // marked closed anyway
    EXPECT_TRUE(log.hasLine(3, "Close Device0 CAN1 failed"));
}

// Two host threads on one box: the open whose reply is lost must fail, even though
// the resistor request sent meanwhile is answered.
TEST_F(DeviceBoxTest, RequestsFromTwoThreadsTakeTurnsAndEachWaitsForItsOwnReply) {
    ZX_REQUIRE_PRIVATE_NETWORK();
    ASSERT_TRUE(startBoxes());
    KvVciConfigStore& store = KvVciConfigStore::instance();
    store.getChannelConfig(0, kVciProtocolIdCan, 0)->mode = QStringLiteral("CAN");
    KvVciDevice device(0);
    ASSERT_EQ(device.open(), ZX_OK);
    sim->clearReceivedDatagrams(0);
    dropReplies(kCan, 0x10);

    auto open = std::async(std::launch::async, [&] { return device.openCan(0); });
    ASSERT_TRUE(pollUntil(2s, [&] { return !requestsReceived().empty(); }));
    EXPECT_EQ(device.setTerminalResistor(1, true), ZX_OK);
    EXPECT_EQ(open.get(), ZX_ERR_OPEN_CAN);
    EXPECT_FALSE(store.isCanChannelOpened(0, 0));
    EXPECT_TRUE(sim->channel(0, 1).terminalResistor);
}

TEST_F(DeviceBoxTest, ReplyForAnotherChannelDoesNotCompleteTheRequest) {
    ZX_REQUIRE_PRIVATE_NETWORK();
    ASSERT_TRUE(startBoxes());
    KvVciDevice device(0);
    ASSERT_EQ(device.open(), ZX_OK);
    vcisim::Misbehaviour bad;
    bad.wrongChannelReplies = true;
    sim->setMisbehaviour(bad, 0);
    EXPECT_EQ(device.openCan(0), ZX_ERR_OPEN_CAN);
}

TEST_F(DeviceBoxTest, ClosingDeviceWhoseBoxWentSilentTimesOutPerOpenChannel) {
    ZX_REQUIRE_PRIVATE_NETWORK();
    ASSERT_TRUE(startBoxes());
    LogCapture log;
    KvVciDevice device(0);
    ASSERT_EQ(device.open(), ZX_OK);
    ASSERT_EQ(device.openCan(0), ZX_OK);
    ASSERT_EQ(device.openCan(5), ZX_OK);
    sim->setSilent(true, 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(device.close(), ZX_ERR_CLOSE_CAN);
    const auto took = std::chrono::steady_clock::now() - start;
    // Two open channels, 500 ms each; the LIN side has nothing open.
    EXPECT_LT(took, 5s);
    EXPECT_FALSE(device.isConnected());
    EXPECT_EQ(device.deviceIndex(), -1);
    EXPECT_FALSE(KvVciConfigStore::instance().isCanChannelOpened(0, 0));
    EXPECT_FALSE(KvVciConfigStore::instance().isCanChannelOpened(0, 5));
    EXPECT_TRUE(log.hasLine(3, "Close Device0 CAN6 failed"));
    EXPECT_TRUE(log.hasLine(1, "Closed Device0"));
}

TEST_F(DeviceBoxTest, DeviceThatStoppedReceivingFailsAtOnceAndNamesTheCauseWhenClosed) {
    ZX_REQUIRE_PRIVATE_NETWORK();
    ASSERT_TRUE(startBoxes());
    LogCapture log;
    KvVciDevice device(0);
    ASSERT_EQ(device.open(), ZX_OK);
    ASSERT_EQ(device.openCan(0), ZX_OK);
    sim->sendEmptyDatagram(0); // ends the receive thread
    ASSERT_TRUE(zxtest::pollUntil(2s, [&] { return !device.isConnected(); }));
    EXPECT_EQ(device.openCan(1), ZX_ERR_NOT_CONNECTED);
    // no reply can arrive, so closing does not wait for one per open channel
    const auto start = std::chrono::steady_clock::now();
    device.close();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 400ms);
    EXPECT_TRUE(
        log.hasLine(3, "Device0 stopped receiving before it was closed: the box closed the connection"));
}

TEST_F(DeviceBoxTest, ReceivedCanFramesOfKindTwoLandInTheirChannelInOrder) {
    ZX_REQUIRE_PRIVATE_NETWORK();
    ASSERT_TRUE(startBoxes());
    KvVciDevice device(0);
    ASSERT_EQ(device.open(), ZX_OK);
    Bytes datagram;
    for (std::uint32_t i = 0; i < 40; ++i) {
        zxtest::append(datagram, boxFrame(kCan, 0x40, 2, canPayload(0x300 + i, i % 4 == 3 ? 1 : 2, i)));
    }
    zxtest::append(datagram, boxFrame(kCan, 0x40, 9, canPayload(0x399, 2, 99))); // no such channel
    sim->sendRawDatagram(0, datagram);

    std::vector<_KvVciCanDataType> frames;
    ASSERT_TRUE(pollUntil(2s, [&] {
        const auto more = drain(device, 2);
        frames.insert(frames.end(), more.begin(), more.end());
        return frames.size() >= 30;
    }));
    ASSERT_EQ(frames.size(), 30u);
    std::uint32_t expected = 0;
    for (const auto& frame : frames) {
        if (expected % 4 == 3) {
            ++expected;
        }
        EXPECT_EQ(frame.id, 0x300 + expected);
        EXPECT_EQ(frame.timestamp, expected);
        ++expected;
    }
    EXPECT_TRUE(pollUntil(1s, [&] { return device.lossCounters().snapshot().unbufferedFrames == 1; }));
}

TEST_F(DeviceBoxTest, ClosedDeviceStaysClosedWithoutTouchingTheNetwork) {
    ZX_REQUIRE_PRIVATE_NETWORK();
    ASSERT_TRUE(startBoxes());
    KvVciDevice device(0);
    ASSERT_EQ(device.open(), ZX_OK);
    ASSERT_EQ(device.openCan(0), ZX_OK);
    EXPECT_EQ(device.close(), ZX_OK);
    EXPECT_FALSE(sim->channel(0, 0).open); // the close request reached the box
    const std::uint64_t requests = sim->requestDatagramCount(0);
    EXPECT_EQ(device.open(), ZX_ERR_DEVICE_CLOSED);
    EXPECT_EQ(device.close(), ZX_ERR_DEVICE_CLOSED);
    EXPECT_EQ(device.openCan(0), ZX_ERR_NOT_CONNECTED);
    EXPECT_EQ(sim->requestDatagramCount(0), requests);
}

TEST_F(DeviceBoxTest, ClosingChannelsOfDisconnectedDeviceOnlyClearsFlags) {
    LogCapture log;
    KvVciConfigStore& store = KvVciConfigStore::instance();
    store.setCanChannelOpened(0, 1, true);
    store.setCanChannelOpened(0, 4, true);
    KvVciDevice device(0);
    EXPECT_EQ(device.closeCan(-1), ZX_OK);
    EXPECT_FALSE(store.isCanChannelOpened(0, 1));
    EXPECT_FALSE(store.isCanChannelOpened(0, 4));
    EXPECT_EQ(log.count("The Device0 is not connected and is forced to close CAN"), 2u);
    EXPECT_TRUE(log.hasLine(1, "The Device0 is not connected and is forced to close CAN5"));
    EXPECT_EQ(device.closeCan(8), ZX_ERR_UNKNOWN_CHANNEL);
    EXPECT_EQ(device.closeLin(-1), ZX_OK);
}

TEST_F(DeviceBoxTest, ClosingChannelDiscardsItsQueuedFrames) {
    ZX_REQUIRE_PRIVATE_NETWORK();
    ASSERT_TRUE(startBoxes());
    KvVciDevice device(0);
    ASSERT_EQ(device.open(), ZX_OK);
    ASSERT_EQ(device.openCan(0), ZX_OK);
    device.onProtocolData({record(kCan, 0x40, 0, canPayload(0x181, 2, 1))});
    EXPECT_EQ(device.closeCan(0), ZX_OK);
    EXPECT_TRUE(drain(device, 0).empty());
}

} // namespace
