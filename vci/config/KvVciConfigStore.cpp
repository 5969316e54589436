#include "vci/config/KvVciConfigStore.h"

#include "api/common/ZxLog.h"
#include "vci/device/KvVciProtocolTypes.h"

#include <QReadLocker>
#include <QWriteLocker>

namespace {

const char* const kConfigurationPath = "config/vci/vci_config.json";
const char* const kServerSubnet = "192.168.201";
constexpr std::uint32_t kServerHostBase = 130; // box i answers at .130 + i

} // namespace

KvVciConfigStore& KvVciConfigStore::instance() {
    static KvVciConfigStore store;
    return store;
}

KvVciConfigStore::KvVciConfigStore() : configurationPath_(QString::fromLatin1(kConfigurationPath)) {}

void KvVciConfigStore::loadDefaults() {
    {
        QWriteLocker locker(&lock_);
        if (!devices_.empty()) {
            zxLog(ZxLevel::Info, "Clearing all {} devices.", devices_.size());
            devices_.clear();
        }
    }
    for (ZxIndex index = 0; index <= kMaxDeviceIndex; ++index) {
        addOrUpdateDevice(index, KvVciDeviceConfig::makeDefault());
    }
}

void KvVciConfigStore::addOrUpdateDevice(ZxIndex deviceIndex, const KvVciDeviceConfig& entry) {
    if (deviceIndex > kMaxDeviceIndex) {
        zxLog(ZxLevel::Warning, "Attempted to add device with invalid index: {}", deviceIndex);
        return;
    }
    QWriteLocker locker(&lock_);
    zxLog(ZxLevel::Info, "Adding or updating device with index: {}", deviceIndex);
    KvVciDeviceConfig& stored = devices_[deviceIndex];
    stored = entry;
    for (std::size_t i = 1; i < stored.linChannels.size(); ++i) {
        stored.linChannels[i].mode = QStringLiteral("Slave");
    }
}

KvVciChannelConfig* KvVciConfigStore::getChannelConfig(ZxIndex deviceIndex, std::uint32_t protocolId,
                                                       ZxIndex channel) {
    // Write lock although it only looks up: the caller writes through the result.
    QWriteLocker locker(&lock_);
    const auto found = devices_.find(deviceIndex);
    if (found == devices_.end()) {
        return nullptr;
    }
    KvVciDeviceConfig& entry = found->second;
    if (protocolId == kVciProtocolIdCan) {
        if (channel < entry.canChannels.size()) {
            return &entry.canChannels[channel];
        }
        return nullptr;
    }
    if (protocolId == kVciProtocolIdLin) {
        if (channel < entry.linChannels.size()) {
            return &entry.linChannels[channel];
        }
        return nullptr;
    }
    zxLog(ZxLevel::Warning, "getChannelConfig called with unknown protocolId: {}", protocolId);
    return nullptr;
}

std::vector<ZxIndex> KvVciConfigStore::getChannelIndices(ZxIndex deviceIndex, std::uint32_t protocolId,
                                                         ZxIndex channel) const {
    QReadLocker locker(&lock_);
    std::vector<ZxIndex> indices;
    const auto found = devices_.find(deviceIndex);
    if (found == devices_.end()) {
        return indices;
    }
    ZxIndex count = 0;
    if (protocolId == kVciProtocolIdCan) {
        count = static_cast<ZxIndex>(found->second.canChannels.size());
    } else if (protocolId == kVciProtocolIdLin) {
        count = static_cast<ZxIndex>(found->second.linChannels.size());
    } else {
        zxLog(ZxLevel::Warning, "getChannelIndices called with unknown protocolId: {}", protocolId);
        return indices;
    }
    if (channel == kAllChannels) {
        indices.reserve(count);
        for (ZxIndex i = 0; i < count; ++i) {
            indices.push_back(i);
        }
    } else if (channel < count) {
        indices.push_back(channel);
    }
    return indices;
}

bool KvVciConfigStore::isCanChannelValid(ZxIndex deviceIndex, ZxIndex channel) const {
    QReadLocker locker(&lock_);
    const auto found = devices_.find(deviceIndex);
    return found != devices_.end() && channel < found->second.canChannels.size();
}

bool KvVciConfigStore::isCanChannelOpened(ZxIndex deviceIndex, ZxIndex channel) const {
    if (!isCanChannelValid(deviceIndex, channel)) {
        return false;
    }
    QReadLocker locker(&lock_);
    return devices_.at(deviceIndex).canChannels[channel].opened;
}

bool KvVciConfigStore::setCanChannelOpened(ZxIndex deviceIndex, ZxIndex channel, bool opened) {
    if (!isCanChannelValid(deviceIndex, channel)) {
        return false;
    }
    QWriteLocker locker(&lock_);
    devices_.at(deviceIndex).canChannels[channel].opened = opened;
    return true;
}

bool KvVciConfigStore::isLinChannelValid(ZxIndex deviceIndex, ZxIndex channel) const {
    QReadLocker locker(&lock_);
    const auto found = devices_.find(deviceIndex);
    return found != devices_.end() && channel < found->second.linChannels.size();
}

bool KvVciConfigStore::isLinChannelOpened(ZxIndex deviceIndex, ZxIndex channel) const {
    if (!isLinChannelValid(deviceIndex, channel)) {
        return false;
    }
    QReadLocker locker(&lock_);
    return devices_.at(deviceIndex).linChannels[channel].opened;
}

bool KvVciConfigStore::setLinChannelOpened(ZxIndex deviceIndex, ZxIndex channel, bool opened) {
    if (!isLinChannelValid(deviceIndex, channel)) {
        return false;
    }
    QWriteLocker locker(&lock_);
    devices_.at(deviceIndex).linChannels[channel].opened = opened;
    return true;
}

ZxIndex KvVciConfigStore::getCanChannelCount(ZxIndex deviceIndex) const {
    QReadLocker locker(&lock_);
    const auto found = devices_.find(deviceIndex);
    return found == devices_.end() ? 0 : static_cast<ZxIndex>(found->second.canChannels.size());
}

ZxIndex KvVciConfigStore::getDefaultDeviceIndex() const {
    QReadLocker locker(&lock_);
    return defaultDeviceIndex_;
}

QString KvVciConfigStore::getDeviceAddress(ZxIndex deviceIndex) const {
    QReadLocker locker(&lock_);
    const auto found = devices_.find(deviceIndex);
    return found == devices_.end() ? QString() : found->second.address;
}

void KvVciConfigStore::setDeviceAddress(ZxIndex deviceIndex, const QString& address) {
    QWriteLocker locker(&lock_);
    const auto found = devices_.find(deviceIndex);
    if (found != devices_.end()) {
        found->second.address = address;
    }
}

bool KvVciConfigStore::setDeviceOpened(ZxIndex deviceIndex, bool opened) {
    QWriteLocker locker(&lock_);
    const auto found = devices_.find(deviceIndex);
    if (found == devices_.end()) {
        return false;
    }
    found->second.opened = opened;
    return true;
}

bool KvVciConfigStore::isDeviceOpened(ZxIndex deviceIndex) const {
    QReadLocker locker(&lock_);
    const auto found = devices_.find(deviceIndex);
    return found != devices_.end() && found->second.opened;
}

QString KvVciConfigStore::getServerAddress(ZxIndex deviceIndex) {
    if (deviceIndex > kMaxDeviceIndex) {
        return QString();
    }
    return QStringLiteral("%1.%2").arg(QLatin1String(kServerSubnet)).arg(deviceIndex + kServerHostBase);
}

int KvVciConfigStore::deviceCount() const {
    QReadLocker locker(&lock_);
    return static_cast<int>(devices_.size());
}

bool KvVciConfigStore::getDevice(ZxIndex deviceIndex, KvVciDeviceConfig& out) const {
    QReadLocker locker(&lock_);
    const auto found = devices_.find(deviceIndex);
    if (found == devices_.end()) {
        return false;
    }
    out = found->second;
    return true;
}
