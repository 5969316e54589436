// The process-wide table of VCI boxes 0..15: local address, opened flags and channel
// configurations. Any thread may call it; its lock is the innermost of the library.
#pragma once

#include "vci/config/KvVciDeviceConfig.h"

#include <QReadWriteLock>
#include <QString>

#include <cstdint>
#include <map>
#include <vector>

class KvVciConfigStore {
public:
    static constexpr std::uint32_t kMaxDeviceIndex = 15;
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
    void addOrUpdateDevice(std::uint32_t deviceIndex, const KvVciDeviceConfig& entry);

    // protocolId kVciProtocolIdCan or kVciProtocolIdLin. The record stays at its
    // address until the entry is replaced; callers write it from one thread at a time.
    KvVciChannelConfig* getChannelConfig(int deviceIndex, std::uint32_t protocolId, int channel);
    // channel -1: all channel indices of the family; else the one index when it exists.
    std::vector<int> getChannelIndices(int deviceIndex, std::uint32_t protocolId, int channel) const;

    bool isCanChannelValid(int deviceIndex, int channel) const;
    bool isCanChannelOpened(int deviceIndex, int channel) const;
    bool setCanChannelOpened(int deviceIndex, int channel, bool opened);
    bool isLinChannelValid(int deviceIndex, int channel) const;
    bool isLinChannelOpened(int deviceIndex, int channel) const;
    bool setLinChannelOpened(int deviceIndex, int channel, bool opened);

    int getCanChannelCount(int deviceIndex) const; // 0 when the entry is missing
    int getDefaultDeviceIndex() const;
    QString getDeviceAddress(int deviceIndex) const; // empty when the entry is missing
    void setDeviceAddress(int deviceIndex, const QString& address);
    bool setDeviceOpened(int deviceIndex, bool opened);
    bool isDeviceOpened(int deviceIndex) const;
    // "192.168.201.<130 + index>", empty above 15.
    static QString getServerAddress(std::uint32_t deviceIndex);

    // Number of entries (16 after loadDefaults).
    int deviceCount() const;
    // A copy of an entry; false when missing.
    bool getDevice(int deviceIndex, KvVciDeviceConfig& out) const;
    const QString& configurationPath() const { return configurationPath_; }

private:
    const QString configurationPath_;
    mutable QReadWriteLock lock_; // guards devices_ (not the records handed out by getChannelConfig)
    std::map<int, KvVciDeviceConfig> devices_;
    const int defaultDeviceIndex_ = 0;
};
