#include "tests/collector/CollectorOnBox.h"

#include "vci/config/KvVciChannelConfig.h"
#include "vci/config/KvVciConfigStore.h"
#include "vci/manager/KvVciDeviceManager.h"

#include <QString>

#include <algorithm>

namespace {
constexpr std::uint32_t kProtocolCan = 1;
constexpr std::uint32_t kBitRate = 500000;
} // namespace

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
        static_cast<int>(device), kProtocolCan, static_cast<int>(channel)));
    ASSERT_NE(config, nullptr);
    config->mode = QStringLiteral("CAN");
    config->bitRate = kBitRate;
    ASSERT_EQ(KvVciDeviceManager::instance().openCanChannel(device, channel), 0);
    ASSERT_EQ(collector().createReader(device, channel), 0);
}

std::vector<ZxCollectData> CollectorOnBox::readRecords(std::size_t expected, std::chrono::seconds timeout,
                                                       std::uint32_t device, std::uint32_t channel) {
    std::vector<ZxCollectData> all;
    std::vector<ZxCollectData> batch(4096);
    zxtest::pollUntil(timeout, [&] {
        while (all.size() < expected) {
            // Never more than asked for, so a caller can stop in the middle of a stream.
            const std::size_t wanted = std::min(batch.size(), expected - all.size());
            const std::int32_t n =
                collector().readBuffer(device, channel, batch.data(), static_cast<std::int32_t>(wanted));
            if (n <= 0) {
                break;
            }
            all.insert(all.end(), batch.begin(), batch.begin() + n);
        }
        return all.size() >= expected;
    });
    return all;
}

vcisim::VciSimulatorOptions CollectorOnStreamingBox::simulatorOptions() const {
    vcisim::VciSimulatorOptions options;
    options.modules = {{vcisim::ModuleKind::Temperature, kModuleId, 100, 0x3F, false}};
    options.uniqueValues = true;
    options.busLoadIntervalMs = 0;
    options.rate.enabled = true;
    options.rate.framesPerSecond = kFramesPerSecond;
    options.rate.frameCount = kFrames;
    return options;
}
