// The process-wide owner of the open VCI devices: opens and closes them, routes CAN
// channel requests to them, hands them to the collector, and formats frame times.
#pragma once

#include "common/UnifiedTimeManager.h"
#include "vci/config/KvVciConfigStore.h"
#include "vci/config/ZxIndex.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>

class KvVciDevice;

enum class KvVciCloseMode {
    Parallel,        // one close worker per device, joined before returning
    OnCallingThread, // one device after the other on the caller's thread, waiting for no
                     // open of another thread (library unload, crash)
};

class KvVciDeviceManager {
public:
    static constexpr ZxIndex kAllDevices = kZxAllIndices; // the default index in open and close
    static constexpr std::uint32_t kDefaultDisplayMode = 2;
    static constexpr std::uint32_t kDisplayModeCount = 5;

    // Created on first use; lives until the runtime destroys it at unload.
    static KvVciDeviceManager& instance();

    KvVciDeviceManager(); // tests may build their own
    ~KvVciDeviceManager();
    KvVciDeviceManager(const KvVciDeviceManager&) = delete;
    KvVciDeviceManager& operator=(const KvVciDeviceManager&) = delete;

    // ZX_OK when the device is open afterwards (also when it was open already, or opened
    // meanwhile by another thread), else the device's open code; ZX_ERR_OPEN_DEVICE for an
    // index above 15. kAllDevices opens the default index.
    int openDevice(ZxIndex deviceIndex);
    // The device's close code, or ZX_ERR_DEVICE_NOT_OPEN. kAllDevices closes the default index.
    int closeDevice(ZxIndex deviceIndex);
    // Closes and deletes every open device: ZX_OK or a failing device's close code.
    // Parallel falls back to the calling thread for a device whose worker cannot start.
    int closeAllDevices(KvVciCloseMode mode = KvVciCloseMode::Parallel);
    // The device's openCan / closeCan code, or ZX_ERR_DEVICE_NOT_OPEN.
    int openCanChannel(ZxIndex deviceIndex, ZxIndex channel);
    int closeCanChannel(ZxIndex deviceIndex, ZxIndex channel);

    // Null when not open. What is handed out stays alive while the caller holds it,
    // even when another thread closes the device meanwhile (it is then closed, and its
    // requests fail, but nothing of it is freed under the caller).
    std::shared_ptr<KvVciDevice> findDevice(ZxIndex deviceIndex) const;

    // The frame's time as text in the current display mode, allocation-free: at most
    // capacity - 1 characters and a NUL; returns the number of characters written.
    std::size_t formatTimestamp(ZxIndex deviceIndex, std::uint64_t timestamp, char* out,
                                std::size_t capacity) const;
    // Modes 0..4 (Common::TimestampDisplayMode); other values are ignored.
    void setTimestampDisplayMode(std::uint32_t mode);
    std::uint32_t timestampDisplayMode() const { return displayMode_.load(std::memory_order_relaxed); }

    bool isDeviceOpen(ZxIndex deviceIndex) const { return findDevice(deviceIndex) != nullptr; }

private:
    KvVciConfigStore& store_;
    std::unique_ptr<Common::UnifiedTimeManager> timeManager_;
    std::atomic<std::uint32_t> displayMode_{kDefaultDisplayMode};
    // Guards devices_ (the map, not the devices): held only to look up, insert or take
    // out, never while a device talks to its box.
    mutable std::shared_mutex tableMutex_;
    std::unordered_map<ZxIndex, std::shared_ptr<KvVciDevice>> devices_;
    // One per box: held by an open or a close of that index from its first look at the
    // table until its device talked to the box, so a second open of the index finds the
    // first one's device instead of opening another beside it, and the opened flags and
    // channels a close clears belong to the device it closes.
    std::array<std::mutex, KvVciConfigStore::kDeviceCount> indexMutexes_;
};
