// Packs the box's outgoing frames (55 AA ...) into one datagram buffer that is
// allocated once and reused, optionally with garbage bytes before every frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vcisim {

class SimDatagramWriter {
public:
    explicit SimDatagramWriter(size_t capacityBytes);

    // Room left for a frame with this payload (garbage included) under maxBytes.
    bool fits(size_t payloadLength, size_t maxBytes) const;
    // Writes a frame header and trailer and returns where its payload goes.
    uint8_t* appendFrame(uint8_t type, uint8_t command, uint8_t channel, uint8_t sub, size_t payloadLength);
    void appendFrame(uint8_t type, uint8_t command, uint8_t channel, uint8_t sub, const uint8_t* payload,
                     size_t payloadLength);
    void setGarbageBytes(uint32_t count) { garbageBytes_ = count; }

    const uint8_t* data() const { return buffer_.data(); }
    size_t size() const { return size_; }
    size_t frameCount() const { return frames_; }
    // Offset and length of the last frame, where a split datagram is cut.
    size_t lastFrameOffset() const { return lastFrameOffset_; }
    size_t lastFrameLength() const { return size_ - lastFrameOffset_; }
    void clear();

    // A single frame as a byte vector (for replies and injected datagrams).
    static std::vector<uint8_t> frame(uint8_t type, uint8_t command, uint8_t channel, uint8_t sub,
                                      const uint8_t* payload, size_t payloadLength);

private:
    std::vector<uint8_t> buffer_;
    size_t size_ = 0;
    size_t frames_ = 0;
    size_t lastFrameOffset_ = 0;
    uint32_t garbageBytes_ = 0;
    uint32_t garbageSeed_ = 0x2545F491u;
};

} // namespace vcisim
