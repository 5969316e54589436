// Test-side view of VCI frames: builds host requests (AA 55 ...) and box frames (55 AA ...),
// and splits box datagrams into frames, so tests can assert exact bytes on the wire.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zxtest {

struct WireFrame {
    uint8_t type = 0;
    uint8_t command = 0;
    uint8_t channel = 0;
    uint8_t sub = 0;
    std::vector<uint8_t> payload;
};

// One host-to-box frame: AA 55 type command channel sub length(LE) payload 00.
std::vector<uint8_t> hostFrame(uint8_t type, uint8_t command, uint8_t channel, uint8_t sub,
                               const std::vector<uint8_t>& payload = {});
// One box-to-host frame: the same behind 55 AA, with sub-code 0.
std::vector<uint8_t> boxFrame(uint8_t type, uint8_t command, uint8_t channel,
                              const std::vector<uint8_t>& payload = {});
// A CAN data frame of channel 0 whose payload is the number (LE) followed by A5 bytes,
// so a record spliced from two frames shows.
std::vector<uint8_t> numberedFrame(uint32_t number, size_t payloadLength = 24);
void append(std::vector<uint8_t>& to, const std::vector<uint8_t>& bytes);

// The complete 55 AA frames of a box datagram, in order; bytes outside frames are skipped.
std::vector<WireFrame> boxFrames(const std::vector<uint8_t>& datagram);

} // namespace zxtest
