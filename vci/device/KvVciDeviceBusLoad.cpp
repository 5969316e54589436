#include "vci/device/KvVciDeviceBusLoad.h"

#include <algorithm>
#include <cstring>

KvVciDeviceBusLoad::KvVciDeviceBusLoad(int canChannelCount, QObject* parent)
    : QObject(parent), channels_(static_cast<std::size_t>(canChannelCount < 1 ? 2 : canChannelCount)) {}

KvVciDeviceBusLoad::~KvVciDeviceBusLoad() = default;

void KvVciDeviceBusLoad::storeReport(const _KvVciProtocolData& record) {
    {
        std::lock_guard<std::mutex> lock(reportMutex_);
        reportLength_ = record.length;
        // A record holds at most 122 payload bytes, so only a corrupt length is cut here.
        if (record.length == 0 || record.length > kMaxReportBytes) {
            return;
        }
        const std::size_t copied = std::min<std::size_t>(record.length, kVciMaxPayload);
        std::memcpy(report_, record.payload, copied);
    }
    newReport_.exchange(true, std::memory_order_acq_rel);
}

bool KvVciDeviceBusLoad::takeReport(std::vector<std::uint8_t>& out) {
    if (!newReport_.exchange(false, std::memory_order_acq_rel)) {
        return false;
    }
    std::lock_guard<std::mutex> lock(reportMutex_);
    const std::size_t length = std::min<std::size_t>(reportLength_, kVciMaxPayload);
    out.assign(report_, report_ + length);
    return true;
}

std::uint16_t KvVciDeviceBusLoad::reportLength() const {
    std::lock_guard<std::mutex> lock(reportMutex_);
    return reportLength_;
}
