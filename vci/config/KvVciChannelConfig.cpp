#include "vci/config/KvVciChannelConfig.h"

KvVciCanChannelConfig::KvVciCanChannelConfig() {
    bitRate = kDefaultBitRate;
    mode = QStringLiteral("CANFD");
}

KvVciLinChannelConfig::KvVciLinChannelConfig() {
    bitRate = kDefaultBitRate;
    mode = QStringLiteral("Master");
}
