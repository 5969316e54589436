// The hand-off from the reading loop to the live page: per channel and CAN identifier,
// the record count, the latest values and the smallest and largest of each measurement
// value since the page last took them. Its size depends on the identifiers seen (at most
// kMaxIdentifiers per channel), never on the rate, and the reading loop never waits for
// the page: it only tries the lock, and keeps adding to its own copy while the page holds it.
#pragma once

#include "zxcollector_api.h"

#include "ZxCollectStatistics.h"

#include <chrono>
#include <cstdint>
#include <mutex>
#include <vector>

class ZxLiveFeed {
public:
    using Clock = std::chrono::steady_clock;
    // The values the CSV files hold (CH1..CH6).
    static constexpr int kValues = 6;
    // Identifiers beyond this many on one channel are counted, not shown.
    static constexpr std::size_t kMaxIdentifiers = 64;

    // One identifier on one channel. An empty bucket of value k has min > max.
    struct Series {
        std::uint32_t canId = 0;
        std::uint64_t records = 0;
        std::uint32_t bucketRecords = 0;
        std::int32_t last[kValues] = {};
        std::int32_t min[kValues] = {};
        std::int32_t max[kValues] = {};
        // For the mean: the sum and number of the bucket's values that are not ZX_NO_VALUE.
        double sum[kValues] = {};
        std::uint32_t valued[kValues] = {};
        char timestamp[32] = {};
    };
    struct Snapshot {
        std::vector<std::vector<Series>> series; // per slot
        std::vector<std::uint64_t> records;      // per slot
        std::vector<std::uint64_t> samplesSaved; // per slot
        std::uint64_t unshownIdentifiers = 0;
    };

    explicit ZxLiveFeed(std::size_t slots);

    // The reading loop's side: one batch of the slot's records, then offer() once per pass.
    void add(std::size_t slot, const ZxCollectData* records, std::int32_t count);
    void offer(Clock::time_point now, const ZxCollectStatistics& statistics);
    // At the end of reading: hands everything over, waiting for the lock if need be.
    void offerLast(const ZxCollectStatistics& statistics);

    // The page's side: what was offered since the last take; the buckets start again.
    void take(Snapshot& into);

private:
    // The reading loop hands over at most this often; the page draws 10 times a second.
    static constexpr std::chrono::milliseconds kOfferInterval{20};

    void handOver(const ZxCollectStatistics& statistics);
    static void startBucket(Series& series);
    static void mergeInto(Series& shared, const Series& local);
    Series* seriesOf(std::vector<Series>& table, std::uint32_t canId);

    // The reading loop's own copy: no lock.
    Snapshot local_;
    Clock::time_point nextOffer_{};
    std::mutex mutex_; // guards shared_
    Snapshot shared_;
};
