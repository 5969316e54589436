// The reader table of the collector manager over real channels of the simulated box.
#include "tests/collector/CollectorOnBox.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

namespace {

class CollectorOnQuietBox : public CollectorOnBox {
protected:
    vcisim::VciSimulatorOptions simulatorOptions() const override {
        vcisim::VciSimulatorOptions options;
        options.deviceIndices = {0, 1};
        options.modules = {};
        return options;
    }
};

TEST_F(CollectorOnQuietBox, ReaderLivesFromInitialisationToResetOrClose) {
    LogCapture log;
    ZxCollectData record;
    // A second initialisation keeps the reader; a channel never opened gets none.
    EXPECT_EQ(collector().createReader(kDevice, kChannel), 0);
    EXPECT_TRUE(log.hasLine(2, "Reader for DEV 0 CH 0 already exists."));
    EXPECT_EQ(collector().createReader(kDevice, 5), ZX_ERR_NO_READER);
    EXPECT_TRUE(log.contains("Create reader for DEV 0 CH 5 failed: Failed to initialize collector reader"));
    EXPECT_TRUE(log.contains("Failed to initialize: CAN channel not opened for device 0, channel 5"));
    EXPECT_EQ(collector().readBuffer(kDevice, 5, &record, 1), ZX_ERR_NO_READER);

    EXPECT_EQ(collector().resetReader(kDevice, kChannel), 0);
    EXPECT_EQ(collector().readBuffer(kDevice, kChannel, &record, 1), ZX_ERR_NO_READER);
    EXPECT_EQ(collector().clearBuffer(kDevice, kChannel), ZX_ERR_NO_READER);
    EXPECT_TRUE(log.hasLine(1, "Collector reader destroyed for device 0, channel 0"));
    EXPECT_TRUE(log.hasLine(3, "Operation failed: Reader not found for DEV 0 CH 0"));
    EXPECT_EQ(collector().createReader(kDevice, kChannel), 0);
    EXPECT_EQ(collector().readBuffer(kDevice, kChannel, &record, 1), ZX_ERR_NO_DATA);

    // Closing device 0 leaves device 1's reader working.
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
