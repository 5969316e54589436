#include "filesave/ZxCollectorFileManager.h"

#include "api/common/ZxLog.h"
#include "filesave/ZxFileSavePool.h"
#include "filesave/ZxFileSaveScratch.h"
#include "filesave/ZxRecordRouter.h"

#include <exception>
#include <thread>

static_assert(ZxCollectorFileManager::kChannelCount == ZxRecordRouter::kChannelCount);

ZxCollectorFileManager::ZxCollectorFileManager()
    : ZxCollectorFileManager(ZxRecordRouter::kMaxQueuedRecords) {}

ZxCollectorFileManager::ZxCollectorFileManager(std::size_t maxQueuedRecords)
    : maxQueuedRecords_(maxQueuedRecords) {
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
    if (alreadyRunning()) {
        return ZX_ERR_FILE_MANAGER_RUNNING;
    }
    std::lock_guard<std::mutex> lock(configMutex_);
    // A second start that waited for the lock finds the first one finished.
    if (alreadyRunning()) {
        return ZX_ERR_FILE_MANAGER_RUNNING;
    }
    if (rootDirectory_.empty() || idMapping_.empty()) {
        zxLog(ZxLevel::Error, "Cannot start: Root directory or ID mapping not configured.");
        return ZX_ERR_SAVE_NOT_CONFIGURED;
    }
    std::shared_ptr<ZxRecordRouter> router = createWriters();
    if (!router) {
        return ZX_ERR_FILE_WRITER_CREATE;
    }
    if (!startSaving(std::move(router))) {
        return ZX_ERR_SAVE_EXCEPTION;
    }
    running_.store(true);
    zxLog(ZxLevel::Info, "Collector file manager started successfully.");
    return ZX_OK;
}

bool ZxCollectorFileManager::alreadyRunning() const {
    if (!running_.load()) {
        return false;
    }
    zxLog(ZxLevel::Warning, "Collector file manager is already running.");
    return true;
}

std::shared_ptr<ZxRecordRouter> ZxCollectorFileManager::createWriters() const {
    zxLog(ZxLevel::Info, "Pre-creating all channel file managers...");
    std::shared_ptr<ZxRecordRouter> router;
    try {
        router =
            std::make_shared<ZxRecordRouter>(rootDirectory_, maxFileSizeMB_, idMapping_, maxQueuedRecords_);
    } catch (const std::exception& e) {
        zxLog(ZxLevel::Error, "Failed to create channel file managers: {}", e.what());
        return nullptr;
    }
    zxLog(ZxLevel::Info, "Successfully created {} channel file managers.", router->writerCount());
    return router;
}

bool ZxCollectorFileManager::startSaving(std::shared_ptr<ZxRecordRouter> router) {
    try {
        pool_ = ZxFileSavePool::acquire();
        router_ = router;
        pool_->add(std::move(router));
    } catch (const std::exception& e) {
        router_.reset();
        pool_.reset();
        zxLog(ZxLevel::Error, "Failed to start file saving: {}", e.what());
        return false;
    }
    return true;
}

std::int32_t ZxCollectorFileManager::stop() {
    // Under the lock, so that a start waiting for it cannot replace the router that
    // this stop is about to finish.
    std::lock_guard<std::mutex> lock(configMutex_);
    if (!running_.exchange(false)) {
        return ZX_ERR_FILE_MANAGER_STOPPED;
    }
    // A push that saw running_ true finishes its enqueue before the last pass.
    while (pushesInFlight_.load() != 0) {
        std::this_thread::yield();
    }
    pool_->remove(router_.get());
    try {
        ZxFileSaveScratch scratch;
        router_->finish(scratch);
    } catch (const std::exception& e) {
        // No memory for the last pass: the writers close their files as they are.
        zxLog(ZxLevel::Error, "Failed to write the last points at stop: {}", e.what());
    }
    router_.reset();
    pool_.reset();
    zxLog(ZxLevel::Info, "Collector file manager stopped.");
    return ZX_OK;
}

std::int32_t ZxCollectorFileManager::pushData(const ZxCollectData* records, std::size_t count) {
    // Counted before running is read, so a stop that clears running afterwards waits
    // for this enqueue before the last pass.
    pushesInFlight_.fetch_add(1);
    if (!running_.load()) {
        pushesInFlight_.fetch_sub(1);
        return ZX_ERR_FILE_MANAGER_STOPPED;
    }
    if (records != nullptr && count != 0) {
        router_->push(records, count);
    }
    pushesInFlight_.fetch_sub(1);
    return ZX_OK;
}
