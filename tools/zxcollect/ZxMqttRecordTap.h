// The hand-over of every record for --mqtt-records: the reading loop appends each batch
// to its own list and hands the list over with a lock it only tries, like ZxLiveFeed.
// Both lists are bounded: what does not fit is counted as not published (the files still
// get every record), so a publisher that falls behind costs memory up to the bound only.
#pragma once

#include "zxcollector_api.h"

#include <cstdint>
#include <mutex>
#include <vector>

class ZxMqttRecordTap {
public:
    struct Entry {
        std::uint32_t slot = 0;
        ZxCollectData record{};
    };

    // capacity: records held on each side of the hand-over.
    explicit ZxMqttRecordTap(std::size_t capacity);

    // The reading loop's side.
    void add(std::size_t slot, const ZxCollectData* records, std::int32_t count);
    void offer();
    // At the end of reading: hands everything over, waiting for the lock if need be.
    void offerLast();

    // The publisher's side: the records handed over since the last take, and how many
    // records in all never reached the publisher.
    void take(std::vector<Entry>& into, std::uint64_t& unpublished);

private:
    void handOver();

    const std::size_t capacity_;
    std::vector<Entry> local_;
    std::uint64_t localDropped_ = 0;
    std::mutex mutex_; // guards shared_ and dropped_
    std::vector<Entry> shared_;
    std::uint64_t dropped_ = 0;
};
