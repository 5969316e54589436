// The file saving of one collector reader: takes the records the host reads, from any
// thread without blocking, and has the process's file saving threads (ZxFileSavePool)
// route each record's six channel values to the CSV writer of its CAN identifier and
// channel.
#pragma once

#include "filesave/ZxIdMappingParser.h"
#include "zxcollector_api.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

class ZxFileSavePool;
class ZxRecordRouter;

class ZxCollectorFileManager {
public:
    // Measurement channels CH1..CH6 are the first six values of a record.
    static constexpr int kChannelCount = 6;
    static constexpr std::uint16_t kDefaultFileSizeMB = 10;

    // At most 1,048,576 records wait to be routed (ZxRecordRouter::kMaxQueuedRecords);
    // a test gives a smaller bound.
    ZxCollectorFileManager();
    explicit ZxCollectorFileManager(std::size_t maxQueuedRecords);
    // Stops as stop() does when still running; every file is closed on return.
    ~ZxCollectorFileManager();

    ZxCollectorFileManager(const ZxCollectorFileManager&) = delete;
    ZxCollectorFileManager& operator=(const ZxCollectorFileManager&) = delete;

    // Refused with a level-2 message while running. A size of 0 is stored as 10.
    void setFileInfo(const std::string& rootDirectory, std::uint16_t maxFileSizeMB);
    // Refused with a level-2 message while running. The table is copied.
    void setIdMapping(const ZxIdMappingTable& idMapping);

    // Creates the six channel writers of every mapped identifier and hands them to the
    // file saving threads. ZX_OK, ZX_ERR_SAVE_NOT_CONFIGURED (root directory or mapping
    // table empty), ZX_ERR_FILE_MANAGER_RUNNING, ZX_ERR_FILE_WRITER_CREATE or
    // ZX_ERR_SAVE_EXCEPTION (the threads could not be started).
    std::int32_t start();
    // Writes every record pushed before it on the calling thread (any thread; it takes
    // no lock outside file saving), then closes every file. Blocks until done.
    // ZX_OK or ZX_ERR_FILE_MANAGER_STOPPED.
    std::int32_t stop();
    // Copies count records into the queue; never blocks on file output. A push that
    // returns ZX_OK is written completely, even when stop() runs on another thread,
    // except records beyond the queue's bound, which are dropped and reported.
    // ZX_ERR_FILE_MANAGER_STOPPED when not running.
    std::int32_t pushData(const ZxCollectData* records, std::size_t count);

    bool isRunning() const { return running_.load(); }

private:
    // The steps of start, under configMutex_: the check that logs a second start, the
    // writers of every mapped identifier (null on failure, logged), and handing them to
    // the saving threads (false on failure, logged).
    bool alreadyRunning() const;
    std::shared_ptr<ZxRecordRouter> createWriters() const;
    bool startSaving(std::shared_ptr<ZxRecordRouter> router);

    const std::size_t maxQueuedRecords_;

    // configMutex_ guards rootDirectory_, maxFileSizeMB_ and idMapping_, and makes
    // start and stop one at a time.
    std::mutex configMutex_;
    std::string rootDirectory_;
    std::uint16_t maxFileSizeMB_ = kDefaultFileSizeMB;
    ZxIdMappingTable idMapping_;

    // Set by start before running_ becomes true; reset by stop after running_ became
    // false and the last push ended. pushData uses router_ only in between.
    std::shared_ptr<ZxFileSavePool> pool_;
    std::shared_ptr<ZxRecordRouter> router_;

    std::atomic<bool> running_{false};
    // pushData calls between their running check and the end of their enqueue; stop
    // waits for them so that no accepted record misses the final pass.
    std::atomic<int> pushesInFlight_{0};
};
