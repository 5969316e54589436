#include "tests/support/LogCapture.h"
#include "vci/config/KvVciConfigStore.h"
#include "vci/device/KvVciProtocolTypes.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

class StoreTest : public ::testing::Test {
protected:
    StoreTest() { store.loadDefaults(); }
    KvVciConfigStore store;
    LogCapture log;
};

// Sixteen boxes of eight CAN and eight LIN channels; anything beyond is refused quietly,
// an unknown protocol with a warning. (The CAN defaults are what DeviceTest's opens send.)
TEST_F(StoreTest, EntriesAreSixteenBoxesOfEightChannelsPerFamily) {
    const std::string before = log.text();
    EXPECT_EQ(store.getChannelIndices(15, kVciProtocolIdCan, -1), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}));
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
    EXPECT_EQ(log.text(), before);
    EXPECT_EQ(store.getChannelConfig(0, 3, 0), nullptr);
    EXPECT_TRUE(log.hasLine(2, "getChannelConfig called with unknown protocolId: 3"));
}

TEST_F(StoreTest, OpenedFlagsChangeOnlyForValidChannels) {
    EXPECT_TRUE(store.setCanChannelOpened(1, 7, true) && store.setLinChannelOpened(1, 0, true) &&
                store.setDeviceOpened(4, true));
    EXPECT_TRUE(store.isCanChannelOpened(1, 7) && store.isLinChannelOpened(1, 0) && store.isDeviceOpened(4));
    EXPECT_FALSE(store.isCanChannelOpened(1, 6) || store.isCanChannelOpened(1, 0)); // families are separate
    EXPECT_FALSE(store.setCanChannelOpened(1, 8, true) || store.setCanChannelOpened(16, 0, true) ||
                 store.setLinChannelOpened(1, 8, true) || store.setDeviceOpened(99, true));
    EXPECT_FALSE(store.isCanChannelOpened(1, -1) || store.isCanChannelOpened(1, 8));
}

} // namespace
