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
    for (std::uint32_t index = 0; index <= kMaxDeviceIndex; ++index) {
        addOrUpdateDevice(index, KvVciDeviceConfig::makeDefault());
    }
}

void KvVciConfigStore::addOrUpdateDevice(std::uint32_t deviceIndex, const KvVciDeviceConfig& entry) {
    if (deviceIndex > kMaxDeviceIndex) {
        zxLog(ZxLevel::Warning, "Attempted to add device with invalid index: {}", deviceIndex);
        return;
    }
    QWriteLocker locker(&lock_);
    zxLog(ZxLevel::Info, "Adding or updating device with index: {}", deviceIndex);
    KvVciDeviceConfig& stored = devices_[static_cast<int>(deviceIndex)];
    stored = entry;
    for (std::size_t i = 1; i < stored.linChannels.size(); ++i) {
        stored.linChannels[i].mode = QStringLiteral("Slave");
    }
}

KvVciChannelConfig* KvVciConfigStore::getChannelConfig(int deviceIndex, std::uint32_t protocolId,
                                                       int channel) {
    // Write lock although it only looks up: the caller writes through the result.
    QWriteLocker locker(&lock_);
    const auto found = devices_.find(deviceIndex);
    if (found == devices_.end()) {
        return nullptr;
    }
    KvVciDeviceConfig& entry = found->second;
    if (protocolId == kVciProtocolIdCan) {
        if (channel >= 0 && static_cast<std::size_t>(channel) < entry.canChannels.size()) {
            return &entry.canChannels[static_cast<std::size_t>(channel)];
        }
        return nullptr;
    }
    if (protocolId == kVciProtocolIdLin) {
        if (channel >= 0 && static_cast<std::size_t>(channel) < entry.linChannels.size()) {
            return &entry.linChannels[static_cast<std::size_t>(channel)];
        }
        return nullptr;
    }
    zxLog(ZxLevel::Warning, "getChannelConfig called with unknown protocolId: {}", protocolId);
    return nullptr;
}

std::vector<int> KvVciConfigStore::getChannelIndices(int deviceIndex, std::uint32_t protocolId,
                                                     int channel) const {
    QReadLocker locker(&lock_);
    std::vector<int> indices;
    const auto found = devices_.find(deviceIndex);
    if (found == devices_.end()) {
        return indices;
    }
    std::size_t count = 0;
    if (protocolId == kVciProtocolIdCan) {
        count = found->second.canChannels.size();
    } else if (protocolId == kVciProtocolIdLin) {
        count = found->second.linChannels.size();
    } else {
        zxLog(ZxLevel::Warning, "getChannelIndices called with unknown protocolId: {}", protocolId);
        return indices;
    }
    if (channel == -1) {
        indices.reserve(count);
        for (std::size_t i = 0; i < count; ++i) {
            indices.push_back(static_cast<int>(i));
        }
    } else if (channel >= 0 && static_cast<std::size_t>(channel) < count) {
        indices.push_back(channel);
    }
    return indices;
}

bool KvVciConfigStore::isCanChannelValid(int deviceIndex, int channel) const {
    QReadLocker locker(&lock_);
    const auto found = devices_.find(deviceIndex);
    return found != devices_.end() && channel >= 0 &&
           static_cast<std::size_t>(channel) < found->second.canChannels.size();
}

bool KvVciConfigStore::isCanChannelOpened(int deviceIndex, int channel) const {
    if (!isCanChannelValid(deviceIndex, channel)) {
        return false;
    }
    QReadLocker locker(&lock_);
    return devices_.at(deviceIndex).canChannels[static_cast<std::size_t>(channel)].opened;
}

bool KvVciConfigStore::setCanChannelOpened(int deviceIndex, int channel, bool opened) {
    if (!isCanChannelValid(deviceIndex, channel)) {
        return false;
    }
    QWriteLocker locker(&lock_);
    devices_.at(deviceIndex).canChannels[static_cast<std::size_t>(channel)].opened = opened;
    return true;
}

bool KvVciConfigStore::isLinChannelValid(int deviceIndex, int channel) const {
    QReadLocker locker(&lock_);
    const auto found = devices_.find(deviceIndex);
    return found != devices_.end() && channel >= 0 &&
           static_cast<std::size_t>(channel) < found->second.linChannels.size();
}

bool KvVciConfigStore::isLinChannelOpened(int deviceIndex, int channel) const {
    if (!isLinChannelValid(deviceIndex, channel)) {
        return false;
    }
    QReadLocker locker(&lock_);
    return devices_.at(deviceIndex).linChannels[static_cast<std::size_t>(channel)].opened;
}

bool KvVciConfigStore::setLinChannelOpened(int deviceIndex, int channel, bool opened) {
    if (!isLinChannelValid(deviceIndex, channel)) {
        return false;
    }
    QWriteLocker locker(&lock_);
    devices_.at(deviceIndex).linChannels[static_cast<std::size_t>(channel)].opened = opened;
    return true;
}

int KvVciConfigStore::getCanChannelCount(int deviceIndex) const {
    QReadLocker locker(&lock_);
    const auto found = devices_.find(deviceIndex);
    return found == devices_.end() ? 0 : static_cast<int>(found->second.canChannels.size());
}

int KvVciConfigStore::getDefaultDeviceIndex() const {
    QReadLocker locker(&lock_);
    return defaultDeviceIndex_;
}

QString KvVciConfigStore::getDeviceAddress(int deviceIndex) const {
    QReadLocker locker(&lock_);
    const auto found = devices_.find(deviceIndex);
    return found == devices_.end() ? QString() : found->second.address;
}

void KvVciConfigStore::setDeviceAddress(int deviceIndex, const QString& address) {
    QWriteLocker locker(&lock_);
    const auto found = devices_.find(deviceIndex);
    if (found != devices_.end()) {
        found->second.address = address;
    }
}

bool KvVciConfigStore::setDeviceOpened(int deviceIndex, bool opened) {
    QWriteLocker locker(&lock_);
    const auto found = devices_.find(deviceIndex);
    if (found == devices_.end()) {
        return false;
    }
    found->second.opened = opened;
    return true;
}

bool KvVciConfigStore::isDeviceOpened(int deviceIndex) const {
    QReadLocker locker(&lock_);
    const auto found = devices_.find(deviceIndex);
    return found != devices_.end() && found->second.opened;
}

QString KvVciConfigStore::getServerAddress(std::uint32_t deviceIndex) {
    if (deviceIndex > kMaxDeviceIndex) {
        return QString();
    }
    return QStringLiteral("%1.%2").arg(QLatin1String(kServerSubnet)).arg(deviceIndex + kServerHostBase);
}

int KvVciConfigStore::deviceCount() const {
    QReadLocker locker(&lock_);
    return static_cast<int>(devices_.size());
}

bool KvVciConfigStore::getDevice(int deviceIndex, KvVciDeviceConfig& out) const {
    QReadLocker locker(&lock_);
    const auto found = devices_.find(deviceIndex);
    if (found == devices_.end()) {
        return false;
    }
    out = found->second;
    return true;
}
