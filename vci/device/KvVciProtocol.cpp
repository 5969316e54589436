#include "vci/device/KvVciProtocol.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t kHeaderBytes = 6; // type, command, channel, sub-code, u16 length

void putU32(std::uint8_t* out, std::uint32_t value) {
    out[0] = static_cast<std::uint8_t>(value);
    out[1] = static_cast<std::uint8_t>(value >> 8);
    out[2] = static_cast<std::uint8_t>(value >> 16);
    out[3] = static_cast<std::uint8_t>(value >> 24);
}

} // namespace

_KvVciProtocolData KvVciProtocol::makeRecord(KvVciFrameType type, KvVciCommand command, std::uint8_t channel,
                                             std::uint8_t subCode, const std::uint8_t* payload,
                                             std::uint16_t length) {
    _KvVciProtocolData record{};
    record.type = static_cast<std::uint8_t>(type);
    record.command = static_cast<std::uint8_t>(command);
    record.channel = channel;
    record.subCode = subCode;
    const std::uint16_t kept = payload == nullptr ? 0 : std::min<std::uint16_t>(length, kVciMaxPayload);
    record.length = kept;
    if (kept > 0) {
        std::memcpy(record.payload, payload, kept);
    }
    return record;
}

_KvVciProtocolData KvVciProtocol::firmwareVersionRequest() {
    const std::uint8_t payload = kVciReadRequestPayload;
    return makeRecord(KvVciFrameType::Device, KvVciCommand::FirmwareVersion, 0, kVciSubCodeNone, &payload, 1);
}

_KvVciProtocolData KvVciProtocol::baseTimeRequest() {
    const std::uint8_t payload = kVciReadRequestPayload;
    return makeRecord(KvVciFrameType::Device, KvVciCommand::BaseTime, 0, kVciSubCodeNone, &payload, 1);
}

_KvVciProtocolData KvVciProtocol::openCanChannelRequest(std::uint8_t channel, std::uint32_t bitRate) {
    std::uint8_t payload[4];
    putU32(payload, bitRate);
    return makeRecord(KvVciFrameType::Can, KvVciCommand::OpenChannel, channel, kVciSubCodeNone, payload,
                      sizeof(payload));
}

_KvVciProtocolData KvVciProtocol::closeChannelRequest(KvVciFrameType type, std::uint8_t channel) {
    return makeRecord(type, KvVciCommand::CloseChannel, channel, kVciSubCodeNone);
}

_KvVciProtocolData KvVciProtocol::terminalResistorRequest(std::uint8_t channel, bool enable) {
    const std::uint8_t payload = enable ? 1 : 0;
    return makeRecord(KvVciFrameType::Device, KvVciCommand::TerminalResistor, channel, kVciSubCodeNone,
                      &payload, 1);
}

_KvVciProtocolData KvVciProtocol::canFdParameterRequest(std::uint8_t channel, KvVciCanFdParameter parameter,
                                                        std::uint32_t value) {
    std::uint8_t payload[5];
    payload[0] = static_cast<std::uint8_t>(parameter);
    putU32(payload + 1, value);
    return makeRecord(KvVciFrameType::Can, KvVciCommand::CanFdParameter, channel, kVciSubCodeSetParameter,
                      payload, sizeof(payload));
}

_KvVciProtocolData KvVciProtocol::applyCanFdParametersRequest(std::uint8_t channel) {
    return makeRecord(KvVciFrameType::Can, KvVciCommand::CanFdParameter, channel, kVciSubCodeApplyParameters);
}

std::vector<_KvVciProtocolData> KvVciProtocol::buildCanFdParameterList(ZxIndex channel,
                                                                       const KvVciCanChannelConfig& config) {
    const auto ch = static_cast<std::uint8_t>(channel);
    std::vector<_KvVciProtocolData> list;
    list.push_back(canFdParameterRequest(ch, KvVciCanFdParameter::NominalBitRate, config.bitRate));
    if (!config.mode.startsWith(QLatin1String("CANFD"), Qt::CaseSensitive)) {
        return list;
    }
    list.push_back(canFdParameterRequest(ch, KvVciCanFdParameter::NominalTiming0, config.timing[0]));
    list.push_back(canFdParameterRequest(ch, KvVciCanFdParameter::NominalTiming1, config.timing[1]));
    list.push_back(canFdParameterRequest(ch, KvVciCanFdParameter::DataBitRate, config.dataBitRate));
    list.push_back(canFdParameterRequest(ch, KvVciCanFdParameter::DataTiming0, config.timing[2]));
    list.push_back(canFdParameterRequest(ch, KvVciCanFdParameter::DataTiming1, config.timing[3]));
    list.push_back(terminalResistorRequest(ch, config.terminalResistor != 0));
    list.push_back(applyCanFdParametersRequest(ch));
    return list;
}

std::size_t KvVciProtocol::encodeRequest(const _KvVciProtocolData& record, std::uint8_t* out) {
    const std::size_t length = std::min<std::size_t>(record.length, kVciMaxPayload);
    out[0] = kVciHostSync1;
    out[1] = kVciHostSync2;
    out[2] = record.type;
    out[3] = record.command;
    out[4] = record.channel;
    out[5] = record.subCode;
    out[6] = static_cast<std::uint8_t>(length);
    out[7] = static_cast<std::uint8_t>(length >> 8);
    std::memcpy(out + 2 + kHeaderBytes, record.payload, length);
    out[2 + kHeaderBytes + length] = 0x00; // trailer
    return length + kVciFrameOverhead;
}

std::vector<std::uint8_t> KvVciProtocol::encodeRequest(const _KvVciProtocolData& record) {
    std::vector<std::uint8_t> frame(kVciMaxPayload + kVciFrameOverhead);
    frame.resize(encodeRequest(record, frame.data()));
    return frame;
}

std::vector<std::uint8_t> KvVciProtocol::buildCanTransmitFrame(ZxIndex channel,
                                                               const _KvVciCanDataType& record) {
    const std::size_t dataLength = std::min<std::size_t>(record.dataLength, kVciCanMaxDataLength);
    const std::size_t payloadLength = kVciCanHeaderBytes + dataLength;
    std::vector<std::uint8_t> frame(payloadLength + kVciFrameOverhead);
    frame[0] = kVciHostSync1;
    frame[1] = kVciHostSync2;
    frame[2] = static_cast<std::uint8_t>(KvVciFrameType::Can);
    frame[3] = static_cast<std::uint8_t>(KvVciCommand::Transmit);
    frame[4] = static_cast<std::uint8_t>(channel);
    frame[5] = kVciSubCodeNone;
    frame[6] = static_cast<std::uint8_t>(payloadLength);
    frame[7] = static_cast<std::uint8_t>(payloadLength >> 8);
    // The record is packed and little-endian like the wire, so its bytes go as they are;
    // a data length above 64 is sent as 64 so that the frame never reads past the record.
    std::memcpy(frame.data() + 2 + kHeaderBytes, &record, payloadLength);
    if (record.dataLength > kVciCanMaxDataLength) {
        frame[2 + kHeaderBytes + 4] = kVciCanMaxDataLength;
    }
    frame.back() = 0x00;
    return frame;
}

bool KvVciProtocol::answers(const _KvVciProtocolData& reply, const _KvVciProtocolData& pending) {
    return reply.type == pending.type && reply.command == pending.command && reply.channel == pending.channel;
}

std::uint32_t KvVciProtocol::decodeFirmwareVersion(const _KvVciProtocolData& reply) {
    return (std::uint32_t{reply.payload[0]} << 24) | (std::uint32_t{reply.payload[1]} << 16) |
           (std::uint32_t{reply.payload[2]} << 8) | std::uint32_t{reply.payload[3]};
}

std::uint64_t KvVciProtocol::decodeBaseTime(const _KvVciProtocolData& reply) {
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i) {
        value = (value << 8) | reply.payload[i];
    }
    return value;
}
