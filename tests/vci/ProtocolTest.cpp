#include "vci/device/KvVciProtocol.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(ProtocolTest, OpenFrameOfChannelZeroAt500kIsThirteenBytes) {
    EXPECT_EQ(KvVciProtocol::encodeRequest(KvVciProtocol::openCanChannelRequest(0, 500000)),
              (Bytes{0xAA, 0x55, 0x01, 0x10, 0x00, 0x00, 0x04, 0x00, 0x20, 0xA1, 0x07, 0x00, 0x00}));
}

TEST(ProtocolTest, CloseFrameOfLinChannelTwoHasNoPayload) {
    EXPECT_EQ(KvVciProtocol::encodeRequest(KvVciProtocol::closeChannelRequest(KvVciFrameType::Lin, 2)),
              (Bytes{0xAA, 0x55, 0x05, 0x20, 0x02, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(KvVciProtocol::encodeRequest(KvVciProtocol::closeChannelRequest(KvVciFrameType::Can, 7)),
              (Bytes{0xAA, 0x55, 0x01, 0x20, 0x07, 0x00, 0x00, 0x00, 0x00}));
}

TEST(ProtocolTest, DeviceRequestsCarryTheReadByte) {
    EXPECT_EQ(KvVciProtocol::encodeRequest(KvVciProtocol::firmwareVersionRequest()),
              (Bytes{0xAA, 0x55, 0x0F, 0x60, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00}));
    EXPECT_EQ(KvVciProtocol::encodeRequest(KvVciProtocol::baseTimeRequest()),
              (Bytes{0xAA, 0x55, 0x0F, 0x40, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00}));
    EXPECT_EQ(KvVciProtocol::encodeRequest(KvVciProtocol::terminalResistorRequest(3, false)),
              (Bytes{0xAA, 0x55, 0x0F, 0x30, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00}));
}

TEST(ProtocolTest, DefaultCanFdChannelListsParametersInBoxOrder) {
    const KvVciCanChannelConfig config;
    const std::vector<_KvVciProtocolData> list = KvVciProtocol::buildCanFdParameterList(1, config);
    ASSERT_EQ(list.size(), 8u);
    std::vector<Bytes> frames;
    for (const auto& record : list) {
        frames.push_back(KvVciProtocol::encodeRequest(record));
    }
    EXPECT_EQ(frames[0],
              (Bytes{0xAA, 0x55, 0x01, 0x60, 0x01, 0x02, 0x05, 0x00, 0x01, 0x20, 0xA1, 0x07, 0x00, 0x00}));
    EXPECT_EQ(frames[1], (Bytes{0xAA, 0x55, 0x01, 0x60, 0x01, 0x02, 0x05, 0x00, 0x27, 31, 0, 0, 0, 0x00}));
    EXPECT_EQ(frames[2], (Bytes{0xAA, 0x55, 0x01, 0x60, 0x01, 0x02, 0x05, 0x00, 0x28, 8, 0, 0, 0, 0x00}));
    EXPECT_EQ(frames[3],
              (Bytes{0xAA, 0x55, 0x01, 0x60, 0x01, 0x02, 0x05, 0x00, 0x26, 0x80, 0x84, 0x1E, 0x00, 0x00}));
    EXPECT_EQ(frames[4], (Bytes{0xAA, 0x55, 0x01, 0x60, 0x01, 0x02, 0x05, 0x00, 0x29, 15, 0, 0, 0, 0x00}));
    EXPECT_EQ(frames[5], (Bytes{0xAA, 0x55, 0x01, 0x60, 0x01, 0x02, 0x05, 0x00, 0x2A, 4, 0, 0, 0, 0x00}));
    EXPECT_EQ(frames[6], (Bytes{0xAA, 0x55, 0x0F, 0x30, 0x01, 0x00, 0x01, 0x00, 0x01, 0x00}));
    EXPECT_EQ(frames[7], (Bytes{0xAA, 0x55, 0x01, 0x60, 0x01, 0x05, 0x00, 0x00, 0x00}));
}

TEST(ProtocolTest, CanFdListFollowsTheChannelConfiguration) {
    KvVciCanChannelConfig config;
    config.bitRate = 1000000;
    config.dataBitRate = 5000000;
    config.timing = {{1, 2, 3, 4}};
    config.terminalResistor = 0;
    const auto list = KvVciProtocol::buildCanFdParameterList(0, config);
    ASSERT_EQ(list.size(), 8u);
    const auto valueOf = [](const _KvVciProtocolData& record) {
        std::uint32_t value = 0;
        std::memcpy(&value, record.payload + 1, 4);
        return value;
    };
    EXPECT_EQ(valueOf(list[0]), 1000000u);
    EXPECT_EQ(valueOf(list[1]), 1u);
    EXPECT_EQ(valueOf(list[2]), 2u);
    EXPECT_EQ(valueOf(list[3]), 5000000u);
    EXPECT_EQ(valueOf(list[4]), 3u);
    EXPECT_EQ(valueOf(list[5]), 4u);
    EXPECT_EQ(list[6].payload[0], 0); // resistor off
}

TEST(ProtocolTest, ClassicCanModeListsOnlyTheNominalBitRate) {
    KvVciCanChannelConfig config;
    for (const char* mode : {"CAN", "canfd", "CanFd"}) {
        config.mode = QString::fromLatin1(mode);
        const auto list = KvVciProtocol::buildCanFdParameterList(0, config);
        ASSERT_EQ(list.size(), 1u) << mode;
        EXPECT_EQ(list[0].payload[0], 0x01);
    }
    config.mode = QStringLiteral("CANFD ISO");
    EXPECT_EQ(KvVciProtocol::buildCanFdParameterList(0, config).size(), 8u);
}

TEST(ProtocolTest, TransmitFrameCarriesHeaderAndDataBytesOfTheRecord) {
    _KvVciCanDataType record{};
    record.id = 0x001;
    record.dataLength = 6;
    record.flags = 0x01;
    record.timestamp = 0x0102030405060708ull;
    const std::uint8_t data[] = {0x10, 0x01, 0x01, 0x00, 0x00, 0x03};
    std::memcpy(record.data, data, sizeof(data));
    record.data[6] = 0xEE; // beyond dataLength: not sent

    EXPECT_EQ(
        KvVciProtocol::buildCanTransmitFrame(2, record),
        (Bytes{0xAA, 0x55, 0x01, 0x30, 0x02, 0x00, 22,   0x00, 0x01, 0x00, 0x00, 0x00, 6,    0x01, 0x00, 0x00,
               0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01, 0x10, 0x01, 0x01, 0x00, 0x00, 0x03, 0x00}));
}

TEST(ProtocolTest, TransmitFrameNeverReadsBeyondSixtyFourDataBytes) {
    _KvVciCanDataType record{};
    record.dataLength = 200;
    const Bytes frame = KvVciProtocol::buildCanTransmitFrame(0, record);
    ASSERT_EQ(frame.size(), 9u + 16u + 64u);
    EXPECT_EQ(frame[6], 80);
    EXPECT_EQ(frame[8 + 4], 64); // the record's length byte says what was sent
}

TEST(ProtocolTest, OversizedPayloadLengthIsCutToWhatARecordHolds) {
    _KvVciProtocolData record = KvVciProtocol::closeChannelRequest(KvVciFrameType::Can, 0);
    record.length = 500;
    const Bytes frame = KvVciProtocol::encodeRequest(record);
    EXPECT_EQ(frame.size(), kVciMaxPayload + kVciFrameOverhead);
    EXPECT_EQ(frame[6] | (frame[7] << 8), static_cast<int>(kVciMaxPayload));
}

TEST(ProtocolTest, ReplyMatchesOnTypeCommandAndChannelOnly) {
    const _KvVciProtocolData pending = KvVciProtocol::openCanChannelRequest(0, 500000);
    _KvVciProtocolData reply =
        KvVciProtocol::makeRecord(KvVciFrameType::Can, KvVciCommand::OpenChannel, 0, 7);
    EXPECT_TRUE(KvVciProtocol::answers(reply, pending)); // the sub-code is not compared
    reply.channel = 1;
    EXPECT_FALSE(KvVciProtocol::answers(reply, pending));
    reply.channel = 0;
    reply.type = static_cast<std::uint8_t>(KvVciFrameType::Lin);
    EXPECT_FALSE(KvVciProtocol::answers(reply, pending));
}

TEST(ProtocolTest, VersionAndBaseTimeRepliesDecode) {
    const std::uint8_t version[] = {1, 2, 3, 4};
    EXPECT_EQ(KvVciProtocol::decodeFirmwareVersion(KvVciProtocol::makeRecord(
                  KvVciFrameType::Device, KvVciCommand::FirmwareVersion, 0, 0, version, 4)),
              0x01020304u);
    const std::uint8_t one[] = {1, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(KvVciProtocol::decodeBaseTime(
                  KvVciProtocol::makeRecord(KvVciFrameType::Device, KvVciCommand::BaseTime, 0, 0, one, 8)),
              1u);
    const std::uint8_t big[] = {0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0xF1};
    EXPECT_EQ(KvVciProtocol::decodeBaseTime(
                  KvVciProtocol::makeRecord(KvVciFrameType::Device, KvVciCommand::BaseTime, 0, 0, big, 8)),
              0xF102030405060708ull);
}

} // namespace
