#include "tests/support/WireFrames.h"

namespace zxtest {

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
    std::vector<WireFrame> frames;
    size_t p = 0;
    while (datagram.size() - p >= 9) {
        if (datagram[p] != 0x55 || datagram[p + 1] != 0xAA) {
            ++p;
            continue;
        }
        const size_t length = datagram[p + 6] | (datagram[p + 7] << 8);
        if (datagram.size() - p < length + 9) {
            break;
        }
        WireFrame frame{datagram[p + 2], datagram[p + 3], datagram[p + 4], datagram[p + 5], {}};
        frame.payload.assign(datagram.begin() + static_cast<long>(p + 8),
                             datagram.begin() + static_cast<long>(p + 8 + length));
        frames.push_back(std::move(frame));
        p += length + 9;
    }
    return frames;
}

} // namespace zxtest
