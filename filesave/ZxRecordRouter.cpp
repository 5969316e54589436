#include "filesave/ZxRecordRouter.h"

#include "api/common/ZxLog.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <exception>

namespace {

ZxChannelDataPoint pointOf(const ZxCollectData& record) {
    ZxChannelDataPoint point;
    const void* end = std::memchr(record.timestamp, '\0', sizeof(record.timestamp));
    point.timestampLength = end != nullptr
                                ? static_cast<std::uint32_t>(static_cast<const char*>(end) - record.timestamp)
                                : ZxChannelDataPoint::kTimestampCapacity - 1;
    std::memcpy(point.timestamp, record.timestamp, point.timestampLength);
    point.timestamp[point.timestampLength] = '\0';
    point.value = 0;
    return point;
}

} // namespace

ZxRecordRouter::ZxRecordRouter(const std::string& rootDirectory, std::uint16_t maxFileSizeMB,
                               const ZxIdMappingTable& idMapping, std::size_t maxQueuedRecords)
    : maxQueuedRecords_(maxQueuedRecords), recordQueue_(0), nextWrite_(Clock::now() + kWriteInterval) {
    routes_.reserve(idMapping.size());
    for (const auto& [identifier, name] : idMapping) {
        Writers writers;
        for (int channel = 1; channel <= kChannelCount; ++channel) {
            writers[channel - 1] =
                std::make_unique<ZxChannelFileManager>(rootDirectory, channel, name, maxFileSizeMB);
        }
        routes_.emplace_back(identifier, std::move(writers));
    }
    std::sort(routes_.begin(), routes_.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    producerToken_ = std::make_unique<moodycamel::ProducerToken>(recordQueue_);
    consumerToken_ = std::make_unique<moodycamel::ConsumerToken>(recordQueue_);
}

void ZxRecordRouter::push(const ZxCollectData* records, std::size_t count) {
    std::size_t accepted = 0;
    {
        // Host threads taking turns at reading (LabVIEW, .NET and Python pools do) would
        // each get their own producer without this, and a pass empties one producer
        // before the next: the lines would step back in time.
        std::lock_guard<std::mutex> lock(pushMutex_);
        const std::size_t queued = recordQueue_.size_approx();
        const std::size_t room = queued < maxQueuedRecords_ ? maxQueuedRecords_ - queued : 0;
        accepted = std::min(count, room);
        if (accepted != 0 && !recordQueue_.enqueue_bulk(*producerToken_, records, accepted)) {
            accepted = 0;
        }
    }
    if (accepted < count) {
        reportQueueDrops(count - accepted);
    }
}

void ZxRecordRouter::reportQueueDrops(std::uint64_t count) {
    const std::uint64_t report = queueDrops_.add(count);
    if (report != 0) {
        zxLog(ZxLevel::Warning, "Dropped {} records for saving ({} in this save): {} records already wait",
              report, queueDrops_.total(), maxQueuedRecords_);
    }
}

ZxRecordRouter::Clock::time_point ZxRecordRouter::runPass(ZxFileSaveScratch& scratch) noexcept {
    const Clock::time_point begin = Clock::now();
    // What comes in meanwhile waits for the next pass, so a save whose disk is slower
    // than its input still gets to its 500 ms write and gives the thread back.
    const std::size_t queuedAtBegin = recordQueue_.size_approx();
    const std::size_t taken = drainQueue(scratch, queuedAtBegin, begin + kMaxPassTime);
    const bool leftBehind = taken < queuedAtBegin;
    const Clock::time_point now = Clock::now();
    if (now >= nextWrite_) {
        writeAll(scratch, ZxChannelFileManager::WriteMode::All);
        // A steady cadence: a late pass does not push the following writes later.
        nextWrite_ += kWriteInterval;
        if (nextWrite_ <= now) {
            nextWrite_ = now + kWriteInterval;
        }
    }
    if (leftBehind) {
        return now;
    }
    return taken >= kBusyRecords ? std::min(now + kBusyPassInterval, nextWrite_) : nextWrite_;
}

void ZxRecordRouter::finish(ZxFileSaveScratch& scratch) noexcept {
    drainQueue(scratch, SIZE_MAX, Clock::time_point::max());
    writeAll(scratch, ZxChannelFileManager::WriteMode::Final);
    const std::uint64_t unreported = queueDrops_.takeUnreported();
    if (unreported != 0) {
        zxLog(ZxLevel::Warning, "Dropped {} records for saving ({} in this save): {} records already wait",
              unreported, queueDrops_.total(), maxQueuedRecords_);
    }
}

std::size_t ZxRecordRouter::drainQueue(ZxFileSaveScratch& scratch, std::size_t limit,
                                       Clock::time_point deadline) {
    std::size_t total = 0;
    while (total < limit && Clock::now() < deadline) {
        const std::size_t taken = recordQueue_.try_dequeue_bulk(
            *consumerToken_, scratch.batch.get(), std::min(ZxFileSaveScratch::kBatchRecords, limit - total));
        if (taken == 0) {
            return total;
        }
        total += taken;
        try {
            routeBatch(scratch.batch.get(), taken);
        } catch (const std::exception& e) {
            // Points of this batch may be missing from some files; the files go on.
            recordsLost_ += taken;
            zxLog(ZxLevel::Error, "Failed to route {} records for saving ({} in this save): {}", taken,
                  recordsLost_, e.what());
        } catch (...) {
            recordsLost_ += taken;
            zxLog(ZxLevel::Error, "Failed to route {} records for saving ({} in this save)", taken,
                  recordsLost_);
        }
        // Writers with a whole chunk write it now, so the points of one batch are all a
        // busy save holds between passes.
        writeAll(scratch, ZxChannelFileManager::WriteMode::FullChunks);
    }
    return total;
}

void ZxRecordRouter::routeBatch(const ZxCollectData* records, std::size_t count) {
    Writers* writers = nullptr;
    std::uint32_t routeId = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const ZxCollectData& record = records[i];
        if (writers == nullptr || routeId != record.canId) {
            const auto found = std::lower_bound(routes_.begin(), routes_.end(), record.canId,
                                                [](const std::pair<std::uint32_t, Writers>& entry,
                                                   std::uint32_t id) { return entry.first < id; });
            if (found == routes_.end() || found->first != record.canId) {
                writers = nullptr;
                continue; // not mapped: not saved
            }
            writers = &found->second;
            routeId = record.canId;
        }
        ZxChannelDataPoint point = pointOf(record);
        for (int k = 0; k < kChannelCount; ++k) {
            point.value = record.values[k];
            (*writers)[k]->pushPoint(point);
        }
    }
}

void ZxRecordRouter::writeAll(ZxFileSaveScratch& scratch, ZxChannelFileManager::WriteMode mode) {
    for (auto& [identifier, writers] : routes_) {
        for (int k = 0; k < kChannelCount; ++k) {
            try {
                writers[k]->writePending(scratch, mode);
            } catch (const std::exception& e) {
                // Its points stay queued for the next pass (or are discarded at stop).
                zxLog(ZxLevel::Error, "Failed to write CH{} of CAN ID 0x{:03X}: {}", k + 1, identifier,
                      e.what());
            } catch (...) {
                zxLog(ZxLevel::Error, "Failed to write CH{} of CAN ID 0x{:03X}", k + 1, identifier);
            }
        }
    }
}
