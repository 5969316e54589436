#include "tests/support/WireFrames.h"

namespace zxtest {

uint16_t le16(const uint8_t* b) {
    return static_cast<uint16_t>(b[0] | (b[1] << 8));
}
uint32_t le32(const uint8_t* b) {
    return le16(b) | (static_cast<uint32_t>(le16(b + 2)) << 16);
}
uint64_t le64(const uint8_t* b) {
    return le32(b) | (static_cast<uint64_t>(le32(b + 4)) << 32);
}

namespace {

std::vector<uint8_t> encodeFrame(uint8_t sync1, uint8_t sync2, uint8_t type, uint8_t command, uint8_t channel,
                                 uint8_t sub, const std::vector<uint8_t>& payload) {
    const auto length = static_cast<uint16_t>(payload.size());
    std::vector<uint8_t> bytes{
        sync1, sync2, type, command, channel, sub, uint8_t(length & 0xFF), uint8_t(length >> 8)};
    append(bytes, payload);
    bytes.push_back(0x00);
    return bytes;
}

std::vector<WireFrame> framesAfterSync(const std::vector<uint8_t>& datagram, uint8_t sync1, uint8_t sync2) {
    std::vector<WireFrame> frames;
    size_t p = 0;
    while (datagram.size() - p >= 9) {
        if (datagram[p] != sync1 || datagram[p + 1] != sync2) {
            ++p;
            continue;
        }
        const size_t length = le16(&datagram[p + 6]);
        if (datagram.size() - p < length + 9) {
            break;
        }
        WireFrame frame;
        frame.type = datagram[p + 2];
        frame.command = datagram[p + 3];
        frame.channel = datagram[p + 4];
        frame.sub = datagram[p + 5];
        frame.payload.assign(datagram.begin() + static_cast<long>(p + 8),
                             datagram.begin() + static_cast<long>(p + 8 + length));
        frames.push_back(std::move(frame));
        p += length + 9;
    }
    return frames;
}

} // namespace

void append(std::vector<uint8_t>& to, const std::vector<uint8_t>& bytes) {
    to.insert(to.end(), bytes.begin(), bytes.end());
}

std::vector<uint8_t> hostFrame(uint8_t type, uint8_t command, uint8_t channel, uint8_t sub,
                               const std::vector<uint8_t>& payload) {
    return encodeFrame(0xAA, 0x55, type, command, channel, sub, payload);
}

std::vector<uint8_t> boxFrame(uint8_t type, uint8_t command, uint8_t channel,
                              const std::vector<uint8_t>& payload) {
    return encodeFrame(0x55, 0xAA, type, command, channel, 0, payload);
}

std::vector<uint8_t> numberedFrame(uint32_t number, size_t payloadLength) {
    std::vector<uint8_t> payload(payloadLength, 0xA5);
    for (size_t i = 0; i < 4 && i < payloadLength; ++i) {
        payload[i] = static_cast<uint8_t>(number >> (8 * i));
    }
    return boxFrame(0x01, 0x40, 0x00, payload);
}

std::vector<WireFrame> boxFrames(const std::vector<uint8_t>& datagram) {
    return framesAfterSync(datagram, 0x55, 0xAA);
}

std::vector<WireFrame> hostFrames(const std::vector<uint8_t>& datagram) {
    return framesAfterSync(datagram, 0xAA, 0x55);
}

bool parseCanRecord(const std::vector<uint8_t>& payload, CanRecord& record) {
    if (payload.size() < 16) {
        return false;
    }
    record.id = le32(payload.data());
    record.dataLength = payload[4];
    record.flags = payload[5];
    record.frameKind = payload[7];
    record.timestamp = le64(payload.data() + 8);
    if (payload.size() < 16u + record.dataLength) {
        return false;
    }
    record.data.assign(payload.begin() + 16, payload.begin() + 16 + record.dataLength);
    return true;
}

int32_t sampleValue(const CanRecord& record, unsigned k) {
    if (record.data.size() < 4 * (k + 1)) {
        return 0;
    }
    return static_cast<int32_t>(le32(record.data.data() + 4 * k));
}

} // namespace zxtest
