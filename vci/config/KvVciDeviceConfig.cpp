#include "vci/config/KvVciDeviceConfig.h"

KvVciDeviceConfig KvVciDeviceConfig::makeDefault() {
    KvVciDeviceConfig entry;
    entry.canChannels.resize(kDefaultChannelCount);
    entry.linChannels.resize(kDefaultChannelCount);
    return entry;
}
