// One running save of a collector reader: the queue of the records the host has read,
// and the CSV writers of every mapped identifier and measurement channel. A pass (by a
// pool thread, or at stop by the stopping thread) takes the queued records, splits
// each into its six channel values for the writers of its identifier and has them
// write: whole chunks at once, everything else at least every 500 ms. The records keep
// the one order in which they were pushed, whichever host thread pushed them, and a
// pass takes at most what was queued when it began, so a save whose disk is slower
// than its input still reaches its 500 ms write and lets the other saves have a turn.
#pragma once

#include "filesave/ZxChannelFileManager.h"
#include "filesave/ZxDropReport.h"
#include "filesave/ZxFileSaveQueueTraits.h"
#include "filesave/ZxFileSaveScratch.h"
#include "filesave/ZxIdMappingParser.h"
#include "zxcollector_api.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

class ZxRecordRouter {
public:
    using Clock = std::chrono::steady_clock;

    static constexpr int kChannelCount = 6;
    // Records waiting in the queue at most: 1,048,576 records (72 MiB), several seconds
    // of the fastest box. A disk slower than that loses the newest records, counted.
    static constexpr std::size_t kMaxQueuedRecords = std::size_t{1} << 20;
    // Every file gets its pending lines this often.
    static constexpr std::chrono::milliseconds kWriteInterval{500};
    // A router that took kBusyRecords or more in a pass is passed again after
    // kBusyPassInterval; a quieter one at its next write. One that left records behind
    // (its pass ended at its bound) is due again at once, behind the saves already due.
    static constexpr std::chrono::milliseconds kBusyPassInterval{100};
    static constexpr std::size_t kBusyRecords = 2000;
    // A pass takes at most the records queued when it began, and stops taking more
    // batches after this long.
    static constexpr std::chrono::milliseconds kMaxPassTime{200};

    // Creates the six writers of every mapped identifier (no file yet). Throws what
    // their creation throws.
    ZxRecordRouter(const std::string& rootDirectory, std::uint16_t maxFileSizeMB,
                   const ZxIdMappingTable& idMapping, std::size_t maxQueuedRecords = kMaxQueuedRecords);
    ZxRecordRouter(const ZxRecordRouter&) = delete;
    ZxRecordRouter& operator=(const ZxRecordRouter&) = delete;

    std::size_t writerCount() const { return routes_.size() * kChannelCount; }

    // From any host thread, never waiting for file output: queues the records that fit
    // below the bound behind those of earlier pushes (of any thread); the rest is dropped
    // and counted. Pushes take turns only among themselves, for the length of a copy.
    void push(const ZxCollectData* records, std::size_t count);

    // Routes what was queued when it began (within kMaxPassTime) and writes what is
    // due. One caller at a time; never throws. Returns when the next pass is due.
    Clock::time_point runPass(ZxFileSaveScratch& scratch) noexcept;
    // The last pass, after the last push: routes and writes everything, closes every
    // file and reports what was dropped. Never throws.
    void finish(ZxFileSaveScratch& scratch) noexcept;

private:
    using Writers = std::array<std::unique_ptr<ZxChannelFileManager>, kChannelCount>;

    // Takes batches, routing each, until the queue is empty or limit records were taken
    // or the deadline passed; returns the records taken.
    std::size_t drainQueue(ZxFileSaveScratch& scratch, std::size_t limit, Clock::time_point deadline);
    void routeBatch(const ZxCollectData* records, std::size_t count);
    // Every writer writes in mode; a writer's fault is logged and does not stop the others.
    void writeAll(ZxFileSaveScratch& scratch, ZxChannelFileManager::WriteMode mode);
    void reportQueueDrops(std::uint64_t count);

    std::vector<std::pair<std::uint32_t, Writers>> routes_; // sorted by identifier
    const std::size_t maxQueuedRecords_;

    ZxFileSaveQueue<ZxCollectData> recordQueue_;
    ZxDropReport queueDrops_;
    // One producer for every pushing thread (a queue keeps order only per producer);
    // pushMutex_ guards producerToken_.
    std::mutex pushMutex_;
    std::unique_ptr<moodycamel::ProducerToken> producerToken_;

    // Used only by the one thread passing.
    std::unique_ptr<moodycamel::ConsumerToken> consumerToken_;
    Clock::time_point nextWrite_;
    std::uint64_t recordsLost_ = 0; // taken from the queue but not routed (an error)
};
