#include "vci/device/KvVciProtocol.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using P = KvVciProtocol;

// Entry i of a channel's CAN FD set-up list, as framed on the wire.
Bytes setUpFrame(int channel, const KvVciCanChannelConfig& config, std::size_t i) {
    return P::encodeRequest(P::buildCanFdParameterList(channel, config).at(i));
}

KvVciCanChannelConfig configured() {
    KvVciCanChannelConfig config;
    config.bitRate = 1000000;
    config.dataBitRate = 5000000;
    config.timing = {{1, 2, 3, 4}};
    config.terminalResistor = 0;
    return config;
}

Bytes transmitFrame() {
    _KvVciCanDataType record{};
    record.id = 0x001;
    record.dataLength = 6;
    record.flags = 0x01;
    record.timestamp = 0x0102030405060708ull;
    const std::uint8_t data[] = {0x10, 0x01, 0x01, 0x00, 0x00, 0x03, 0xEE}; // beyond dataLength: not sent
    std::memcpy(record.data, data, sizeof(data));
    return P::buildCanTransmitFrame(2, record);
}

struct RequestCase {
    const char* name;
    std::function<Bytes()> build;
    Bytes wire;
};

const KvVciCanChannelConfig kDefault;
const RequestCase kRequests[] = {
    {"OpenCan0At500k",
     [] { return P::encodeRequest(P::openCanChannelRequest(0, 500000)); },
     {0xAA, 0x55, 0x01, 0x10, 0x00, 0x00, 0x04, 0x00, 0x20, 0xA1, 0x07, 0x00, 0x00}},
    {"CloseLin2",
     [] { return P::encodeRequest(P::closeChannelRequest(KvVciFrameType::Lin, 2)); },
     {0xAA, 0x55, 0x05, 0x20, 0x02, 0x00, 0x00, 0x00, 0x00}},
    {"CloseCan7",
     [] { return P::encodeRequest(P::closeChannelRequest(KvVciFrameType::Can, 7)); },
     {0xAA, 0x55, 0x01, 0x20, 0x07, 0x00, 0x00, 0x00, 0x00}},
    {"FirmwareVersion",
     [] { return P::encodeRequest(P::firmwareVersionRequest()); },
     {0xAA, 0x55, 0x0F, 0x60, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00}},
    {"BaseTime",
     [] { return P::encodeRequest(P::baseTimeRequest()); },
     {0xAA, 0x55, 0x0F, 0x40, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00}},
    {"ResistorOff3",
     [] { return P::encodeRequest(P::terminalResistorRequest(3, false)); },
     {0xAA, 0x55, 0x0F, 0x30, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00}},
    // the default CAN FD set-up of channel 1, in the order the box expects
    {"DefaultBitRate",
     [] { return setUpFrame(1, kDefault, 0); },
     {0xAA, 0x55, 0x01, 0x60, 0x01, 0x02, 0x05, 0x00, 0x01, 0x20, 0xA1, 0x07, 0x00, 0x00}},
    {"DefaultTiming1",
     [] { return setUpFrame(1, kDefault, 1); },
     {0xAA, 0x55, 0x01, 0x60, 0x01, 0x02, 0x05, 0x00, 0x27, 31, 0, 0, 0, 0x00}},
    {"DefaultTiming2",
     [] { return setUpFrame(1, kDefault, 2); },
     {0xAA, 0x55, 0x01, 0x60, 0x01, 0x02, 0x05, 0x00, 0x28, 8, 0, 0, 0, 0x00}},
    {"DefaultDataBitRate",
     [] { return setUpFrame(1, kDefault, 3); },
     {0xAA, 0x55, 0x01, 0x60, 0x01, 0x02, 0x05, 0x00, 0x26, 0x80, 0x84, 0x1E, 0x00, 0x00}},
    {"DefaultTiming3",
     [] { return setUpFrame(1, kDefault, 4); },
     {0xAA, 0x55, 0x01, 0x60, 0x01, 0x02, 0x05, 0x00, 0x29, 15, 0, 0, 0, 0x00}},
    {"DefaultTiming4",
     [] { return setUpFrame(1, kDefault, 5); },
     {0xAA, 0x55, 0x01, 0x60, 0x01, 0x02, 0x05, 0x00, 0x2A, 4, 0, 0, 0, 0x00}},
    {"DefaultResistorOn",
     [] { return setUpFrame(1, kDefault, 6); },
     {0xAA, 0x55, 0x0F, 0x30, 0x01, 0x00, 0x01, 0x00, 0x01, 0x00}},
    {"DefaultApply",
     [] { return setUpFrame(1, kDefault, 7); },
     {0xAA, 0x55, 0x01, 0x60, 0x01, 0x05, 0x00, 0x00, 0x00}},
    // the same list follows the channel's configuration
    {"ConfiguredBitRate",
     [] { return setUpFrame(0, configured(), 0); },
     {0xAA, 0x55, 0x01, 0x60, 0x00, 0x02, 0x05, 0x00, 0x01, 0x40, 0x42, 0x0F, 0x00, 0x00}},
    {"ConfiguredTiming1",
     [] { return setUpFrame(0, configured(), 1); },
     {0xAA, 0x55, 0x01, 0x60, 0x00, 0x02, 0x05, 0x00, 0x27, 1, 0, 0, 0, 0x00}},
    {"ConfiguredTiming2",
     [] { return setUpFrame(0, configured(), 2); },
     {0xAA, 0x55, 0x01, 0x60, 0x00, 0x02, 0x05, 0x00, 0x28, 2, 0, 0, 0, 0x00}},
    {"ConfiguredDataBitRate",
     [] { return setUpFrame(0, configured(), 3); },
     {0xAA, 0x55, 0x01, 0x60, 0x00, 0x02, 0x05, 0x00, 0x26, 0x40, 0x4B, 0x4C, 0x00, 0x00}},
    {"ConfiguredTiming3",
     [] { return setUpFrame(0, configured(), 4); },
     {0xAA, 0x55, 0x01, 0x60, 0x00, 0x02, 0x05, 0x00, 0x29, 3, 0, 0, 0, 0x00}},
    {"ConfiguredTiming4",
     [] { return setUpFrame(0, configured(), 5); },
     {0xAA, 0x55, 0x01, 0x60, 0x00, 0x02, 0x05, 0x00, 0x2A, 4, 0, 0, 0, 0x00}},
    {"ConfiguredResistorOff",
     [] { return setUpFrame(0, configured(), 6); },
     {0xAA, 0x55, 0x0F, 0x30, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00}},
    {"TransmitHeaderAndDataBytes",
     transmitFrame,
     {0xAA, 0x55, 0x01, 0x30, 0x02, 0x00, 22,   0x00, 0x01, 0x00, 0x00, 0x00, 6,    0x01, 0x00, 0x00,
      0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01, 0x10, 0x01, 0x01, 0x00, 0x00, 0x03, 0x00}},
};

class RequestBytes : public ::testing::TestWithParam<RequestCase> {};

TEST_P(RequestBytes, AreWhatTheBoxExpects) {
    EXPECT_EQ(GetParam().build(), GetParam().wire);
}

INSTANTIATE_TEST_SUITE_P(Requests, RequestBytes, ::testing::ValuesIn(kRequests),
                         [](const ::testing::TestParamInfo<RequestCase>& info) { return info.param.name; });

TEST(ProtocolTest, SetUpListIsEightRequestsOnlyForCanFdModes) {
    KvVciCanChannelConfig config;
    for (const char* mode : {"CAN", "canfd", "CanFd"}) {
        config.mode = QString::fromLatin1(mode);
        const auto list = P::buildCanFdParameterList(0, config);
        ASSERT_EQ(list.size(), 1u) << mode;
        EXPECT_EQ(list[0].payload[0], 0x01); // the nominal bit rate alone
    }
    config.mode = QStringLiteral("CANFD ISO");
    EXPECT_EQ(P::buildCanFdParameterList(0, config).size(), 8u);
}

TEST(ProtocolTest, LengthsBeyondWhatARecordHoldsAreCut) {
    _KvVciCanDataType data{};
    data.dataLength = 200;
    const Bytes transmit = P::buildCanTransmitFrame(0, data);
    ASSERT_EQ(transmit.size(), 9u + 16u + 64u);
    EXPECT_EQ(transmit[6], 80);
    EXPECT_EQ(transmit[8 + 4], 64); // the record's length byte says what was sent

    _KvVciProtocolData record = P::closeChannelRequest(KvVciFrameType::Can, 0);
    record.length = 500;
    const Bytes frame = P::encodeRequest(record);
    EXPECT_EQ(frame.size(), kVciMaxPayload + kVciFrameOverhead);
    EXPECT_EQ(frame[6] | (frame[7] << 8), static_cast<int>(kVciMaxPayload));
}

TEST(ProtocolTest, ReplyMatchesOnTypeCommandAndChannelOnly) {
    const _KvVciProtocolData pending = P::openCanChannelRequest(0, 500000);
    _KvVciProtocolData reply = P::makeRecord(KvVciFrameType::Can, KvVciCommand::OpenChannel, 0, 7);
    EXPECT_TRUE(P::answers(reply, pending)); // the sub-code is not compared
    reply.channel = 1;
    EXPECT_FALSE(P::answers(reply, pending));
    reply.channel = 0;
    reply.type = static_cast<std::uint8_t>(KvVciFrameType::Lin);
    EXPECT_FALSE(P::answers(reply, pending));
}

TEST(ProtocolTest, VersionAndBaseTimeRepliesDecode) {
    const std::uint8_t version[] = {1, 2, 3, 4};
    EXPECT_EQ(P::decodeFirmwareVersion(
                  P::makeRecord(KvVciFrameType::Device, KvVciCommand::FirmwareVersion, 0, 0, version, 4)),
              0x01020304u);
    const std::uint8_t time[] = {0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0xF1};
    EXPECT_EQ(P::decodeBaseTime(P::makeRecord(KvVciFrameType::Device, KvVciCommand::BaseTime, 0, 0, time, 8)),
              0xF102030405060708ull);
}

} // namespace
