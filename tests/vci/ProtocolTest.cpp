#include "vci/device/KvVciProtocol.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <utility>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using P = KvVciProtocol;

KvVciCanChannelConfig configured() {
    KvVciCanChannelConfig config;
    config.bitRate = 1000000;
    config.dataBitRate = 5000000;
    config.timing = {{1, 2, 3, 4}};
    config.terminalResistor = 0;
    return config;
}

TEST(ProtocolTest, RequestsAreFramedAsTheBoxExpects) {
    // channel 1's default CAN FD set-up, and channel 0's from another configuration
    const auto set = P::buildCanFdParameterList(1, KvVciCanChannelConfig{});
    const auto other = P::buildCanFdParameterList(0, configured());
    ASSERT_EQ(set.size(), 8u);
    const std::pair<_KvVciProtocolData, Bytes> cases[] = {
        {P::openCanChannelRequest(0, 500000), {0xAA, 0x55, 0x01, 0x10, 0, 0, 4, 0, 0x20, 0xA1, 0x07, 0, 0}},
        {P::closeChannelRequest(KvVciFrameType::Lin, 2), {0xAA, 0x55, 0x05, 0x20, 2, 0, 0, 0, 0}},
        {P::closeChannelRequest(KvVciFrameType::Can, 7), {0xAA, 0x55, 0x01, 0x20, 7, 0, 0, 0, 0}},
        {P::firmwareVersionRequest(), {0xAA, 0x55, 0x0F, 0x60, 0, 0, 1, 0, 1, 0}},
        {P::baseTimeRequest(), {0xAA, 0x55, 0x0F, 0x40, 0, 0, 1, 0, 1, 0}},
        {P::terminalResistorRequest(3, false), {0xAA, 0x55, 0x0F, 0x30, 3, 0, 1, 0, 0, 0}},
        {set[0], {0xAA, 0x55, 0x01, 0x60, 1, 2, 5, 0, 0x01, 0x20, 0xA1, 0x07, 0, 0}},
        {set[1], {0xAA, 0x55, 0x01, 0x60, 1, 2, 5, 0, 0x27, 31, 0, 0, 0, 0}},
        {set[2], {0xAA, 0x55, 0x01, 0x60, 1, 2, 5, 0, 0x28, 8, 0, 0, 0, 0}},
        {set[3], {0xAA, 0x55, 0x01, 0x60, 1, 2, 5, 0, 0x26, 0x80, 0x84, 0x1E, 0, 0}},
        {set[4], {0xAA, 0x55, 0x01, 0x60, 1, 2, 5, 0, 0x29, 15, 0, 0, 0, 0}},
        {set[5], {0xAA, 0x55, 0x01, 0x60, 1, 2, 5, 0, 0x2A, 4, 0, 0, 0, 0}},
        {set[6], {0xAA, 0x55, 0x0F, 0x30, 1, 0, 1, 0, 1, 0}},
        {set[7], {0xAA, 0x55, 0x01, 0x60, 1, 5, 0, 0, 0}},
        {other[0], {0xAA, 0x55, 0x01, 0x60, 0, 2, 5, 0, 0x01, 0x40, 0x42, 0x0F, 0, 0}},
        {other[1], {0xAA, 0x55, 0x01, 0x60, 0, 2, 5, 0, 0x27, 1, 0, 0, 0, 0}},
        {other[3], {0xAA, 0x55, 0x01, 0x60, 0, 2, 5, 0, 0x26, 0x40, 0x4B, 0x4C, 0, 0}},
        {other[5], {0xAA, 0x55, 0x01, 0x60, 0, 2, 5, 0, 0x2A, 4, 0, 0, 0, 0}},
        {other[6], {0xAA, 0x55, 0x0F, 0x30, 0, 0, 1, 0, 0, 0}},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(P::encodeRequest(cases[i].first), cases[i].second) << "case " << i;
    }
}

TEST(ProtocolTest, TransmitFrameCarriesHeaderAndDataBytesOfTheRecord) {
    _KvVciCanDataType record{};
    record.id = 0x001;
    record.dataLength = 6;
    record.flags = 0x01;
    record.timestamp = 0x0102030405060708ull;
    const std::uint8_t data[] = {0x10, 0x01, 0x01, 0x00, 0x00, 0x03, 0xEE}; // beyond dataLength: not sent
    std::memcpy(record.data, data, sizeof(data));
    EXPECT_EQ(P::buildCanTransmitFrame(2, record),
              (Bytes{0xAA, 0x55, 0x01, 0x30, 2, 0, 22, 0, 1,    0,    0,    0,    6,    1,    0,   0,
                     8,    7,    6,    5,    4, 3, 2,  1, 0x10, 0x01, 0x01, 0x00, 0x00, 0x03, 0x00}));
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

} // namespace
