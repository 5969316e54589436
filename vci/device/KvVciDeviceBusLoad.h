// Keeps the latest bus-load report of a VCI box as raw bytes, with a flag telling a
// reader that a new one has arrived. The receive thread writes it.
#pragma once

#include "vci/device/KvVciProtocolTypes.h"

#include <QObject>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

class KvVciDeviceBusLoad : public QObject {
    Q_OBJECT
public:
    static constexpr std::size_t kMaxReportBytes = 512;

    struct ChannelLoad {
        std::uint32_t load = 0;
        std::uint32_t frames = 0;
        std::uint64_t timestamp = 0;
    };

    // canChannelCount below 1 gives a table of 2 channels.
    KvVciDeviceBusLoad(int canChannelCount, QObject* parent);
    ~KvVciDeviceBusLoad() override;

    // Keeps the record's payload (1..512 bytes) and raises the new-report flag; a
    // length of 0 or above 512 is recorded but keeps the earlier bytes.
    void storeReport(const _KvVciProtocolData& record);

    // Copies the latest report into out and lowers the flag; false when no new report
    // arrived since the last take.
    bool takeReport(std::vector<std::uint8_t>& out);
    bool hasNewReport() const { return newReport_.load(std::memory_order_acquire); }
    std::uint16_t reportLength() const;
    const std::vector<ChannelLoad>& channelTable() const { return channels_; }

private:
    mutable std::mutex reportMutex_; // guards reportLength_ and report_
    std::uint16_t reportLength_ = 0;
    std::uint8_t report_[kMaxReportBytes] = {};
    std::atomic<bool> newReport_{false};
    std::vector<ChannelLoad> channels_;
};
