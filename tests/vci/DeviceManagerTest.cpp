// What only the manager shows; opening, closing and channel calls through the exported
// functions are ExportedFunctionsTest's.
#include "tests/support/InProcessSimulator.h"
#include "tests/support/LogCapture.h"
#include "vci/config/KvVciConfigStore.h"
#include "vci/manager/KvVciDeviceManager.h"
#include "zxcollector_api.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

class DeviceManagerTest : public zxtest::SimulatorTest {
protected:
    vcisim::VciSimulatorOptions simulatorOptions() const override {
        vcisim::VciSimulatorOptions options;
        options.deviceIndices = {0, 1, 2};
        options.modules.clear();
        options.busLoadIntervalMs = 0;
        return options;
    }
    void SetUp() override {
        KvVciConfigStore::instance().loadDefaults();
        for (int i = 0; i < 3; ++i) {
            KvVciConfigStore::instance().setDeviceAddress(i, QStringLiteral("192.168.201.1"));
        }
        zxtest::SimulatorTest::SetUp();
    }
    KvVciDeviceManager manager;
};

class DeviceManagerCloseAllTest : public DeviceManagerTest,
                                  public ::testing::WithParamInterface<KvVciCloseMode> {};

TEST_P(DeviceManagerCloseAllTest, CloseAllGivesTheCodeOfAFailingBoxAndClosesEveryDevice) {
    LogCapture log;
    for (std::uint32_t i = 0; i < 3; ++i) {
        ASSERT_EQ(manager.openDevice(i), ZX_OK);
        ASSERT_EQ(manager.openCanChannel(i, 0), ZX_OK);
    }
    vcisim::Misbehaviour bad;
    bad.dropReplies.push_back({0x01, 0x20, 0}); // the close request of a CAN channel
    simulator().setMisbehaviour(bad, 1);

    EXPECT_EQ(manager.closeAllDevices(GetParam()), ZX_ERR_CLOSE_CAN);
    for (std::uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(manager.findDevice(i), nullptr);
        EXPECT_FALSE(KvVciConfigStore::instance().isDeviceOpened(static_cast<int>(i)));
    }
    EXPECT_FALSE(simulator().channel(0, 0).open);
    EXPECT_FALSE(simulator().channel(2, 0).open);
    EXPECT_TRUE(log.hasLine(1, "Closed all device"));
    // nothing left to close: nothing happens, nothing is logged
    EXPECT_EQ(manager.closeAllDevices(GetParam()), ZX_OK);
    EXPECT_EQ(log.count("Closed all device"), 1u);
}

INSTANTIATE_TEST_SUITE_P(BothModes, DeviceManagerCloseAllTest,
                         ::testing::Values(KvVciCloseMode::Parallel, KvVciCloseMode::OnCallingThread));

TEST_F(DeviceManagerTest, DeviceWhoseBoxDoesNotAnswerIsNotKept) {
    simulator().setSilent(true, 2);
    EXPECT_EQ(manager.openDevice(2), ZX_ERR_OPEN_DEVICE);
    EXPECT_EQ(manager.findDevice(2), nullptr);
    simulator().setSilent(false, 2);
    EXPECT_EQ(manager.openDevice(2), ZX_OK); // a later open starts from scratch
    EXPECT_EQ(manager.openDevice(KvVciDeviceManager::kAllDevices), ZX_OK);
    EXPECT_NE(manager.findDevice(0), nullptr); // the default device
    EXPECT_EQ(manager.closeDevice(-1), ZX_OK); // the default device too
    EXPECT_EQ(manager.findDevice(0), nullptr);
    EXPECT_EQ(manager.closeDevice(2), ZX_OK);
}

TEST(DeviceManagerTimeTest, DisplayModeAcceptsOnlyKnownModesAndShapesTheText) {
    KvVciDeviceManager manager;
    EXPECT_EQ(manager.timestampDisplayMode(), 2u);
    manager.setTimestampDisplayMode(5);
    EXPECT_EQ(manager.timestampDisplayMode(), 2u);
    manager.setTimestampDisplayMode(3); // raw box ticks
    char text[32];
    EXPECT_EQ(std::string(text, manager.formatTimestamp(0, 123456789, text, sizeof(text))), "123456789");
}

} // namespace
