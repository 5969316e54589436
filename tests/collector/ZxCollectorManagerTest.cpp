// Readers of real channels of the simulated box: records end to end, lifecycle.
#include "tests/collector/CollectorOnBox.h"
#include "tests/support/LogCapture.h"
#include "vci/device/KvVciChannelBufferManager.h"
#include "vci/device/KvVciDevice.h"
#include "vci/manager/KvVciDeviceManager.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

using namespace std::chrono_literals;

namespace {

TEST_F(CollectorOnStreamingBox, EveryFrameBecomesOneRecordInOrder) {
    const std::vector<ZxCollectData> records = readRecords(kFrames, 30s);
    ASSERT_EQ(records.size(), kFrames);
    EXPECT_EQ(simulator().framesSent(kDevice), kFrames);
    EXPECT_GT(simulator().datagramsSent(kDevice), kFrames / 100); // many datagrams, not one
    for (std::size_t c = 0; c < records.size(); ++c) {
        const ZxCollectData& record = records[c];
        ASSERT_EQ(record.values[7], static_cast<std::int32_t>(c)) << "frame counter at record " << c;
        ASSERT_EQ(record.canId, kModuleId);
        ASSERT_EQ(record.reserved, 0u);
        for (int k = 0; k < 6; ++k) {
            ASSERT_EQ(record.values[k], static_cast<std::int32_t>(c * 8 + k));
        }
        ASSERT_LT(strnlen(record.timestamp, sizeof(record.timestamp)), sizeof(record.timestamp));
    }
    // Everything was delivered once: nothing is left.
    ZxCollectData extra;
    EXPECT_EQ(collector().readBuffer(kDevice, kChannel, &extra, 1), ZX_ERR_NO_DATA);
}

TEST_F(CollectorOnStreamingBox, ClearDiscardsWaitingRecords) {
    const std::shared_ptr<KvVciDevice> device = KvVciDeviceManager::instance().findDevice(kDevice);
    ASSERT_NE(device, nullptr);
    KvVciChannelBufferManager* buffers = &device->channelBufferManager();
    ASSERT_TRUE(zxtest::pollUntil(30s, [&] { return simulator().rateFinished(kDevice); }));
    ASSERT_TRUE(
        zxtest::pollUntil(10s, [&] { return buffers->canBuffer(kChannel)->sizeApprox() >= kFrames; }));

    EXPECT_EQ(collector().clearBuffer(kDevice, kChannel), 0);
    ZxCollectData record;
    EXPECT_EQ(collector().readBuffer(kDevice, kChannel, &record, 1), ZX_ERR_NO_DATA);
}

class CollectorOnQuietBox : public CollectorOnBox {
protected:
    vcisim::VciSimulatorOptions simulatorOptions() const override {
        vcisim::VciSimulatorOptions options;
        options.deviceIndices = {0, 1};
        options.modules = {};
        return options;
    }
};

TEST_F(CollectorOnQuietBox, NothingWaitingGivesNoDataAndLeavesTheBufferAlone) {
    ZxCollectData record;
    std::memset(&record, 0x5A, sizeof(record));
    EXPECT_EQ(collector().readBuffer(kDevice, kChannel, &record, 1), ZX_ERR_NO_DATA);
    EXPECT_EQ(record.canId, 0x5A5A5A5Au);
    EXPECT_EQ(collector().readBuffer(kDevice, kChannel, &record, -5), ZX_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(collector().readBuffer(kDevice, kChannel, nullptr, 5), ZX_ERR_INVALID_ARGUMENT);
}

TEST_F(CollectorOnQuietBox, ReaderLivesFromInitialisationToResetOrClose) {
    LogCapture log;
    ZxCollectData record;

    // A second initialisation keeps the reader.
    EXPECT_EQ(collector().createReader(kDevice, kChannel), 0);
    EXPECT_TRUE(log.contains("Reader for DEV 0 CH 0 already exists."));

    // A channel that was never opened gets no reader.
    EXPECT_EQ(collector().createReader(kDevice, 5), ZX_ERR_NO_READER);
    EXPECT_TRUE(log.contains("Create reader for DEV 0 CH 5 failed: Failed to initialize collector reader"));
    EXPECT_EQ(collector().readBuffer(kDevice, 5, &record, 1), ZX_ERR_NO_READER);

    EXPECT_EQ(collector().resetReader(kDevice, kChannel), 0);
    EXPECT_EQ(collector().readBuffer(kDevice, kChannel, &record, 1), ZX_ERR_NO_READER);
    EXPECT_EQ(collector().clearBuffer(kDevice, kChannel), ZX_ERR_NO_READER);
    EXPECT_TRUE(log.contains("Collector reader destroyed for device 0, channel 0"));
    EXPECT_TRUE(log.contains("Operation failed: Reader not found for DEV 0 CH 0"));

    // Initialised again, it reads again.
    EXPECT_EQ(collector().createReader(kDevice, kChannel), 0);
    EXPECT_EQ(collector().readBuffer(kDevice, kChannel, &record, 1), ZX_ERR_NO_DATA);

    // Closing device 1 leaves device 0's reader working, and the other way round.
    openDevice(1);
    openChannel(1, kChannel);
    EXPECT_EQ(collector().closeDeviceReaders(0), 0);
    EXPECT_EQ(collector().readBuffer(0, kChannel, &record, 1), ZX_ERR_NO_READER);
    EXPECT_EQ(collector().readBuffer(1, kChannel, &record, 1), ZX_ERR_NO_DATA);

    collector().closeAllReaders();
    EXPECT_EQ(collector().readBuffer(1, kChannel, &record, 1), ZX_ERR_NO_READER);
}

TEST(CollectorReaderKey, EveryDeviceChannelPairHasItsOwnKey) {
    EXPECT_NE(ZxCollectorManager::readerKey(0, 256), ZxCollectorManager::readerKey(1, 0));
    EXPECT_NE(ZxCollectorManager::readerKey(0, 0xFFFFFFFFu), ZxCollectorManager::readerKey(0xFFFFFFFFu, 0));
}

} // namespace
