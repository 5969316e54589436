#include "ZxCollectStatistics.h"

#include <numeric>

ZxCollectStatistics::ZxCollectStatistics(const ZxIdMapping& mapping, const std::vector<ZxSlot>& slots)
    : mapping_(mapping), slots_(slots), recordsPerSlot_(slots.size(), 0), samplesPerSlot_(slots.size(), 0) {}

void ZxCollectStatistics::add(std::size_t slot, const ZxCollectData* records, std::int32_t count,
                              bool saving) {
    recordsPerSlot_[slot] += static_cast<std::uint64_t>(count);
    const ZxSlot& where = slots_[slot];
    std::uint64_t& samples = samplesPerSlot_[slot];
    // Modules send runs of frames with the same identifier; remember the last counter
    // so that most records cost no map lookup.
    std::uint64_t* counter = nullptr;
    std::uint32_t counterId = 0;
    bool mapped = false;
    for (std::int32_t i = 0; i < count; ++i) {
        const ZxCollectData& record = records[i];
        if (counter == nullptr || record.canId != counterId) {
            counterId = record.canId;
            counter = &perIdentifier_[{where.device, where.channel, counterId}];
            mapped = saving && mapping_.isMapped(counterId);
        }
        ++*counter;
        if (mapped) {
            for (int k = 0; k < kSavedValues; ++k) {
                samples += record.values[k] != ZX_NO_VALUE ? 1 : 0;
            }
        }
    }
}

std::uint64_t ZxCollectStatistics::totalRecords() const {
    return std::accumulate(recordsPerSlot_.begin(), recordsPerSlot_.end(), std::uint64_t{0});
}

std::uint64_t ZxCollectStatistics::samplesSaved() const {
    return std::accumulate(samplesPerSlot_.begin(), samplesPerSlot_.end(), std::uint64_t{0});
}
