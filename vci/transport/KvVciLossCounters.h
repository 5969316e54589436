// Counts everything the link drops, so that no loss is silent: datagrams the kernel
// dropped, frames with an impossible length, frames for a channel without a buffer,
// carried-over bytes discarded on overflow or after a gap in the stream, datagrams
// cut short, receive errors. Counters are bumped on the receive thread
// and read anywhere; the report lines are rate-limited to one per second.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

struct KvVciLossSnapshot {
    std::uint64_t kernelDroppedDatagrams = 0; // the socket's receive buffer overflowed
    std::uint64_t oversizedFrames = 0;        // length field above what a record holds
    std::uint64_t abnormalDataFrames = 0;     // CAN/LIN data frame with an impossible size
    std::uint64_t unbufferedFrames = 0;       // frame for a channel without a buffer
    std::uint64_t overflowDiscardedBytes = 0; // carried-over bytes dropped on overflow
    std::uint64_t truncatedDatagrams = 0;     // longer than the receive buffer, the rest lost
    std::uint64_t gapDiscardedBytes = 0;      // carried-over bytes dropped after a gap
    std::uint64_t receiveErrors = 0;          // failed receives that did not end the link
    std::uint64_t total() const {
        return kernelDroppedDatagrams + oversizedFrames + abnormalDataFrames + unbufferedFrames +
               overflowDiscardedBytes + truncatedDatagrams + gapDiscardedBytes + receiveErrors;
    }
};

class KvVciLossCounters {
public:
    void addKernelDrops(std::uint64_t n) { kernelDroppedDatagrams_.fetch_add(n, std::memory_order_relaxed); }
    void addOversizedFrame() { oversizedFrames_.fetch_add(1, std::memory_order_relaxed); }
    void addAbnormalDataFrame() { abnormalDataFrames_.fetch_add(1, std::memory_order_relaxed); }
    void addUnbufferedFrame() { unbufferedFrames_.fetch_add(1, std::memory_order_relaxed); }
    void addOverflowDiscard(std::uint64_t bytes) {
        overflowDiscardedBytes_.fetch_add(bytes, std::memory_order_relaxed);
    }

    void addTruncatedDatagram() { truncatedDatagrams_.fetch_add(1, std::memory_order_relaxed); }
    void addGapDiscard(std::uint64_t bytes) {
        gapDiscardedBytes_.fetch_add(bytes, std::memory_order_relaxed);
    }
    void addReceiveError() { receiveErrors_.fetch_add(1, std::memory_order_relaxed); }

    KvVciLossSnapshot snapshot() const;
    // Logs "Device{} dropped ..." at level 2 when something was dropped since the last
    // report and the last report is at least one second old. Cheap when nothing changed.
    void reportIfDue(const std::string& deviceTag);
    // Logs the totals at level 1 (called when the device closes).
    void reportSummary(const std::string& deviceTag) const;

private:
    std::atomic<std::uint64_t> kernelDroppedDatagrams_{0};
    std::atomic<std::uint64_t> oversizedFrames_{0};
    std::atomic<std::uint64_t> abnormalDataFrames_{0};
    std::atomic<std::uint64_t> unbufferedFrames_{0};
    std::atomic<std::uint64_t> overflowDiscardedBytes_{0};
    std::atomic<std::uint64_t> truncatedDatagrams_{0};
    std::atomic<std::uint64_t> gapDiscardedBytes_{0};
    std::atomic<std::uint64_t> receiveErrors_{0};
    std::atomic<std::uint64_t> reportedTotal_{0};
    std::atomic<std::int64_t> lastReportNs_{0};
};
