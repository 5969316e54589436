#include "ZxCollectStatistics.h"

ZxCollectStatistics::ZxCollectStatistics(const ZxIdMapping& mapping,
                                         const std::vector<std::uint32_t>& channels)
    : mapping_(mapping), channels_(channels), recordsPerSlot_(channels.size(), 0) {}

void ZxCollectStatistics::add(std::size_t slot, const ZxCollectData* records, std::int32_t count,
                              bool saving) {
    recordsPerSlot_[slot] += static_cast<std::uint64_t>(count);
    const std::uint32_t channel = channels_[slot];
    // Modules send runs of frames with the same identifier; remember the last counter
    // so that most records cost no map lookup.
    std::uint64_t* counter = nullptr;
    std::uint32_t counterId = 0;
    bool mapped = false;
    for (std::int32_t i = 0; i < count; ++i) {
        const ZxCollectData& record = records[i];
        if (counter == nullptr || record.canId != counterId) {
            counterId = record.canId;
            counter = &perIdentifier_[{channel, counterId}];
            mapped = saving && mapping_.isMapped(counterId);
        }
        ++*counter;
        if (mapped) {
            for (int k = 0; k < kSavedValues; ++k) {
                samplesSaved_ += record.values[k] != ZX_NO_VALUE ? 1 : 0;
            }
        }
    }
}

std::uint64_t ZxCollectStatistics::totalRecords() const {
    std::uint64_t total = 0;
    for (std::uint64_t records : recordsPerSlot_) {
        total += records;
    }
    return total;
}
