#include "collector/ZxCollectorManager.h"

#include "api/common/ZxLog.h"
#include "collector/KvCollectorDevice.h"
#include "collector/ZxCollectorConfig.h"
#include "collector/ZxCollectorReader.h"
#include "common/ExitSafeSingleton.h"
#include "filesave/ZxSaveStartRequest.h"

#include <exception>
#include <utility>

namespace {

// Runs call on the channel's reader, which stays alive meanwhile; ZX_ERR_NO_READER
// (logged) when the channel has none.
template <typename Call>
std::int32_t withReader(ZxCollectorManager& manager, ZxIndex device, ZxIndex channel, Call&& call) {
    const std::shared_ptr<ZxCollectorReader> reader = manager.findReader(device, channel);
    return reader ? call(*reader) : static_cast<std::int32_t>(ZX_ERR_NO_READER);
}

} // namespace

ZxCollectorManager& ZxCollectorManager::instance() {
    // The collector settings are read once, with the manager, while the library loads.
    ZxCollectorConfig::instance();
    static Common::ExitSafeSingleton<ZxCollectorManager> manager(KvCollectorDevice::instance());
    return manager.get();
}

ZxCollectorManager::ZxCollectorManager(KvCollectorDevice& moduleDevice) : moduleDevice_(moduleDevice) {
    zxLog(ZxLevel::Info, "ZORVEX collector initialized");
}

ZxCollectorManager::~ZxCollectorManager() {
    retireReaders([](ReaderKey) { return true; });
    zxLog(ZxLevel::Info, "ZORVEX collector destroyed");
}

template <typename Predicate> void ZxCollectorManager::retireReaders(Predicate matches) {
    ReaderTable taken;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::unique_lock<std::shared_mutex> table(tableLock_);
        for (auto it = readers_.begin(); it != readers_.end();) {
            if (matches(it->first)) {
                auto next = std::next(it);
                taken.insert(readers_.extract(it));
                it = next;
            } else {
                ++it;
            }
        }
    }
    // A host thread may still be inside one of them; it keeps that reader alive until
    // it returns. Their saving stops here all the same.
    for (auto& entry : taken) {
        entry.second->retire();
    }
}

std::shared_ptr<ZxCollectorReader> ZxCollectorManager::lookUp(ReaderKey key) const {
    std::shared_lock<std::shared_mutex> table(tableLock_);
    const auto it = readers_.find(key);
    return it == readers_.end() ? nullptr : it->second;
}

std::int32_t ZxCollectorManager::createReader(ZxIndex device, ZxIndex channel) {
    const ReaderKey key = readerKey(device, channel);
    std::lock_guard<std::mutex> lock(mutex_);
    if (lookUp(key) != nullptr) {
        zxLog(ZxLevel::Warning, "Reader for DEV {} CH {} already exists.", device, channel);
        return ZX_OK;
    }
    std::shared_ptr<ZxCollectorReader> reader;
    try {
        reader = std::make_shared<ZxCollectorReader>(device, channel);
    } catch (const std::exception& error) {
        zxLog(ZxLevel::Error, "Create reader for DEV {} CH {} failed: {}", device, channel, error.what());
        return ZX_ERR_NO_READER;
    }
    {
        std::unique_lock<std::shared_mutex> table(tableLock_);
        readers_.emplace(key, std::move(reader));
    }
    return ZX_OK;
}

std::int32_t ZxCollectorManager::resetReader(ZxIndex device, ZxIndex channel) {
    const ReaderKey key = readerKey(device, channel);
    retireReaders([key](ReaderKey candidate) { return candidate == key; });
    return ZX_OK;
}

std::int32_t ZxCollectorManager::closeDeviceReaders(ZxIndex device) {
    retireReaders([device](ReaderKey key) { return static_cast<ZxIndex>(key >> 32) == device; });
    return ZX_OK;
}

void ZxCollectorManager::closeAllReaders() {
    retireReaders([](ReaderKey) { return true; });
}

std::shared_ptr<ZxCollectorReader> ZxCollectorManager::findReader(ZxIndex device, ZxIndex channel) {
    std::shared_ptr<ZxCollectorReader> reader = lookUp(readerKey(device, channel));
    if (!reader) {
        zxLog(ZxLevel::Error, "Operation failed: Reader not found for DEV {} CH {}", device, channel);
    }
    return reader;
}

std::int32_t ZxCollectorManager::readBuffer(ZxIndex device, ZxIndex channel, ZxCollectData* records,
                                            std::int32_t capacity) {
    return withReader(*this, device, channel,
                      [&](ZxCollectorReader& reader) { return reader.read(records, capacity); });
}

std::int32_t ZxCollectorManager::clearBuffer(ZxIndex device, ZxIndex channel) {
    return withReader(*this, device, channel, [](ZxCollectorReader& reader) { return reader.clear(); });
}

std::int32_t ZxCollectorManager::startSaveFile(ZxIndex device, ZxIndex channel, const char* rootDirectory,
                                               const char* idMapping, std::int32_t maxFileSizeMB) {
    return withReader(*this, device, channel, [&](ZxCollectorReader& reader) {
        // A null root directory or a bad identifier is refused here, before the running
        // save (if any) is touched.
        ZxSaveStartRequest request;
        const std::int32_t prepared =
            request.prepare(device, channel, rootDirectory, idMapping, maxFileSizeMB);
        if (prepared != ZX_OK) {
            return prepared;
        }
        // The reader serialises its own save start and stop, so no lock of this table is
        // held while the previous save drains.
        return reader.startFileSave(request.rootDirectory(), request.idMapping(), request.maxFileSizeMB());
    });
}

std::int32_t ZxCollectorManager::stopSaveFile(ZxIndex device, ZxIndex channel) {
    return withReader(*this, device, channel,
                      [](ZxCollectorReader& reader) { return reader.stopFileSave(); });
}

std::int32_t ZxCollectorManager::setModuleSamplingFrequency(ZxIndex device, ZxIndex channel,
                                                            std::uint32_t moduleId, std::uint16_t frequency) {
    // Module configuration keeps 8 bits of each index: device 256 is device 0.
    const KvCollectorDevice::Target target{device & 0xFFu, channel & 0xFFu};
    std::lock_guard<std::mutex> lock(moduleMutex_);
    return moduleDevice_.setModuleSamplingFrequency(target, moduleId, frequency);
}
