// The process-wide table of VCI boxes 0..15: local address, opened flags and channel
// configurations. Any thread may call it; its lock is the innermost of the library.
#pragma once

#include "vci/config/KvVciDeviceConfig.h"
#include "vci/config/ZxIndex.h"

#include <QReadWriteLock>
#include <QString>

#include <cstdint>
#include <map>
#include <vector>

class KvVciConfigStore {
public:
    static constexpr ZxIndex kMaxDeviceIndex = 15;
    static constexpr ZxIndex kAllChannels = kZxAllIndices;
    static constexpr int kDeviceCount = 16;

    // Created on first use; lives until the runtime destroys it at unload.
    static KvVciConfigStore& instance();

    KvVciConfigStore(); // empty; tests may build their own
    KvVciConfigStore(const KvVciConfigStore&) = delete;
    KvVciConfigStore& operator=(const KvVciConfigStore&) = delete;

    // Clears the table and adds the 16 default entries.
    void loadDefaults();
    // Replaces (or adds) entry deviceIndex; LIN records 1.. become "Slave".
    // An index above 15 is refused with a warning.
    void addOrUpdateDevice(ZxIndex deviceIndex, const KvVciDeviceConfig& entry);

    // protocolId kVciProtocolIdCan or kVciProtocolIdLin. The record stays at its
    // address until the entry is replaced; callers write it from one thread at a time.
    KvVciChannelConfig* getChannelConfig(ZxIndex deviceIndex, std::uint32_t protocolId, ZxIndex channel);
    // channel kAllChannels: all channel indices of the family; else the one index when it exists.
    std::vector<ZxIndex> getChannelIndices(ZxIndex deviceIndex, std::uint32_t protocolId,
                                           ZxIndex channel) const;

    bool isCanChannelValid(ZxIndex deviceIndex, ZxIndex channel) const;
    bool isCanChannelOpened(ZxIndex deviceIndex, ZxIndex channel) const;
    bool setCanChannelOpened(ZxIndex deviceIndex, ZxIndex channel, bool opened);
    bool isLinChannelValid(ZxIndex deviceIndex, ZxIndex channel) const;
    bool isLinChannelOpened(ZxIndex deviceIndex, ZxIndex channel) const;
    bool setLinChannelOpened(ZxIndex deviceIndex, ZxIndex channel, bool opened);

    ZxIndex getCanChannelCount(ZxIndex deviceIndex) const; // 0 when the entry is missing
    ZxIndex getDefaultDeviceIndex() const;
    QString getDeviceAddress(ZxIndex deviceIndex) const; // empty when the entry is missing
    void setDeviceAddress(ZxIndex deviceIndex, const QString& address);
    bool setDeviceOpened(ZxIndex deviceIndex, bool opened);
    bool isDeviceOpened(ZxIndex deviceIndex) const;
    // "192.168.201.<130 + index>", empty above 15.
    static QString getServerAddress(ZxIndex deviceIndex);

    // Number of entries (16 after loadDefaults).
    int deviceCount() const;
    // A copy of an entry; false when missing.
    bool getDevice(ZxIndex deviceIndex, KvVciDeviceConfig& out) const;
    const QString& configurationPath() const { return configurationPath_; }

private:
    const QString configurationPath_;
    mutable QReadWriteLock lock_; // guards devices_ (not the records handed out by getChannelConfig)
    std::map<ZxIndex, KvVciDeviceConfig> devices_;
    const ZxIndex defaultDeviceIndex_ = 0;
};
