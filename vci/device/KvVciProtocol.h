// Builds the request records and frames the library sends to a VCI box, and reads
// the contents of the box's replies.
#pragma once

#include "vci/config/KvVciChannelConfig.h"
#include "vci/config/ZxIndex.h"
#include "vci/device/KvVciProtocolTypes.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class KvVciProtocol {
public:
    // A record with the given codes and payload (at most kVciMaxPayload bytes are
    // taken); the rest of the payload is zero.
    static _KvVciProtocolData makeRecord(KvVciFrameType type, KvVciCommand command, std::uint8_t channel,
                                         std::uint8_t subCode, const std::uint8_t* payload = nullptr,
                                         std::uint16_t length = 0);

    static _KvVciProtocolData firmwareVersionRequest();
    static _KvVciProtocolData baseTimeRequest();
    static _KvVciProtocolData openCanChannelRequest(std::uint8_t channel, std::uint32_t bitRate);
    // type Can or Lin
    static _KvVciProtocolData closeChannelRequest(KvVciFrameType type, std::uint8_t channel);
    static _KvVciProtocolData terminalResistorRequest(std::uint8_t channel, bool enable);
    static _KvVciProtocolData canFdParameterRequest(std::uint8_t channel, KvVciCanFdParameter parameter,
                                                    std::uint32_t value);
    static _KvVciProtocolData applyCanFdParametersRequest(std::uint8_t channel);

    // The CAN FD set-up of a channel in the order the box expects: parameters 0x01,
    // 0x27, 0x28, 0x26, 0x29, 0x2A, the terminal resistor, apply. For a mode that does
    // not start with "CANFD", parameter 0x01 alone.
    static std::vector<_KvVciProtocolData> buildCanFdParameterList(ZxIndex channel,
                                                                   const KvVciCanChannelConfig& config);

    // AA 55, the record's first six bytes, length payload bytes, trailer 00. A length
    // above kVciMaxPayload is cut to it.
    static std::vector<std::uint8_t> encodeRequest(const _KvVciProtocolData& record);
    // Allocation-free form: writes the frame into out (capacity at least
    // kVciMaxPayload + kVciFrameOverhead) and returns its size.
    static std::size_t encodeRequest(const _KvVciProtocolData& record, std::uint8_t* out);

    // AA 55 01 30 ch 00, u16 length (16 + data length), the record's 16 header bytes,
    // its data bytes, 00. A data length above 64 is sent as 64.
    static std::vector<std::uint8_t> buildCanTransmitFrame(ZxIndex channel, const _KvVciCanDataType& record);

    // True when a received record answers the pending request: type, command and
    // channel equal (the sub-code is not compared).
    static bool answers(const _KvVciProtocolData& reply, const _KvVciProtocolData& pending);
    // Four version bytes, the first in the top 8 bits.
    static std::uint32_t decodeFirmwareVersion(const _KvVciProtocolData& reply);
    // Eight bytes little-endian, 0.1 us ticks.
    static std::uint64_t decodeBaseTime(const _KvVciProtocolData& reply);
};
