#include "tests/collector/CollectorOnBox.h"

#include "vci/config/KvVciChannelConfig.h"
#include "vci/config/KvVciConfigStore.h"
#include "vci/device/KvVciProtocolTypes.h"
#include "vci/manager/KvVciDeviceManager.h"

#include <QString>

void CollectorOnBox::SetUp() {
    SimulatorTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) {
        return;
    }
    // The library's load fills the store; this test program has no load.
    static const bool storeFilled = [] {
        KvVciConfigStore::instance().loadDefaults();
        return true;
    }();
    (void)storeFilled;
    openDevice(kDevice);
    openChannel(kDevice, kChannel);
}

void CollectorOnBox::TearDown() {
    collector().closeAllReaders();
    KvVciDeviceManager::instance().closeAllDevices();
    SimulatorTest::TearDown();
}

void CollectorOnBox::openDevice(std::uint32_t device) {
    KvVciConfigStore::instance().setDeviceAddress(static_cast<int>(device), QStringLiteral("192.168.201.1"));
    ASSERT_EQ(KvVciDeviceManager::instance().openDevice(device), 0);
}

void CollectorOnBox::openChannel(std::uint32_t device, std::uint32_t channel) {
    auto* config = static_cast<KvVciCanChannelConfig*>(KvVciConfigStore::instance().getChannelConfig(
        static_cast<int>(device), kVciProtocolIdCan, static_cast<int>(channel)));
    ASSERT_NE(config, nullptr);
    config->mode = QStringLiteral("CAN");
    config->bitRate = 500000;
    ASSERT_EQ(KvVciDeviceManager::instance().openCanChannel(device, channel), 0);
    ASSERT_EQ(collector().createReader(device, channel), 0);
}
