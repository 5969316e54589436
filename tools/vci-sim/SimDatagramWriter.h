// Packs the box's outgoing frames (55 AA ...) into one datagram buffer that is
// allocated once and reused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vcisim {

class SimDatagramWriter {
public:
    explicit SimDatagramWriter(size_t capacityBytes);

    // Room left for a frame with this payload under maxBytes.
    bool fits(size_t payloadLength, size_t maxBytes) const;
    // Writes a frame header and trailer and returns where its payload goes.
    uint8_t* appendFrame(uint8_t type, uint8_t command, uint8_t channel, uint8_t sub, size_t payloadLength);
    void appendFrame(uint8_t type, uint8_t command, uint8_t channel, uint8_t sub, const uint8_t* payload,
                     size_t payloadLength);

    const uint8_t* data() const { return buffer_.data(); }
    size_t size() const { return size_; }
    void clear() { size_ = 0; }

private:
    std::vector<uint8_t> buffer_;
    size_t size_ = 0;
};

} // namespace vcisim
