// Builds frames as the box sends them (55 AA, codes, length, payload, trailer).
#pragma once

#include <cstdint>
#include <vector>

namespace zxtest {

inline std::vector<std::uint8_t> boxFrame(std::uint8_t type, std::uint8_t command, std::uint8_t channel,
                                          const std::vector<std::uint8_t>& payload) {
    std::vector<std::uint8_t> frame{0x55,
                                    0xAA,
                                    type,
                                    command,
                                    channel,
                                    0x00,
                                    static_cast<std::uint8_t>(payload.size() & 0xFF),
                                    static_cast<std::uint8_t>(payload.size() >> 8)};
    frame.insert(frame.end(), payload.begin(), payload.end());
    frame.push_back(0x00);
    return frame;
}

// A CAN data frame of channel 0 whose payload starts with the sequence number.
inline std::vector<std::uint8_t> numberedFrame(std::uint32_t number, std::size_t payloadLength = 24) {
    std::vector<std::uint8_t> payload(payloadLength, 0xA5);
    for (std::size_t i = 0; i < 4 && i < payloadLength; ++i) {
        payload[i] = static_cast<std::uint8_t>(number >> (8 * i));
    }
    return boxFrame(0x01, 0x40, 0x00, payload);
}

inline void append(std::vector<std::uint8_t>& to, const std::vector<std::uint8_t>& bytes) {
    to.insert(to.end(), bytes.begin(), bytes.end());
}

} // namespace zxtest
