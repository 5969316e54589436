// One VCI box's flows: which requests go out in which order, which reply completes
// which request, time-outs and closing. The request bytes are ProtocolTest's.
#include "tests/support/InProcessSimulator.h"
#include "tests/support/LogCapture.h"
#include "tests/support/PollUntil.h"
#include "vci/config/KvVciConfigStore.h"
#include "vci/device/KvVciDevice.h"
#include "vci/device/KvVciProtocol.h"
#include "vci/manager/KvVciDeviceManager.h"
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
using zxtest::pollUntil;
using P = KvVciProtocol;

constexpr std::uint8_t kCan = 0x01;
constexpr std::uint8_t kLin = 0x05;
constexpr std::uint8_t kDevice = 0x0F;

_KvVciProtocolData record(std::uint8_t type, std::uint8_t command, std::uint8_t channel,
                          const Bytes& payload) {
    return P::makeRecord(static_cast<KvVciFrameType>(type), static_cast<KvVciCommand>(command), channel, 0,
                         payload.data(), static_cast<std::uint16_t>(payload.size()));
}

// The payload of a received CAN frame: identifier, kind, timestamp = sequence.
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
    for (std::uint32_t n = 64; device.channelBufferManager().readCanRecords(channel, out, n) == ZX_OK;
         n = 64) {
        all.insert(all.end(), out, out + n);
    }
    return all;
}

// ---- The dispatcher, fed directly (no network) ----

class DeviceDispatchTest : public ::testing::Test {
protected:
    bool defaults = (KvVciConfigStore::instance().loadDefaults(), true); // before the device reads them
    KvVciDevice device{0};
};

TEST_F(DeviceDispatchTest, EachRecordGoesWhereItsKindSaysAndOddSizesAreCountedAsLoss) {
    device.onProtocolData(
        {record(kCan, 0x40, 1, canPayload(0x181, 2, 1)),
         record(kCan, 0x40, 1, canPayload(0x182, 1, 2)), // sent by us: not queued
         record(kCan, 0x40, 1, canPayload(0x183, 2, 3, 80)),
         record(kCan, 0x40, 1, canPayload(0x184, 2, 4, 16)),
         record(kCan, 0x40, 0, canPayload(0x185, 2, 5, 15)), record(kCan, 0x40, 0, Bytes(81, 0)),
         record(kLin, 0x40, 0, Bytes(25, 0)), record(kCan, 0x40, 9, canPayload(0x181, 2, 1)),
         record(kLin, 0x40, 9, Bytes(24, 0)), record(kDevice, 0x60, 0, {1, 2, 3, 4})}); // nothing was asked
    EXPECT_EQ(device.firmwareVersion(), 0u);
    const auto frames = drain(device, 1);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ((std::vector<std::uint32_t>{frames[0].id, frames[1].id, frames[2].id}),
              (std::vector<std::uint32_t>{0x181, 0x183, 0x184}));
    EXPECT_EQ(frames[0].data[0], 0x5A);
    EXPECT_EQ(frames[2].data[0], 0); // a 16-byte frame has no data bytes: the record is zeroed
    EXPECT_TRUE(drain(device, 0).empty());
    const KvVciLossSnapshot loss = device.lossCounters().snapshot();
    EXPECT_EQ(loss.abnormalDataFrames, 3u);
    EXPECT_EQ(loss.unbufferedFrames, 2u);
}

// The requester reads the base time as soon as it is woken: the dispatcher must have
// stored it by then, or readBaseTime returns a stale 0.
TEST_F(DeviceDispatchTest, BaseTimeIsStoredBeforeTheWaitingRequestWakes) {
    for (int round = 0; round < 20; ++round) {
        KvVciDevice fresh(0);
        const std::uint64_t expected = 0x0000123456789ABCull + static_cast<std::uint64_t>(round);
        Bytes payload(8);
        std::memcpy(payload.data(), &expected, 8);
        auto result = std::async(std::launch::async, [&] { return fresh.readBaseTime(); });
        while (result.wait_for(0ms) != std::future_status::ready) {
            fresh.onProtocolData({record(kDevice, 0x40, 0, payload)});
            std::this_thread::yield();
        }
        ASSERT_EQ(result.get(), expected) << "round " << round;
    }
}

// ---- Against the simulated box ----

class DeviceBoxTest : public zxtest::SimulatorTest {
protected:
    // Boxes without modules and bus-load reports, so only what a test asks for arrives.
    vcisim::VciSimulatorOptions simulatorOptions() const override {
        vcisim::VciSimulatorOptions options;
        options.deviceIndices = {0, 1, 2};
        options.modules.clear();
        options.busLoadIntervalMs = 0;
        options.clockOffsetTicks = 5000000000ull;
        return options;
    }
    void SetUp() override {
        store.loadDefaults();
        for (int i = 0; i < 3; ++i) {
            store.setDeviceAddress(i, QStringLiteral("192.168.201.1"));
        }
        zxtest::SimulatorTest::SetUp();
    }
    void dropReplies(std::uint8_t type, std::uint8_t command, std::uint32_t box = 0) {
        vcisim::Misbehaviour bad;
        bad.dropReplies.push_back({type, command, 0});
        simulator().setMisbehaviour(bad, box);
    }
    std::vector<Bytes> requestsReceived() {
        std::vector<Bytes> frames;
        for (const auto& datagram : simulator().receivedDatagrams(0)) {
            frames.push_back(datagram.bytes);
        }
        return frames;
    }
    KvVciConfigStore& store = KvVciConfigStore::instance();
    LogCapture log;
};

TEST_F(DeviceBoxTest, OpenedDeviceAsksVersionAndBaseTimeAndStaysClosedOnceClosed) {
    KvVciDevice device(0);
    ASSERT_EQ(device.open(), ZX_OK);
    EXPECT_EQ(device.firmwareVersion(), 0x01020304u);
    EXPECT_GE(device.readBaseTime(), 5000000000ull);
    const auto received = requestsReceived();
    ASSERT_GE(received.size(), 2u);
    EXPECT_EQ(received[0], P::encodeRequest(P::firmwareVersionRequest()));
    EXPECT_EQ(received[1], P::encodeRequest(P::baseTimeRequest()));

    ASSERT_EQ(device.openCan(0), ZX_OK);
    device.onProtocolData({record(kCan, 0x40, 0, canPayload(0x181, 2, 1))});
    EXPECT_EQ(device.closeCan(0), ZX_OK);
    EXPECT_FALSE(simulator().channel(0, 0).open);
    EXPECT_TRUE(drain(device, 0).empty()); // a closed channel loses its queue
    EXPECT_EQ(device.close(), ZX_OK);
    EXPECT_TRUE(log.hasLine(1, "Device0 link losses in total"));
    const std::uint64_t requests = simulator().requestDatagramCount(0);
    EXPECT_EQ(device.open(), ZX_ERR_DEVICE_CLOSED);
    EXPECT_EQ(device.close(), ZX_ERR_DEVICE_CLOSED);
    EXPECT_EQ(device.openCan(0), ZX_ERR_NOT_CONNECTED);
    EXPECT_EQ(simulator().requestDatagramCount(0), requests);
}

TEST_F(DeviceBoxTest, OpeningAllChannelsSendsTheSetUpListOnlyForCanFdChannels) {
    store.getChannelConfig(0, kVciProtocolIdCan, 0)->mode = QStringLiteral("canfd"); // classic: case counts
    KvVciDevice device(0);
    ASSERT_EQ(device.open(), ZX_OK);
    simulator().clearReceivedDatagrams(0);
    ASSERT_EQ(device.openCan(-1), ZX_OK);
    // channel 0 (classic): its open request; each CAN FD channel: open, then its list
    std::vector<Bytes> expected{P::encodeRequest(P::openCanChannelRequest(0, 500000))};
    for (std::uint8_t ch = 1; ch < 8; ++ch) {
        expected.push_back(P::encodeRequest(P::openCanChannelRequest(ch, 500000)));
        for (const auto& request : P::buildCanFdParameterList(ch, KvVciCanChannelConfig{})) {
            expected.push_back(P::encodeRequest(request));
        }
        EXPECT_TRUE(store.isCanChannelOpened(0, ch));
    }
    EXPECT_EQ(requestsReceived(), expected);
}

TEST_F(DeviceBoxTest, MissingRepliesGiveTheCodeOfTheFailedStep) {
    {
        dropReplies(kDevice, 0x60);
        KvVciDevice device(0);
        EXPECT_EQ(device.open(), ZX_ERR_OPEN_DEVICE);
        EXPECT_FALSE(device.isConnected());
        EXPECT_TRUE(log.hasLine(3, "Request Device0 timed out after 500 ms"));
    }
    simulator().setMisbehaviour({}, 0);
    KvVciDevice device(0);
    ASSERT_EQ(device.open(), ZX_OK);
    dropReplies(kCan, 0x10);
    EXPECT_EQ(device.openCan(0), ZX_ERR_OPEN_CAN);
    dropReplies(kCan, 0x60);
    EXPECT_EQ(device.openCan(0), ZX_ERR_CANFD_PARAM);
    EXPECT_TRUE(log.hasLine(3, "Configure Device0 CAN1 failed: param 0x1 "));
    dropReplies(kDevice, 0x30); // the resistor step of the set-up list
    EXPECT_EQ(device.openCan(0), ZX_ERR_CANFD_PARAM);
    EXPECT_EQ(simulator().channel(0, 0).applyCount, 0u);
    EXPECT_FALSE(store.isCanChannelOpened(0, 0));
    EXPECT_EQ(device.setTerminalResistor(3, false), ZX_ERR_TERMINAL_RESISTOR);

    simulator().setMisbehaviour({}, 0);
    ASSERT_EQ(device.openCan(0), ZX_OK);
    ASSERT_EQ(device.openCan(5), ZX_OK);
    dropReplies(kCan, 0x20);
    EXPECT_EQ(device.closeCan(0), ZX_ERR_CLOSE_CAN);
    EXPECT_FALSE(store.isCanChannelOpened(0, 0)); // marked closed anyway
    simulator().setSilent(true, 0);
    EXPECT_EQ(device.close(), ZX_ERR_CLOSE_CAN); // channel 5 times out; the device closes all the same
    EXPECT_FALSE(device.isConnected());
    EXPECT_FALSE(store.isCanChannelOpened(0, 5));
}

// Two host threads on one box: the open whose reply is lost must fail, even though
// the resistor request sent meanwhile is answered.
TEST_F(DeviceBoxTest, RequestsFromTwoThreadsTakeTurnsAndEachWaitsForItsOwnReply) {
    store.getChannelConfig(0, kVciProtocolIdCan, 0)->mode = QStringLiteral("CAN");
    KvVciDevice device(0);
    ASSERT_EQ(device.open(), ZX_OK);
    simulator().clearReceivedDatagrams(0);
    dropReplies(kCan, 0x10);
    auto open = std::async(std::launch::async, [&] { return device.openCan(0); });
    ASSERT_TRUE(pollUntil(2s, [&] { return !requestsReceived().empty(); }));
    EXPECT_EQ(device.setTerminalResistor(1, true), ZX_OK);
    EXPECT_EQ(open.get(), ZX_ERR_OPEN_CAN);
    EXPECT_TRUE(simulator().channel(0, 1).terminalResistor);
}

TEST_F(DeviceBoxTest, ReplyForAnotherChannelDoesNotCompleteTheRequest) {
    KvVciDevice device(0);
    ASSERT_EQ(device.open(), ZX_OK);
    vcisim::Misbehaviour bad;
    bad.wrongChannelReplies = true;
    simulator().setMisbehaviour(bad, 0);
    EXPECT_EQ(device.openCan(0), ZX_ERR_OPEN_CAN);
}

// Its channels are then closed by their flags alone, without a request.
TEST_F(DeviceBoxTest, DeviceThatStoppedReceivingFailsAtOnceAndNamesTheCauseWhenClosed) {
    KvVciDevice device(0);
    ASSERT_EQ(device.open(), ZX_OK);
    ASSERT_EQ(device.openCan(0), ZX_OK);
    simulator().sendEmptyDatagram(0); // ends the receive thread
    ASSERT_TRUE(pollUntil(2s, [&] { return !device.isConnected(); }));
    EXPECT_EQ(device.openCan(1), ZX_ERR_NOT_CONNECTED);
    // no reply can arrive, so closing does not wait for one per open channel
    const auto start = std::chrono::steady_clock::now();
    device.close();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 400ms);
    EXPECT_FALSE(store.isCanChannelOpened(0, 0));
    EXPECT_TRUE(
        log.hasLine(3, "Device0 stopped receiving before it was closed: the box closed the connection"));
}

// ---- The manager of the open devices (its open and close through the exports are
// ExportedFunctionsTest's) ----

class DeviceManagerCloseAllTest : public DeviceBoxTest,
                                  public ::testing::WithParamInterface<KvVciCloseMode> {};

TEST_P(DeviceManagerCloseAllTest, CloseAllGivesTheCodeOfAFailingBoxAndClosesEveryDevice) {
    KvVciDeviceManager manager;
    for (std::uint32_t i = 0; i < 3; ++i) {
        ASSERT_EQ(manager.openDevice(i), ZX_OK);
        ASSERT_EQ(manager.openCanChannel(i, 0), ZX_OK);
    }
    dropReplies(kCan, 0x20, 1); // the close request of a CAN channel

    EXPECT_EQ(manager.closeAllDevices(GetParam()), ZX_ERR_CLOSE_CAN);
    for (std::uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(manager.findDevice(i), nullptr);
        EXPECT_FALSE(store.isDeviceOpened(static_cast<int>(i)));
    }
    EXPECT_FALSE(simulator().channel(0, 0).open);
    EXPECT_FALSE(simulator().channel(2, 0).open);
    EXPECT_TRUE(log.hasLine(1, "Closed all device"));
    // nothing left to close: nothing happens, nothing is logged
    EXPECT_EQ(manager.closeAllDevices(GetParam()), ZX_OK);
    EXPECT_EQ(log.count("Closed all device"), 1u);
}

INSTANTIATE_TEST_SUITE_P(BothModes, DeviceManagerCloseAllTest,
                         ::testing::Values(KvVciCloseMode::Parallel, KvVciCloseMode::OnCallingThread));

TEST_F(DeviceBoxTest, ManagerKeepsNoDeviceWhoseBoxDoesNotAnswer) {
    KvVciDeviceManager manager;
    simulator().setSilent(true, 2);
    EXPECT_EQ(manager.openDevice(2), ZX_ERR_OPEN_DEVICE);
    EXPECT_TRUE(log.hasLine(3, "Check: no box answered at 192.168.201.132:8000."));
    EXPECT_EQ(manager.findDevice(2), nullptr);
    simulator().setSilent(false, 2);
    EXPECT_EQ(manager.openDevice(2), ZX_OK); // a later open starts from scratch
    EXPECT_EQ(manager.closeDevice(2), ZX_OK);
}

// Two host threads opening one box at the same moment: one opens it, the other finds
// it open; nothing closes what the surviving device serves.
TEST_F(DeviceBoxTest, ConcurrentOpensOfOneIndexOpenTheBoxOnceAndLeaveItOpen) {
    KvVciDeviceManager manager;
    constexpr int kRounds = 20; // each round starts both opens together; one overlap showed the fault
    for (int round = 0; round < kRounds; ++round) {
        std::promise<void> go;
        const std::shared_future<void> started = go.get_future().share();
        const auto openWhenStarted = [&] {
            started.wait();
            return manager.openDevice(0);
        };
        auto first = std::async(std::launch::async, openWhenStarted);
        auto second = std::async(std::launch::async, openWhenStarted);
        go.set_value();
        ASSERT_EQ(first.get(), ZX_OK) << "round " << round;
        ASSERT_EQ(second.get(), ZX_OK) << "round " << round;
        EXPECT_EQ(log.count("Opening Device0"), static_cast<std::size_t>(round + 1)) << "round " << round;
        EXPECT_TRUE(store.isDeviceOpened(0)) << "round " << round;
        ASSERT_EQ(manager.openCanChannel(0, 0), ZX_OK);
        EXPECT_TRUE(simulator().channel(0, 0).open);
        EXPECT_TRUE(store.isCanChannelOpened(0, 0));
        ASSERT_EQ(manager.closeDevice(0), ZX_OK);
        EXPECT_FALSE(store.isDeviceOpened(0));
    }
}

} // namespace
