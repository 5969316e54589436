// The file saving of one collector reader: takes the records the host reads, from any
// thread without blocking, and routes each record's six channel values to the CSV
// writer of its CAN identifier and channel.
#pragma once

#include "filesave/ZxChannelDataPoint.h"
#include "filesave/ZxFileSaveQueueTraits.h"
#include "filesave/ZxIdMappingParser.h"
#include "zxcollector_api.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class ZxChannelFileManager;

class ZxCollectorFileManager {
public:
    // Measurement channels CH1..CH6 are the first six values of a record.
    static constexpr int kChannelCount = 6;
    static constexpr std::uint16_t kDefaultFileSizeMB = 10;

    // Result codes (the values of the public header):
    //  ZX_OK                       start, stop, pushData done
    //  ZX_ERR_SAVE_NOT_CONFIGURED  start: root directory empty or mapping table empty (-2)
    //  ZX_ERR_FILE_MANAGER_RUNNING start: already running (-3)
    //  ZX_ERR_FILE_MANAGER_STOPPED stop, pushData: not running (-4)
    //  ZX_ERR_FILE_WRITER_CREATE   start: a channel file manager could not be created (-6)
    //  ZX_ERR_SAVE_EXCEPTION       start: the router thread could not be started (-99)

    ZxCollectorFileManager();
    // Stops as stop() does when still running; every file is closed on return.
    ~ZxCollectorFileManager();

    ZxCollectorFileManager(const ZxCollectorFileManager&) = delete;
    ZxCollectorFileManager& operator=(const ZxCollectorFileManager&) = delete;

    // Refused with a level-2 message while running. A size of 0 is stored as 10.
    void setFileInfo(const std::string& rootDirectory, std::uint16_t maxFileSizeMB);
    // Refused with a level-2 message while running. The table is copied.
    void setIdMapping(const ZxIdMappingTable& idMapping);

    // Creates the six channel writers of every mapped identifier, then the router.
    std::int32_t start();
    // Routes every record pushed before it, then closes every writer after it has
    // written all its points. Blocks until all threads have ended.
    std::int32_t stop();
    // Copies count records into the queue; never blocks on file output. A push that
    // returns ZX_OK is written completely, even when stop() runs on another thread.
    std::int32_t pushData(const ZxCollectData* records, std::size_t count);

    bool isRunning() const { return running_.load(); }

private:
    // The six writers of one mapped identifier and the points gathered for them
    // during one routing pass.
    struct IdentifierRoute {
        std::array<ZxChannelFileManager*, kChannelCount> writers{};
        std::array<std::vector<ZxChannelDataPoint>, kChannelCount> pending;
    };

    void routerThreadLoop();
    // Takes everything queued, batch after batch, until the queue is empty.
    void drainRecordQueue(std::vector<ZxCollectData>& batch, moodycamel::ConsumerToken& token);
    void routeBatch(const ZxCollectData* records, std::size_t count);
    void destroyChannelManagers();

    // configMutex_ guards rootDirectory_, maxFileSizeMB_ and idMapping_.
    std::mutex configMutex_;
    std::string rootDirectory_;
    std::uint16_t maxFileSizeMB_ = kDefaultFileSizeMB;
    ZxIdMappingTable idMapping_;

    // Written only by start/stop on the caller's thread while no router runs; read by
    // the router between them.
    std::map<std::pair<std::uint32_t, int>, std::unique_ptr<ZxChannelFileManager>> channelManagers_;
    std::vector<std::pair<std::uint32_t, IdentifierRoute>> routes_; // sorted by identifier

    std::atomic<bool> running_{false};
    // pushData calls between their running check and the end of their enqueue; stop
    // waits for them so that no accepted record misses the final flush.
    std::atomic<int> pushesInFlight_{0};
    std::thread routerThread_;
    std::atomic<bool> routerBodyDone_{false}; // see Common::joinThread
    ZxFileSaveQueue<ZxCollectData> recordQueue_;

    // routerMutex_ guards nothing but the router's timed wait on routerWake_ (running_
    // is its predicate; stop changes it under this mutex so the wake is not lost).
    std::mutex routerMutex_;
    std::condition_variable routerWake_;
};
