#include "tests/support/LogCapture.h"
#include "vci/config/KvVciConfigStore.h"
#include "vci/device/KvVciProtocolTypes.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Sixteen boxes of eight CAN and eight LIN channels; anything beyond is refused quietly,
// an unknown protocol with a warning. (The CAN defaults are what DeviceTest's opens send.)
TEST(StoreTest, EntriesAreSixteenBoxesOfEightChannelsPerFamily) {
    KvVciConfigStore store;
    store.loadDefaults();
    LogCapture log;
    EXPECT_EQ(store.getChannelIndices(15, kVciProtocolIdCan, -1),
              (std::vector<ZxIndex>{0, 1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(store.getChannelIndices(15, kVciProtocolIdLin, -1).size(), 8u);
    EXPECT_NE(store.getChannelConfig(15, kVciProtocolIdLin, 7), nullptr);
    EXPECT_TRUE(store.getChannelIndices(16, kVciProtocolIdCan, -1).empty() &&
                store.getChannelIndices(0, kVciProtocolIdCan, 8).empty() &&
                store.getChannelIndices(0, kVciProtocolIdCan, -2).empty());
    EXPECT_EQ(store.getChannelConfig(16, kVciProtocolIdCan, 0), nullptr);
    EXPECT_EQ(store.getChannelConfig(0, kVciProtocolIdCan, -1), nullptr);
    EXPECT_EQ(store.getChannelConfig(0, kVciProtocolIdLin, 8), nullptr);
    store.setDeviceAddress(16, QStringLiteral("192.168.201.1"));
    EXPECT_TRUE(store.getDeviceAddress(16).isEmpty());
    EXPECT_EQ(log.text(), "");
    EXPECT_EQ(store.getChannelConfig(0, 3, 0), nullptr);
    EXPECT_TRUE(log.hasLine(2, "getChannelConfig called with unknown protocolId: 3"));
}

} // namespace
