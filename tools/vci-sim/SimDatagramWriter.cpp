#include "tools/vci-sim/SimDatagramWriter.h"

#include "tools/vci-sim/SimWire.h"

#include <cstring>

namespace vcisim {

SimDatagramWriter::SimDatagramWriter(size_t capacityBytes) : buffer_(capacityBytes) {}

bool SimDatagramWriter::fits(size_t payloadLength, size_t maxBytes) const {
    const size_t needed = size_ + garbageBytes_ + kFrameOverheadBytes + payloadLength;
    return needed <= maxBytes && needed <= buffer_.size();
}

uint8_t* SimDatagramWriter::appendFrame(uint8_t type, uint8_t command, uint8_t channel, uint8_t sub,
                                        size_t payloadLength) {
    for (uint32_t i = 0; i < garbageBytes_; ++i) {
        // Never 0x55, so garbage cannot start a frame of its own.
        garbageSeed_ = garbageSeed_ * 1664525u + 1013904223u;
        const auto byte = static_cast<uint8_t>(garbageSeed_ >> 24);
        buffer_[size_++] = byte == kBoxSync1 ? 0x00 : byte;
    }
    lastFrameOffset_ = size_;
    uint8_t* frame = buffer_.data() + size_;
    frame[0] = kBoxSync1;
    frame[1] = kBoxSync2;
    frame[kTypeOffset] = type;
    frame[kCommandOffset] = command;
    frame[kChannelOffset] = channel;
    frame[kSubOffset] = sub;
    writeU16(frame + kLengthOffset, static_cast<uint16_t>(payloadLength));
    frame[kFrameHeaderBytes + payloadLength] = 0x00;
    size_ += kFrameOverheadBytes + payloadLength;
    ++frames_;
    return frame + kFrameHeaderBytes;
}

void SimDatagramWriter::appendFrame(uint8_t type, uint8_t command, uint8_t channel, uint8_t sub,
                                    const uint8_t* payload, size_t payloadLength) {
    uint8_t* target = appendFrame(type, command, channel, sub, payloadLength);
    if (payloadLength > 0) {
        std::memcpy(target, payload, payloadLength);
    }
}

void SimDatagramWriter::clear() {
    size_ = 0;
    frames_ = 0;
    lastFrameOffset_ = 0;
}

std::vector<uint8_t> SimDatagramWriter::frame(uint8_t type, uint8_t command, uint8_t channel, uint8_t sub,
                                              const uint8_t* payload, size_t payloadLength) {
    SimDatagramWriter writer(kFrameOverheadBytes + payloadLength);
    writer.appendFrame(type, command, channel, sub, payload, payloadLength);
    return {writer.data(), writer.data() + writer.size()};
}

} // namespace vcisim
