#include "filesave/ZxCollectorFileManager.h"

#include "api/common/ZxLog.h"
#include "common/ThreadJoin.h"
#include "common/Utils.h"
#include "filesave/ZxChannelFileManager.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <exception>

namespace {

constexpr std::size_t kInitialQueueRecords = 20000;
constexpr std::size_t kBatchRecords = 20000;
constexpr auto kRouterInterval = std::chrono::milliseconds(100);

} // namespace

ZxCollectorFileManager::ZxCollectorFileManager() : recordQueue_(kInitialQueueRecords) {
    zxLog(ZxLevel::Info, "ZxCollectorFileManager instance created");
}

ZxCollectorFileManager::~ZxCollectorFileManager() {
    stop();
    zxLog(ZxLevel::Info, "ZxCollectorFileManager instance destroyed");
}

void ZxCollectorFileManager::setFileInfo(const std::string& rootDirectory, std::uint16_t maxFileSizeMB) {
    if (running_.load()) {
        zxLog(ZxLevel::Warning, "Cannot change file info while running.");
        return;
    }
    std::lock_guard<std::mutex> lock(configMutex_);
    rootDirectory_ = rootDirectory;
    maxFileSizeMB_ = maxFileSizeMB == 0 ? kDefaultFileSizeMB : maxFileSizeMB;
}

void ZxCollectorFileManager::setIdMapping(const ZxIdMappingTable& idMapping) {
    if (running_.load()) {
        zxLog(ZxLevel::Warning, "Cannot change ID mapping while running.");
        return;
    }
    std::lock_guard<std::mutex> lock(configMutex_);
    idMapping_ = idMapping;
}

std::int32_t ZxCollectorFileManager::start() {
    if (running_.load()) {
        zxLog(ZxLevel::Warning, "Collector file manager is already running.");
        return ZX_ERR_FILE_MANAGER_RUNNING;
    }
    std::lock_guard<std::mutex> lock(configMutex_);
    // A second start that waited for the lock finds the first one finished.
    if (running_.load()) {
        zxLog(ZxLevel::Warning, "Collector file manager is already running.");
        return ZX_ERR_FILE_MANAGER_RUNNING;
    }
    if (rootDirectory_.empty() || idMapping_.empty()) {
        zxLog(ZxLevel::Error, "Cannot start: Root directory or ID mapping not configured.");
        return ZX_ERR_SAVE_NOT_CONFIGURED;
    }

    zxLog(ZxLevel::Info, "Pre-creating all channel file managers...");
    for (const auto& [identifier, name] : idMapping_) {
        for (int channel = 1; channel <= kChannelCount; ++channel) {
            try {
                channelManagers_[{identifier, channel}] =
                    std::make_unique<ZxChannelFileManager>(rootDirectory_, channel, name, maxFileSizeMB_);
            } catch (const std::exception& e) {
                zxLog(ZxLevel::Error, "Failed to create channel file manager for CAN ID 0x{:03X}, CH{}: {}",
                      identifier, channel, e.what());
                destroyChannelManagers();
                return ZX_ERR_FILE_WRITER_CREATE;
            }
        }
    }
    zxLog(ZxLevel::Info, "Successfully created {} channel file managers.", channelManagers_.size());

    try {
        routes_.clear();
        routes_.reserve(idMapping_.size());
        for (const auto& entry : idMapping_) {
            IdentifierRoute route;
            for (int channel = 1; channel <= kChannelCount; ++channel) {
                route.writers[channel - 1] = channelManagers_.at({entry.first, channel}).get();
            }
            routes_.emplace_back(entry.first, std::move(route));
        }
        running_.store(true);
        routerBodyDone_.store(false);
        routerThread_ = std::thread(&ZxCollectorFileManager::routerThreadLoop, this);
    } catch (const std::exception& e) {
        running_.store(false);
        destroyChannelManagers();
        zxLog(ZxLevel::Error, "Failed to start router thread: {}", e.what());
        return ZX_ERR_SAVE_EXCEPTION;
    }
    zxLog(ZxLevel::Info, "Collector file manager started successfully.");
    return ZX_OK;
}

std::int32_t ZxCollectorFileManager::stop() {
    bool wasRunning = false;
    {
        std::lock_guard<std::mutex> lock(routerMutex_);
        wasRunning = running_.exchange(false);
    }
    if (!wasRunning) {
        return ZX_ERR_FILE_MANAGER_STOPPED;
    }
    routerWake_.notify_one();
    Common::joinThread(routerThread_,
                       routerBodyDone_); // after its final flush every accepted record is with a writer
    destroyChannelManagers();
    zxLog(ZxLevel::Info, "Collector file manager stopped.");
    return ZX_OK;
}

std::int32_t ZxCollectorFileManager::pushData(const ZxCollectData* records, std::size_t count) {
    // Counted before running is read, so a stop that clears running afterwards waits
    // for this enqueue before the router's final flush.
    pushesInFlight_.fetch_add(1);
    if (!running_.load()) {
        pushesInFlight_.fetch_sub(1);
        return ZX_ERR_FILE_MANAGER_STOPPED;
    }
    if (records != nullptr && count != 0) {
        // Each host thread gets its own implicit producer: no lock, no wait.
        recordQueue_.enqueue_bulk(records, count);
    }
    pushesInFlight_.fetch_sub(1);
    return ZX_OK;
}

void ZxCollectorFileManager::routerThreadLoop() {
    const Common::ThreadBodyDone bodyDone(routerBodyDone_);
    const std::string threadId = Common::Utils::getThreadIdString();
    zxLog(ZxLevel::Info, "Router thread started: {}", threadId);
    std::vector<ZxCollectData> batch(kBatchRecords);
    moodycamel::ConsumerToken token(recordQueue_);

    for (;;) {
        {
            std::unique_lock<std::mutex> lock(routerMutex_);
            routerWake_.wait_until(lock, std::chrono::steady_clock::now() + kRouterInterval,
                                   [this] { return !running_.load(); });
        }
        if (!running_.load()) {
            break;
        }
        // Everything queued is routed in each poll, so the queue cannot grow without
        // bound whatever the host's reading rate.
        drainRecordQueue(batch, token);
    }

    zxLog(ZxLevel::Debug, "Router thread stopping, performing final data flush...");
    while (pushesInFlight_.load() != 0) {
        std::this_thread::yield();
    }
    drainRecordQueue(batch, token);
    zxLog(ZxLevel::Info, "Router thread stopped: {}", threadId);
}

void ZxCollectorFileManager::drainRecordQueue(std::vector<ZxCollectData>& batch,
                                              moodycamel::ConsumerToken& token) {
    for (;;) {
        const std::size_t taken = recordQueue_.try_dequeue_bulk(token, batch.begin(), batch.size());
        if (taken == 0) {
            return;
        }
        routeBatch(batch.data(), taken);
    }
}

void ZxCollectorFileManager::routeBatch(const ZxCollectData* records, std::size_t count) {
    IdentifierRoute* route = nullptr;
    std::uint32_t routeId = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const ZxCollectData& record = records[i];
        if (route == nullptr || routeId != record.canId) {
            const auto found = std::lower_bound(routes_.begin(), routes_.end(), record.canId,
                                                [](const std::pair<std::uint32_t, IdentifierRoute>& entry,
                                                   std::uint32_t id) { return entry.first < id; });
            if (found == routes_.end() || found->first != record.canId) {
                route = nullptr;
                continue; // not mapped: not saved
            }
            route = &found->second;
            routeId = record.canId;
        }

        ZxChannelDataPoint point{};
        const void* end = std::memchr(record.timestamp, '\0', sizeof(record.timestamp));
        point.timestampLength =
            end != nullptr ? static_cast<std::uint32_t>(static_cast<const char*>(end) - record.timestamp)
                           : ZxChannelDataPoint::kTimestampCapacity - 1;
        std::memcpy(point.timestamp, record.timestamp, point.timestampLength);
        point.timestamp[point.timestampLength] = '\0';
        for (int k = 0; k < kChannelCount; ++k) {
            point.value = record.values[k];
            route->pending[k].push_back(point);
        }
    }

    for (auto& entry : routes_) {
        IdentifierRoute& target = entry.second;
        for (int k = 0; k < kChannelCount; ++k) {
            std::vector<ZxChannelDataPoint>& points = target.pending[k];
            if (!points.empty()) {
                target.writers[k]->pushPoints(points.data(), points.size());
                points.clear(); // keeps its room for the next batch
            }
        }
    }
}

void ZxCollectorFileManager::destroyChannelManagers() {
    routes_.clear();
    // One after the other: each waits for its writer's last passes.
    while (!channelManagers_.empty()) {
        channelManagers_.erase(channelManagers_.begin());
    }
}
