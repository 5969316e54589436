// One VCI box as the configuration store knows it: the local address its link binds
// to, whether it is open, and its CAN and LIN channel records.
#pragma once

#include "vci/config/KvVciChannelConfig.h"

#include <QString>

#include <vector>

struct KvVciDeviceConfig {
    static constexpr int kDefaultChannelCount = 8;

    // Both flags false, empty address, 8 default CAN and 8 default LIN records (all
    // LIN records "Master"; the store turns records 1.. into "Slave").
    static KvVciDeviceConfig makeDefault();

    bool reserved = false; // copied with the entry; nothing reads it
    bool opened = false;   // connected and the version was read
    QString address;       // dotted IPv4 text of the local address, empty: none
    std::vector<KvVciCanChannelConfig> canChannels;
    std::vector<KvVciLinChannelConfig> linChannels;
};
