#include "tests/support/LogCapture.h"
#include "tests/support/PollUntil.h"
#include "tests/support/PrivateNetwork.h"
#include "tools/vci-sim/VciSimulator.h"
#include "vci/config/KvVciConfigStore.h"
#include "vci/device/KvVciDevice.h"
#include "vci/manager/KvVciDeviceManager.h"
#include "zxcollector_api.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace {

constexpr std::uint8_t kCan = 0x01;
constexpr std::uint8_t kDevice = 0x0F;

std::size_t versionRequests(const vcisim::VciSimulator& sim, std::uint32_t box) {
    std::size_t n = 0;
    for (const auto& datagram : sim.receivedDatagrams(box)) {
        n += datagram.bytes.size() > 3 && datagram.bytes[2] == kDevice && datagram.bytes[3] == 0x60;
    }
    return n;
}

class DeviceManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        KvVciConfigStore& store = KvVciConfigStore::instance();
        store.loadDefaults();
        for (int i = 0; i < 16; ++i) {
            store.setDeviceAddress(i, QStringLiteral("192.168.201.1"));
        }
        manager = std::make_unique<KvVciDeviceManager>();
    }
    void TearDown() override { manager.reset(); }

    bool startBoxes(std::vector<std::uint32_t> indices) {
        vcisim::VciSimulatorOptions options;
        options.deviceIndices = std::move(indices);
        options.modules.clear();
        options.busLoadIntervalMs = 0;
        sim = std::make_unique<vcisim::VciSimulator>(options);
        if (!sim->start()) {
            ADD_FAILURE() << sim->lastError();
            return false;
        }
        return true;
    }

    std::unique_ptr<vcisim::VciSimulator> sim;
    std::unique_ptr<KvVciDeviceManager> manager;
};

TEST_F(DeviceManagerTest, OpeningAnOpenDeviceWarnsAndKeepsIt) {
    ZX_REQUIRE_PRIVATE_NETWORK();
    ASSERT_TRUE(startBoxes({1}));
    LogCapture log;
    ASSERT_EQ(manager->openDevice(1), ZX_OK);
    const std::shared_ptr<KvVciDevice> device = manager->findDevice(1);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(manager->openDevice(1), ZX_OK);
    EXPECT_EQ(manager->findDevice(1), device);
    EXPECT_TRUE(log.hasLine(2, "Device1 is already opened"));
    EXPECT_EQ(versionRequests(*sim, 1), 1u);
    EXPECT_EQ(manager->closeDevice(1), ZX_OK);
    EXPECT_EQ(manager->findDevice(1), nullptr);
    EXPECT_EQ(manager->closeDevice(1), ZX_ERR_DEVICE_NOT_OPEN);
}

TEST_F(DeviceManagerTest, AllDevicesIndexMeansTheDefaultDevice) {
    ZX_REQUIRE_PRIVATE_NETWORK();
    ASSERT_TRUE(startBoxes({0}));
    ASSERT_EQ(manager->openDevice(KvVciDeviceManager::kAllDevices), ZX_OK);
    EXPECT_NE(manager->findDevice(0), nullptr);
    EXPECT_EQ(manager->closeDevice(-1), ZX_OK);
    EXPECT_EQ(manager->findDevice(0), nullptr);
}

TEST_F(DeviceManagerTest, DeviceWhoseBoxDoesNotAnswerIsNotKept) {
    ZX_REQUIRE_PRIVATE_NETWORK();
    ASSERT_TRUE(startBoxes({2}));
    sim->setSilent(true, 2);
    EXPECT_EQ(manager->openDevice(2), ZX_ERR_OPEN_DEVICE);
    EXPECT_EQ(manager->findDevice(2), nullptr);
    EXPECT_EQ(manager->closeDevice(2), ZX_ERR_DEVICE_NOT_OPEN);
    sim->setSilent(false, 2);
    EXPECT_EQ(manager->openDevice(2), ZX_OK); // a later open starts from scratch
}

TEST_F(DeviceManagerTest, CanChannelsOfDeviceThatIsNotOpenAreRefused) {
    LogCapture log;
    EXPECT_EQ(manager->openCanChannel(5, 0), ZX_ERR_DEVICE_NOT_OPEN);
    EXPECT_TRUE(log.hasLine(3, "Open CAN failed: device 5 not found"));
    EXPECT_EQ(manager->closeCanChannel(5, 0), ZX_ERR_DEVICE_NOT_OPEN);
    EXPECT_TRUE(log.hasLine(3, "Close CAN failed: device 5 not found"));
}

TEST_F(DeviceManagerTest, CanChannelRequestsReachTheBox) {
    ZX_REQUIRE_PRIVATE_NETWORK();
    ASSERT_TRUE(startBoxes({0}));
    ASSERT_EQ(manager->openDevice(0), ZX_OK);
    EXPECT_EQ(manager->openCanChannel(0, 3), ZX_OK);
    EXPECT_TRUE(sim->channel(0, 3).open);
    EXPECT_TRUE(KvVciConfigStore::instance().isCanChannelOpened(0, 3));
    EXPECT_EQ(manager->openCanChannel(0, 8), ZX_ERR_UNKNOWN_CHANNEL);
    EXPECT_EQ(manager->closeCanChannel(0, 3), ZX_OK);
    EXPECT_FALSE(sim->channel(0, 3).open);
    EXPECT_FALSE(KvVciConfigStore::instance().isCanChannelOpened(0, 3));
}

TEST_F(DeviceManagerTest, CloseAllWithoutDevicesDoesNothing) {
    LogCapture log;
    EXPECT_EQ(manager->closeAllDevices(), ZX_OK);
    EXPECT_EQ(manager->closeAllDevices(KvVciCloseMode::OnCallingThread), ZX_OK);
    EXPECT_FALSE(log.contains("Closed all device"));
}

class DeviceManagerCloseAllTest : public DeviceManagerTest,
                                  public ::testing::WithParamInterface<KvVciCloseMode> {};

TEST_P(DeviceManagerCloseAllTest, OneFailingBoxGivesItsCodeAndEveryDeviceIsGone) {
    ZX_REQUIRE_PRIVATE_NETWORK();
    ASSERT_TRUE(startBoxes({0, 1, 2}));
    LogCapture log;
    for (std::uint32_t i = 0; i < 3; ++i) {
        ASSERT_EQ(manager->openDevice(i), ZX_OK);
        ASSERT_EQ(manager->openCanChannel(i, 0), ZX_OK);
    }
    vcisim::Misbehaviour bad;
    bad.dropReplies.push_back({kCan, 0x20, 0});
    sim->setMisbehaviour(bad, 1);

    EXPECT_EQ(manager->closeAllDevices(GetParam()), ZX_ERR_CLOSE_CAN);
    for (std::uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(manager->findDevice(i), nullptr);
        EXPECT_FALSE(KvVciConfigStore::instance().isDeviceOpened(static_cast<int>(i)));
    }
    EXPECT_FALSE(sim->channel(0, 0).open);
    EXPECT_FALSE(sim->channel(2, 0).open);
    EXPECT_EQ(log.count("Closed all device"), 1u);
    EXPECT_TRUE(log.hasLine(1, "Closed all device"));
    EXPECT_EQ(manager->closeAllDevices(GetParam()), ZX_OK);
    EXPECT_EQ(log.count("Closed all device"), 1u);
}

INSTANTIATE_TEST_SUITE_P(BothModes, DeviceManagerCloseAllTest,
                         ::testing::Values(KvVciCloseMode::Parallel, KvVciCloseMode::OnCallingThread),
                         [](const ::testing::TestParamInfo<KvVciCloseMode>& info) {
                             return info.param == KvVciCloseMode::Parallel ? std::string("Parallel")
                                                                           : std::string("OnCallingThread");
                         });

TEST_F(DeviceManagerTest, DisplayModeAcceptsOnlyKnownModes) {
    EXPECT_EQ(manager->timestampDisplayMode(), 2u);
    manager->setTimestampDisplayMode(7);
    EXPECT_EQ(manager->timestampDisplayMode(), 2u);
    manager->setTimestampDisplayMode(4);
    EXPECT_EQ(manager->timestampDisplayMode(), 4u);
    manager->setTimestampDisplayMode(5);
    EXPECT_EQ(manager->timestampDisplayMode(), 4u);
}

TEST_F(DeviceManagerTest, TimestampTextsAgreeBetweenBothForms) {
    manager->setTimestampDisplayMode(3); // raw box ticks
    char text[32];
    const std::size_t length = manager->formatTimestamp(0, 123456789, text, sizeof(text));
    EXPECT_EQ(std::string(text, length), "123456789");
    EXPECT_LT(std::strlen(text), sizeof(text));
}

} // namespace
