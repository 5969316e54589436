#include "tools/vci-sim/SimDatagramWriter.h"

#include "tools/vci-sim/SimWire.h"

#include <cstring>

namespace vcisim {

SimDatagramWriter::SimDatagramWriter(size_t capacityBytes) : buffer_(capacityBytes) {}

bool SimDatagramWriter::fits(size_t payloadLength, size_t maxBytes) const {
    const size_t needed = size_ + kFrameOverheadBytes + payloadLength;
    return needed <= maxBytes && needed <= buffer_.size();
}

uint8_t* SimDatagramWriter::appendFrame(uint8_t type, uint8_t command, uint8_t channel, uint8_t sub,
                                        size_t payloadLength) {
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
    return frame + kFrameHeaderBytes;
}

void SimDatagramWriter::appendFrame(uint8_t type, uint8_t command, uint8_t channel, uint8_t sub,
                                    const uint8_t* payload, size_t payloadLength) {
    uint8_t* target = appendFrame(type, command, channel, sub, payloadLength);
    if (payloadLength > 0) {
        std::memcpy(target, payload, payloadLength);
    }
}

} // namespace vcisim
