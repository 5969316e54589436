#include "ZxLiveFeed.h"

#include <algorithm>
#include <cstring>
#include <limits>

ZxLiveFeed::ZxLiveFeed(std::size_t slots) {
    for (Snapshot* snapshot : {&local_, &shared_}) {
        snapshot->series.resize(slots);
        snapshot->records.assign(slots, 0);
        snapshot->samplesSaved.assign(slots, 0);
        for (std::vector<Series>& table : snapshot->series) {
            table.reserve(kMaxIdentifiers);
        }
    }
}

void ZxLiveFeed::startBucket(Series& series) {
    series.bucketRecords = 0;
    std::fill(std::begin(series.min), std::end(series.min), std::numeric_limits<std::int32_t>::max());
    std::fill(std::begin(series.max), std::end(series.max), std::numeric_limits<std::int32_t>::min());
    std::fill(std::begin(series.sum), std::end(series.sum), 0.0);
    std::fill(std::begin(series.valued), std::end(series.valued), 0U);
}

ZxLiveFeed::Series* ZxLiveFeed::seriesOf(std::vector<Series>& table, std::uint32_t canId) {
    for (Series& series : table) {
        if (series.canId == canId) {
            return &series;
        }
    }
    if (table.size() == kMaxIdentifiers) {
        return nullptr;
    }
    Series& added = table.emplace_back();
    added.canId = canId;
    startBucket(added);
    return &added;
}

void ZxLiveFeed::add(std::size_t slot, const ZxCollectData* records, std::int32_t count) {
    std::vector<Series>& table = local_.series[slot];
    // Modules send runs of one identifier: most records need no search.
    Series* series = nullptr;
    for (std::int32_t i = 0; i < count; ++i) {
        const ZxCollectData& record = records[i];
        if (series == nullptr || series->canId != record.canId) {
            series = seriesOf(table, record.canId);
            if (series == nullptr) {
                ++local_.unshownIdentifiers;
                continue;
            }
        }
        ++series->records;
        ++series->bucketRecords;
        for (int k = 0; k < kValues; ++k) {
            const std::int32_t value = record.values[k];
            series->last[k] = value;
            if (value != ZX_NO_VALUE) {
                series->min[k] = std::min(series->min[k], value);
                series->max[k] = std::max(series->max[k], value);
                series->sum[k] += value;
                ++series->valued[k];
            }
        }
        std::memcpy(series->timestamp, record.timestamp, sizeof series->timestamp);
    }
}

void ZxLiveFeed::mergeInto(Series& shared, const Series& local) {
    shared.records = local.records;
    if (local.bucketRecords == 0) {
        return;
    }
    shared.bucketRecords += local.bucketRecords;
    for (int k = 0; k < kValues; ++k) {
        shared.last[k] = local.last[k];
        shared.min[k] = std::min(shared.min[k], local.min[k]);
        shared.max[k] = std::max(shared.max[k], local.max[k]);
        shared.sum[k] += local.sum[k];
        shared.valued[k] += local.valued[k];
    }
    std::memcpy(shared.timestamp, local.timestamp, sizeof shared.timestamp);
}

void ZxLiveFeed::offer(Clock::time_point now, const ZxCollectStatistics& statistics) {
    if (now < nextOffer_) {
        return;
    }
    std::unique_lock lock(mutex_, std::try_to_lock);
    if (!lock.owns_lock()) {
        return; // the page is taking; the next pass hands this over with more
    }
    nextOffer_ = now + kOfferInterval;
    handOver(statistics);
}

void ZxLiveFeed::offerLast(const ZxCollectStatistics& statistics) {
    std::lock_guard lock(mutex_);
    handOver(statistics);
}

void ZxLiveFeed::handOver(const ZxCollectStatistics& statistics) {
    for (std::size_t slot = 0; slot < local_.series.size(); ++slot) {
        std::vector<Series>& mine = local_.series[slot];
        std::vector<Series>& theirs = shared_.series[slot];
        // Both tables only grow, in the same order.
        for (std::size_t i = 0; i < mine.size(); ++i) {
            if (i == theirs.size()) {
                theirs.push_back(mine[i]);
                startBucket(theirs.back());
            }
            mergeInto(theirs[i], mine[i]);
            startBucket(mine[i]);
        }
        shared_.records[slot] = statistics.recordsOf(slot);
        shared_.samplesSaved[slot] = statistics.samplesSavedOf(slot);
    }
    shared_.unshownIdentifiers = local_.unshownIdentifiers;
}

void ZxLiveFeed::take(Snapshot& into) {
    std::lock_guard lock(mutex_);
    into = shared_;
    for (std::vector<Series>& table : shared_.series) {
        for (Series& series : table) {
            startBucket(series);
        }
    }
}
