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

TEST_F(StoreTest, DefaultsGiveSixteenEntriesWithEightCanAndEightLinChannels) {
    EXPECT_EQ(store.deviceCount(), 16);
    EXPECT_EQ(store.getDefaultDeviceIndex(), 0);
    for (int device = 0; device < 16; ++device) {
        KvVciDeviceConfig entry;
        ASSERT_TRUE(store.getDevice(device, entry)) << device;
        EXPECT_TRUE(!entry.opened && !entry.reserved && entry.address.isEmpty()) << device;
        ASSERT_EQ(entry.canChannels.size(), 8u);
        ASSERT_EQ(entry.linChannels.size(), 8u);
        // the CAN defaults are what the device sends when it opens a channel (DeviceTest)
        for (const KvVciLinChannelConfig& lin : entry.linChannels) {
            const char* mode = &lin == &entry.linChannels[0] ? "Master" : "Slave";
            EXPECT_TRUE(lin.bitRate == 19200u && lin.mode == mode && !lin.opened) << device;
        }
    }
    KvVciDeviceConfig missing;
    EXPECT_FALSE(store.getDevice(16, missing));
    store.addOrUpdateDevice(16, KvVciDeviceConfig::makeDefault());
    EXPECT_EQ(store.deviceCount(), 16);
    EXPECT_TRUE(log.hasLine(2, "Attempted to add device with invalid index: 16"));
}

TEST_F(StoreTest, LookupsRefuseUnknownProtocolsLoudlyAndMissingEntriesQuietly) {
    EXPECT_EQ(store.getChannelConfig(0, 3, 0), nullptr);
    EXPECT_TRUE(log.hasLine(2, "getChannelConfig called with unknown protocolId: 3"));
    EXPECT_TRUE(store.getChannelIndices(0, 2, -1).empty());
    EXPECT_TRUE(log.hasLine(2, "getChannelIndices called with unknown protocolId: 2"));

    const std::string before = log.text();
    EXPECT_EQ(store.getChannelConfig(20, 3, 0), nullptr);
    EXPECT_EQ(store.getChannelConfig(0, kVciProtocolIdCan, -1), nullptr);
    EXPECT_EQ(store.getChannelConfig(0, kVciProtocolIdLin, 8), nullptr);
    EXPECT_TRUE(store.getChannelIndices(0, kVciProtocolIdCan, 8).empty() &&
                store.getChannelIndices(0, kVciProtocolIdCan, -2).empty() &&
                store.getChannelIndices(16, kVciProtocolIdCan, -1).empty());
    store.setDeviceAddress(99, QStringLiteral("192.168.201.1"));
    EXPECT_TRUE(store.getDeviceAddress(99).isEmpty());
    EXPECT_EQ(log.text(), before);
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

TEST_F(StoreTest, BoxAddressIsOneHundredThirtyPlusIndex) {
    EXPECT_EQ(KvVciConfigStore::getServerAddress(0), QStringLiteral("192.168.201.130"));
    EXPECT_EQ(KvVciConfigStore::getServerAddress(15), QStringLiteral("192.168.201.145"));
    EXPECT_TRUE(KvVciConfigStore::getServerAddress(16).isEmpty());
    EXPECT_TRUE(KvVciConfigStore::getServerAddress(0xFFFFFFFFu).isEmpty());
}

} // namespace
