#include "vci/manager/KvVciDeviceManager.h"

#include "api/common/ZxLog.h"
#include "common/ExitSafeSingleton.h"
#include "vci/config/KvVciConfigStore.h"
#include "vci/device/KvVciDevice.h"
#include "zxcollector_api.h"

#include <array>
#include <chrono>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace {

constexpr double kTimestampUnitsPerSecond = 1e6; // texts carry microseconds

} // namespace

KvVciDeviceManager& KvVciDeviceManager::instance() {
    static Common::ExitSafeSingleton<KvVciDeviceManager> manager;
    return manager.get();
}

KvVciDeviceManager::KvVciDeviceManager()
    : store_(KvVciConfigStore::instance()), timeManager_(std::make_unique<Common::UnifiedTimeManager>()) {
    timeManager_->initialize(std::chrono::system_clock::now(), kTimestampUnitsPerSecond);
}

KvVciDeviceManager::~KvVciDeviceManager() = default;

int KvVciDeviceManager::openDevice(ZxIndex deviceIndex) {
    if (deviceIndex == kAllDevices) {
        deviceIndex = store_.getDefaultDeviceIndex();
    }
    if (deviceIndex > KvVciConfigStore::kMaxDeviceIndex) {
        return ZX_ERR_OPEN_DEVICE;
    }
    std::lock_guard<std::mutex> indexLock(indexMutexes_[deviceIndex]);
    {
        std::shared_lock<std::shared_mutex> lock(tableMutex_);
        if (devices_.count(deviceIndex) != 0) {
            zxLog(ZxLevel::Warning, "Device{} is already opened", deviceIndex);
            return ZX_OK;
        }
    }

    // Opening talks to the box for up to 500 ms: no table lock meanwhile.
    auto device = std::make_shared<KvVciDevice>(deviceIndex);
    const int result = device->open();
    if (result != ZX_OK) {
        return result;
    }
    // The time manager takes the index as the common library's int; indices stay below 16.
    timeManager_->registerDevice(static_cast<int>(deviceIndex), device->readBaseTime());
    {
        std::unique_lock<std::shared_mutex> lock(tableMutex_);
        devices_[deviceIndex] = std::move(device);
    }
    return ZX_OK;
}

int KvVciDeviceManager::closeDevice(ZxIndex deviceIndex) {
    if (deviceIndex == kAllDevices) {
        deviceIndex = store_.getDefaultDeviceIndex();
    }
    if (deviceIndex > KvVciConfigStore::kMaxDeviceIndex) {
        return ZX_ERR_DEVICE_NOT_OPEN;
    }
    std::lock_guard<std::mutex> indexLock(indexMutexes_[deviceIndex]);
    std::shared_ptr<KvVciDevice> device;
    {
        std::unique_lock<std::shared_mutex> lock(tableMutex_);
        const auto found = devices_.find(deviceIndex);
        if (found == devices_.end()) {
            return ZX_ERR_DEVICE_NOT_OPEN;
        }
        device = std::move(found->second);
        devices_.erase(found);
    }
    // Closed here even when another thread still holds the device: its requests then
    // fail, and the object goes when the last holder lets it go.
    return device->close();
}

int KvVciDeviceManager::closeAllDevices(KvVciCloseMode mode) {
    // Every index stays locked until its device is closed: an open meanwhile waits, and
    // then opens a box whose flags no close clears any more. Always locked in index order.
    // At unload or in a crash nothing is waited for: the failing thread may be inside an
    // open itself.
    std::array<std::unique_lock<std::mutex>, KvVciConfigStore::kDeviceCount> indexLocks;
    for (std::size_t i = 0; i < indexLocks.size(); ++i) {
        indexLocks[i] = std::unique_lock<std::mutex>(indexMutexes_[i], std::defer_lock);
        if (mode == KvVciCloseMode::OnCallingThread) {
            static_cast<void>(indexLocks[i].try_lock());
        } else {
            indexLocks[i].lock();
        }
    }
    std::unordered_map<std::uint32_t, std::shared_ptr<KvVciDevice>> devices;
    {
        std::unique_lock<std::shared_mutex> lock(tableMutex_);
        devices.swap(devices_);
    }
    if (devices.empty()) {
        return ZX_OK;
    }
    std::atomic<int> sharedResult{ZX_OK};
    const auto closeOne = [&sharedResult](KvVciDevice* device) {
        const int result = device->close();
        if (result != ZX_OK) {
            sharedResult.exchange(result);
        }
    };

    // Each close waits up to 500 ms per open channel for the box, so boxes close in
    // parallel. At library unload the caller asks for the calling thread instead:
    // under the loader lock a started thread may never run and its join never return.
    std::vector<std::thread> workers;
    if (mode == KvVciCloseMode::Parallel) {
        workers.reserve(devices.size());
    }
    for (auto& entry : devices) {
        KvVciDevice* device = entry.second.get();
        if (mode == KvVciCloseMode::OnCallingThread) {
            closeOne(device);
            continue;
        }
        try {
            workers.emplace_back(closeOne, device);
        } catch (const std::system_error& error) {
            zxLog(ZxLevel::Warning, "Close worker for Device{} could not start ({}); closing it here",
                  entry.first, error.what());
            closeOne(device);
        }
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    devices.clear();
    zxLog(ZxLevel::Info, "Closed all device");
    return sharedResult.load();
}

int KvVciDeviceManager::openCanChannel(ZxIndex deviceIndex, ZxIndex channel) {
    const std::shared_ptr<KvVciDevice> device = findDevice(deviceIndex);
    if (!device) {
        zxLog(ZxLevel::Error, "Open CAN failed: device {} not found", deviceIndex);
        return ZX_ERR_DEVICE_NOT_OPEN;
    }
    return device->openCan(channel);
}

int KvVciDeviceManager::closeCanChannel(ZxIndex deviceIndex, ZxIndex channel) {
    const std::shared_ptr<KvVciDevice> device = findDevice(deviceIndex);
    if (!device) {
        zxLog(ZxLevel::Error, "Close CAN failed: device {} not found", deviceIndex);
        return ZX_ERR_DEVICE_NOT_OPEN;
    }
    return device->closeCan(channel);
}

std::shared_ptr<KvVciDevice> KvVciDeviceManager::findDevice(ZxIndex deviceIndex) const {
    std::shared_lock<std::shared_mutex> lock(tableMutex_);
    const auto found = devices_.find(deviceIndex);
    return found == devices_.end() ? nullptr : found->second;
}

std::size_t KvVciDeviceManager::formatTimestamp(ZxIndex deviceIndex, std::uint64_t timestamp, char* out,
                                                std::size_t capacity) const {
    return timeManager_->formatTimestamp(static_cast<int>(deviceIndex), timestamp,
                                         static_cast<Common::TimestampDisplayMode>(timestampDisplayMode()),
                                         out, capacity);
}

void KvVciDeviceManager::setTimestampDisplayMode(std::uint32_t mode) {
    if (mode < kDisplayModeCount) {
        displayMode_.store(mode, std::memory_order_relaxed);
    }
}
