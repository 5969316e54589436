#include "vci/transport/KvVciFrameScanner.h"

#include "api/common/ZxLog.h"

#include <cstring>

namespace {

constexpr std::size_t kLengthOffset = 6; // little-endian payload length after sync and codes
constexpr std::size_t kRecordOffset = 2; // a record starts at the frame's type byte

} // namespace

KvVciFrameScanner::KvVciFrameScanner(const std::string& deviceTag, KvVciLossCounters& lossCounters)
    : deviceTag_(deviceTag), lossCounters_(lossCounters) {
    batch_.reserve(kMaxBatch);
}

void KvVciFrameScanner::feed(const std::uint8_t* datagram, std::size_t length, const BatchCallback& deliver) {
    const std::uint8_t* area = datagram;
    std::size_t total = length;
    if (carried_ + length <= kProtocolBufferSize) {
        if (carried_ > 0) {
            std::memcpy(protocolBuffer_.data() + carried_, datagram, length);
            area = protocolBuffer_.data();
            total = carried_ + length;
        }
    } else {
        zxLog(ZxLevel::Warning, "{} Protocol buffer overflow, clear buf", deviceTag_);
        lossCounters_.addOverflowDiscard(carried_);
        carried_ = 0;
    }

    const std::size_t consumed = scan(area, total, deliver);
    carried_ = total - consumed;
    if (carried_ > 0) {
        // A datagram scanned in place can leave more than fits: its tail is at most the
        // datagram itself, and the receive buffer is smaller than the protocol buffer.
        if (carried_ > kProtocolBufferSize) {
            lossCounters_.addOverflowDiscard(carried_);
            carried_ = 0;
        } else {
            std::memmove(protocolBuffer_.data(), area + consumed, carried_);
        }
    }
    flush(deliver);
}

void KvVciFrameScanner::discardCarried() {
    if (carried_ > 0) {
        lossCounters_.addGapDiscard(carried_);
        carried_ = 0;
    }
}

std::size_t KvVciFrameScanner::scan(const std::uint8_t* area, std::size_t total,
                                    const BatchCallback& deliver) {
    std::size_t p = 0;
    while (total - p >= kVciFrameOverhead) {
        if (area[p] != kVciBoxSync1 || area[p + 1] != kVciBoxSync2) {
            ++p;
            continue;
        }
        const std::size_t payloadLength = static_cast<std::size_t>(area[p + kLengthOffset]) |
                                          (static_cast<std::size_t>(area[p + kLengthOffset + 1]) << 8);
        if (payloadLength > kVciMaxPayload) {
            // Not a frame a record can hold, most likely a sync pair inside other bytes:
            // waiting for its length would stall the stream, so look again behind it.
            lossCounters_.addOversizedFrame();
            p += 2;
            continue;
        }
        const std::size_t frameLength = payloadLength + kVciFrameOverhead;
        if (total - p < frameLength) {
            break;
        }
        _KvVciProtocolData& record = batch_.emplace_back();
        std::memcpy(&record, area + p + kRecordOffset, frameLength - 3);
        p += frameLength;
        if (batch_.size() >= kMaxBatch) {
            flush(deliver);
        }
    }
    return p;
}

void KvVciFrameScanner::flush(const BatchCallback& deliver) {
    if (batch_.empty()) {
        return;
    }
    if (deliver) {
        deliver(batch_);
    }
    batch_.clear();
}
