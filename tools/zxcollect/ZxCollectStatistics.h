// Counts of what the program read: records per device channel and per CAN identifier,
// and the samples that file saving writes as CSV lines.
#pragma once

#include "zxcollector_api.h"

#include "ZxIdMapping.h"

#include <cstdint>
#include <map>
#include <tuple>
#include <vector>

// One channel of one box that the program reads.
struct ZxSlot {
    std::uint32_t device = 0;
    std::uint32_t channel = 0;
};

class ZxCollectStatistics {
public:
    // (device, channel, CAN identifier)
    using SlotAndId = std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>;

    ZxCollectStatistics(const ZxIdMapping& mapping, const std::vector<ZxSlot>& slots);

    // One batch that ZxReadBuffer gave for the slot at index slot (into slots).
    // With saving on, the values of CH1..CH6 that carry a measurement count as saved
    // samples of mapped identifiers: exactly the lines the CSV writers produce.
    void add(std::size_t slot, const ZxCollectData* records, std::int32_t count, bool saving);

    std::uint64_t recordsOf(std::size_t slot) const { return recordsPerSlot_[slot]; }
    std::uint64_t samplesSavedOf(std::size_t slot) const { return samplesPerSlot_[slot]; }
    std::uint64_t totalRecords() const;
    std::uint64_t samplesSaved() const;
    // Records per (device, channel, CAN identifier), in ascending order.
    const std::map<SlotAndId, std::uint64_t>& perIdentifier() const { return perIdentifier_; }

private:
    // CSV files hold the first six values of a record (channels CH1..CH6).
    static constexpr int kSavedValues = 6;

    const ZxIdMapping& mapping_;
    std::vector<ZxSlot> slots_;
    std::vector<std::uint64_t> recordsPerSlot_;
    std::vector<std::uint64_t> samplesPerSlot_;
    std::map<SlotAndId, std::uint64_t> perIdentifier_;
};
