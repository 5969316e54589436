#include "vci/transport/KvVciLossCounters.h"

#include "api/common/ZxLog.h"

#include <chrono>

namespace {

constexpr std::int64_t kReportIntervalNs = 1000000000; // one line per second at most

std::int64_t steadyNowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

KvVciLossSnapshot KvVciLossCounters::snapshot() const {
    KvVciLossSnapshot counts;
    counts.kernelDroppedDatagrams = kernelDroppedDatagrams_.load(std::memory_order_relaxed);
    counts.oversizedFrames = oversizedFrames_.load(std::memory_order_relaxed);
    counts.abnormalDataFrames = abnormalDataFrames_.load(std::memory_order_relaxed);
    counts.unbufferedFrames = unbufferedFrames_.load(std::memory_order_relaxed);
    counts.overflowDiscardedBytes = overflowDiscardedBytes_.load(std::memory_order_relaxed);
    counts.truncatedDatagrams = truncatedDatagrams_.load(std::memory_order_relaxed);
    counts.gapDiscardedBytes = gapDiscardedBytes_.load(std::memory_order_relaxed);
    counts.receiveErrors = receiveErrors_.load(std::memory_order_relaxed);
    return counts;
}

void KvVciLossCounters::reportIfDue(const std::string& deviceTag) {
    const KvVciLossSnapshot counts = snapshot();
    const std::uint64_t total = counts.total();
    if (total == reportedTotal_.load(std::memory_order_relaxed)) {
        return;
    }
    const std::int64_t now = steadyNowNs();
    std::int64_t last = lastReportNs_.load(std::memory_order_relaxed);
    if (last != 0 && now - last < kReportIntervalNs) {
        return;
    }
    // Several threads may find a report due; only the one that claims the slot writes it.
    if (!lastReportNs_.compare_exchange_strong(last, now, std::memory_order_relaxed)) {
        return;
    }
    reportedTotal_.store(total, std::memory_order_relaxed);
    zxLog(ZxLevel::Warning,
          "Device{} link dropped {} datagrams in the kernel, {} oversized frames, {} abnormal data frames, "
          "{} frames without a channel buffer, {} carried-over bytes on overflow, {} datagrams cut short, "
          "{} carried-over bytes after a gap, {} receive errors",
          deviceTag, counts.kernelDroppedDatagrams, counts.oversizedFrames, counts.abnormalDataFrames,
          counts.unbufferedFrames, counts.overflowDiscardedBytes, counts.truncatedDatagrams,
          counts.gapDiscardedBytes, counts.receiveErrors);
}

void KvVciLossCounters::reportSummary(const std::string& deviceTag) const {
    const KvVciLossSnapshot counts = snapshot();
    zxLog(ZxLevel::Info,
          "Device{} link losses in total: {} datagrams dropped in the kernel, {} oversized frames, "
          "{} abnormal data frames, {} frames without a channel buffer, {} carried-over bytes on overflow, "
          "{} datagrams cut short, {} carried-over bytes after a gap, {} receive errors",
          deviceTag, counts.kernelDroppedDatagrams, counts.oversizedFrames, counts.abnormalDataFrames,
          counts.unbufferedFrames, counts.overflowDiscardedBytes, counts.truncatedDatagrams,
          counts.gapDiscardedBytes, counts.receiveErrors);
}
