// Finds box frames in a stream of datagrams: carries unfinished bytes over to the
// next datagram, resynchronises on the 55 AA pair and hands complete frames on as
// records, at most 32 per call. Knows no sockets; one scanner per receive thread.
#pragma once

#include "vci/device/KvVciProtocolTypes.h"
#include "vci/transport/KvVciLossCounters.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class KvVciFrameScanner {
public:
    using BatchCallback = std::function<void(const std::vector<_KvVciProtocolData>&)>;

    static constexpr std::size_t kProtocolBufferSize = 8193;
    static constexpr std::size_t kMaxBatch = 32;

    KvVciFrameScanner(const std::string& deviceTag, KvVciLossCounters& lossCounters);

    // Scans one datagram behind the carried-over bytes. Every complete frame becomes a
    // record; the records go to deliver (when set) in batches, the last one before
    // this call returns. Allocates nothing.
    void feed(const std::uint8_t* datagram, std::size_t length, const BatchCallback& deliver);

    // Drops the carried-over bytes (counted as a gap discard): the datagrams that
    // would have completed them were lost, and the stream has no checksum to tell a
    // frame spliced from two others.
    void discardCarried();

    // Bytes kept for the next datagram (an unfinished frame or up to 8 stray bytes).
    std::size_t carried() const { return carried_; }

private:
    // Scans area[0, total) and returns the position of the first byte not consumed.
    std::size_t scan(const std::uint8_t* area, std::size_t total, const BatchCallback& deliver);
    void flush(const BatchCallback& deliver);

    const std::string& deviceTag_;
    KvVciLossCounters& lossCounters_;
    std::array<std::uint8_t, kProtocolBufferSize> protocolBuffer_;
    std::size_t carried_ = 0;
    std::vector<_KvVciProtocolData> batch_;
};
