// Counts of what the program read: records per channel and per CAN identifier, and
// the samples that file saving writes as CSV lines.
#pragma once

#include "zxcollector_api.h"

#include "ZxIdMapping.h"

#include <cstdint>
#include <map>
#include <utility>
#include <vector>

class ZxCollectStatistics {
public:
    using ChannelAndId = std::pair<std::uint32_t, std::uint32_t>;

    ZxCollectStatistics(const ZxIdMapping& mapping, const std::vector<std::uint32_t>& channels);

    // One batch that ZxReadBuffer gave for the channel at slot (index into channels).
    // With saving on, the values of CH1..CH6 that carry a measurement count as saved
    // samples of mapped identifiers: exactly the lines the CSV writers produce.
    void add(std::size_t slot, const ZxCollectData* records, std::int32_t count, bool saving);

    std::uint64_t recordsOf(std::size_t slot) const { return recordsPerSlot_[slot]; }
    std::uint64_t totalRecords() const;
    std::uint64_t samplesSaved() const { return samplesSaved_; }
    // Records per (channel, CAN identifier), in ascending order.
    const std::map<ChannelAndId, std::uint64_t>& perIdentifier() const { return perIdentifier_; }

private:
    // CSV files hold the first six values of a record (channels CH1..CH6).
    static constexpr int kSavedValues = 6;

    const ZxIdMapping& mapping_;
    std::vector<std::uint32_t> channels_;
    std::vector<std::uint64_t> recordsPerSlot_;
    std::map<ChannelAndId, std::uint64_t> perIdentifier_;
    std::uint64_t samplesSaved_ = 0;
};
