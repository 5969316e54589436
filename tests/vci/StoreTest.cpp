#include "tests/support/LogCapture.h"
#include "vci/config/KvVciConfigStore.h"
#include "vci/device/KvVciProtocolTypes.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

class StoreTest : public ::testing::Test {
protected:
    StoreTest() { store.loadDefaults(); }
    KvVciConfigStore store;
};

TEST_F(StoreTest, DefaultsGiveSixteenEntriesWithEightCanAndEightLinChannels) {
    EXPECT_EQ(store.deviceCount(), 16);
    EXPECT_EQ(store.getDefaultDeviceIndex(), 0);
    for (int device = 0; device < 16; ++device) {
        KvVciDeviceConfig entry;
        ASSERT_TRUE(store.getDevice(device, entry)) << device;
        EXPECT_FALSE(entry.opened);
        EXPECT_FALSE(entry.reserved);
        EXPECT_TRUE(entry.address.isEmpty());
        ASSERT_EQ(entry.canChannels.size(), 8u);
        ASSERT_EQ(entry.linChannels.size(), 8u);
        for (const KvVciCanChannelConfig& can : entry.canChannels) {
            EXPECT_EQ(can.bitRate, 500000u);
            EXPECT_EQ(can.dataBitRate, 2000000u);
            EXPECT_EQ(can.mode, QStringLiteral("CANFD"));
            EXPECT_EQ(can.timing, (std::array<std::uint8_t, 4>{{31, 8, 15, 4}}));
            EXPECT_EQ(can.terminalResistor, 1);
            EXPECT_FALSE(can.opened);
        }
        for (std::size_t i = 0; i < entry.linChannels.size(); ++i) {
            EXPECT_EQ(entry.linChannels[i].bitRate, 19200u);
            EXPECT_EQ(entry.linChannels[i].mode, i == 0 ? QStringLiteral("Master") : QStringLiteral("Slave"));
            EXPECT_FALSE(entry.linChannels[i].opened);
        }
    }
    KvVciDeviceConfig missing;
    EXPECT_FALSE(store.getDevice(16, missing));
}

TEST_F(StoreTest, LoadingDefaultsAgainClearsChangesAndSaysSo) {
    LogCapture log;
    const std::size_t addedBefore = log.count("Adding or updating device with index: ");
    store.setDeviceAddress(3, QStringLiteral("192.168.201.1"));
    store.setCanChannelOpened(3, 2, true);
    store.loadDefaults();
    EXPECT_TRUE(store.getDeviceAddress(3).isEmpty());
    EXPECT_FALSE(store.isCanChannelOpened(3, 2));
    EXPECT_TRUE(log.hasLine(1, "Clearing all 16 devices."));
    EXPECT_EQ(log.count("Adding or updating device with index: ") - addedBefore, 16u);
}

TEST_F(StoreTest, AddingDeviceAboveFifteenIsRefusedWithWarning) {
    LogCapture log;
    store.addOrUpdateDevice(16, KvVciDeviceConfig::makeDefault());
    EXPECT_EQ(store.deviceCount(), 16);
    EXPECT_TRUE(log.hasLine(2, "Attempted to add device with invalid index: 16"));
}

TEST_F(StoreTest, UpdatedEntryTakesGivenArraysAndLinRecordsAfterTheFirstBecomeSlave) {
    KvVciDeviceConfig entry;
    entry.address = QStringLiteral("192.168.201.2");
    entry.opened = true;
    entry.canChannels.resize(2);
    entry.linChannels.resize(3);
    entry.linChannels[0].mode = QStringLiteral("Slave");
    entry.linChannels[1].mode = QStringLiteral("Master");
    store.addOrUpdateDevice(3, entry);

    KvVciDeviceConfig stored;
    ASSERT_TRUE(store.getDevice(3, stored));
    EXPECT_TRUE(stored.opened);
    EXPECT_EQ(stored.address, QStringLiteral("192.168.201.2"));
    EXPECT_EQ(stored.canChannels.size(), 2u);
    ASSERT_EQ(stored.linChannels.size(), 3u);
    EXPECT_EQ(stored.linChannels[0].mode, QStringLiteral("Slave")); // record 0 keeps what it carried
    EXPECT_EQ(stored.linChannels[1].mode, QStringLiteral("Slave"));
    EXPECT_EQ(stored.linChannels[2].mode, QStringLiteral("Slave"));
    EXPECT_EQ(store.getCanChannelCount(3), 2);
    EXPECT_FALSE(store.isCanChannelValid(3, 2));
}

TEST_F(StoreTest, ChannelConfigLookupRefusesUnknownProtocolLoudlyAndMissingDeviceQuietly) {
    LogCapture log;
    EXPECT_EQ(store.getChannelConfig(0, 3, 0), nullptr);
    EXPECT_TRUE(log.hasLine(2, "getChannelConfig called with unknown protocolId: 3"));

    const std::string before = log.text();
    EXPECT_EQ(store.getChannelConfig(20, 3, 0), nullptr);
    EXPECT_EQ(log.text(), before);

    EXPECT_EQ(store.getChannelConfig(0, kVciProtocolIdCan, 8), nullptr);
    EXPECT_EQ(store.getChannelConfig(0, kVciProtocolIdCan, -1), nullptr);
    EXPECT_EQ(store.getChannelConfig(0, kVciProtocolIdLin, 8), nullptr);
}

TEST_F(StoreTest, ChannelConfigIsWrittenInPlaceThroughTheReturnedRecord) {
    auto* can = dynamic_cast<KvVciCanChannelConfig*>(store.getChannelConfig(2, kVciProtocolIdCan, 5));
    ASSERT_NE(can, nullptr);
    can->mode = QStringLiteral("CAN");
    can->bitRate = 250000;
    KvVciDeviceConfig stored;
    ASSERT_TRUE(store.getDevice(2, stored));
    EXPECT_EQ(stored.canChannels[5].mode, QStringLiteral("CAN"));
    EXPECT_EQ(stored.canChannels[5].bitRate, 250000u);

    auto* lin = dynamic_cast<KvVciLinChannelConfig*>(store.getChannelConfig(2, kVciProtocolIdLin, 0));
    ASSERT_NE(lin, nullptr);
    EXPECT_EQ(lin->mode, QStringLiteral("Master"));
}

TEST_F(StoreTest, ChannelIndicesCoverAllOneOrNone) {
    LogCapture log;
    EXPECT_EQ(store.getChannelIndices(0, kVciProtocolIdCan, -1), (std::vector<ZxIndex>{0, 1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(store.getChannelIndices(0, kVciProtocolIdLin, -1), (std::vector<ZxIndex>{0, 1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(store.getChannelIndices(0, kVciProtocolIdCan, 7), (std::vector<ZxIndex>{7}));
    EXPECT_TRUE(store.getChannelIndices(0, kVciProtocolIdCan, 8).empty());
    EXPECT_TRUE(store.getChannelIndices(0, kVciProtocolIdCan, -2).empty());
    EXPECT_TRUE(store.getChannelIndices(16, kVciProtocolIdCan, -1).empty());
    EXPECT_FALSE(log.contains("getChannelIndices called with unknown protocolId"));
    EXPECT_TRUE(store.getChannelIndices(0, 2, -1).empty());
    EXPECT_TRUE(log.hasLine(2, "getChannelIndices called with unknown protocolId: 2"));
}

TEST_F(StoreTest, OpenedFlagsChangeOnlyForValidChannels) {
    EXPECT_TRUE(store.setCanChannelOpened(1, 7, true));
    EXPECT_TRUE(store.isCanChannelOpened(1, 7));
    EXPECT_FALSE(store.isCanChannelOpened(1, 6));
    EXPECT_FALSE(store.setCanChannelOpened(1, 8, true));
    EXPECT_FALSE(store.setCanChannelOpened(16, 0, true));
    EXPECT_FALSE(store.isCanChannelOpened(1, 8));
    EXPECT_FALSE(store.isCanChannelOpened(1, -1));

    EXPECT_TRUE(store.setLinChannelOpened(1, 0, true));
    EXPECT_TRUE(store.isLinChannelOpened(1, 0));
    EXPECT_FALSE(store.isCanChannelOpened(1, 0)); // families are separate
    EXPECT_FALSE(store.setLinChannelOpened(1, 8, true));

    EXPECT_TRUE(store.setDeviceOpened(4, true));
    EXPECT_TRUE(store.isDeviceOpened(4));
    EXPECT_FALSE(store.setDeviceOpened(99, true));
    EXPECT_EQ(store.getCanChannelCount(99), 0);
}

TEST_F(StoreTest, AddressOfMissingEntryIsIgnoredQuietly) {
    LogCapture log;
    const std::string before = log.text();
    store.setDeviceAddress(99, QStringLiteral("192.168.201.1"));
    EXPECT_TRUE(store.getDeviceAddress(99).isEmpty());
    EXPECT_EQ(log.text(), before);
    store.setDeviceAddress(5, QStringLiteral("192.168.201.7"));
    EXPECT_EQ(store.getDeviceAddress(5), QStringLiteral("192.168.201.7"));
}

TEST(StoreServerAddressTest, BoxAddressIsOneHundredThirtyPlusIndex) {
    EXPECT_EQ(KvVciConfigStore::getServerAddress(0), QStringLiteral("192.168.201.130"));
    EXPECT_EQ(KvVciConfigStore::getServerAddress(15), QStringLiteral("192.168.201.145"));
    EXPECT_TRUE(KvVciConfigStore::getServerAddress(16).isEmpty());
    EXPECT_TRUE(KvVciConfigStore::getServerAddress(0xFFFFFFFFu).isEmpty());
}

TEST_F(StoreTest, ConcurrentFlagWritersAndReadersKeepEveryEntry) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([this, t] {
            for (int i = 0; i < 2000; ++i) {
                store.setCanChannelOpened(t, i % 8, (i & 1) != 0);
                store.isLinChannelOpened(t, i % 8);
                store.getChannelIndices(t, kVciProtocolIdCan, -1);
                store.setDeviceAddress(t, QStringLiteral("192.168.201.%1").arg(i % 200 + 1));
                store.getDeviceAddress(t);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(store.deviceCount(), 16);
    EXPECT_EQ(store.getDeviceAddress(0), QStringLiteral("192.168.201.200"));
}

} // namespace
