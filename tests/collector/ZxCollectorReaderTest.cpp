// Record conversion and read rules of a reader over channel buffers fed directly.
#include "collector/ZxCollectorReader.h"

#include "tests/support/LogCapture.h"
#include "vci/device/KvVciChannelBufferManager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <thread>
#include <vector>

namespace {

constexpr std::uint32_t kDevice = 4;
constexpr std::uint32_t kChannel = 1;

_KvVciCanDataType makeFrame(std::uint32_t id, std::uint8_t dataLength, std::uint64_t timestamp = 0) {
    _KvVciCanDataType frame;
    std::memset(&frame, 0, sizeof(frame));
    frame.id = id;
    frame.dataLength = dataLength;
    frame.frameKind = kVciCanFrameKindReceived;
    frame.timestamp = timestamp;
    for (std::uint8_t i = 0; i < dataLength; ++i) {
        frame.data[i] = static_cast<std::uint8_t>(i + 1);
    }
    return frame;
}

class ReaderOverBuffers : public ::testing::Test {
protected:
    void push(const _KvVciCanDataType& frame) { ASSERT_EQ(buffers_.pushCanRecord(kChannel, frame), 0); }

    // Host buffer filled with a pattern so untouched and stale bytes show.
    std::vector<ZxCollectData> hostBuffer(std::size_t count) {
        std::vector<ZxCollectData> records(count);
        std::memset(records.data(), 0xAA, count * sizeof(ZxCollectData));
        return records;
    }

    KvVciChannelBufferManager buffers_{2};
    ZxCollectorReader reader_{kDevice, kChannel, buffers_};
};

TEST_F(ReaderOverBuffers, LongFrameGivesSignedLittleEndianValues) {
    _KvVciCanDataType frame = makeFrame(0x101, 64);
    const std::uint8_t minusTwo[] = {0xFE, 0xFF, 0xFF, 0xFF};
    std::memcpy(frame.data, minusTwo, 4);
    const std::uint8_t noValue[] = {0x01, 0x00, 0x00, 0x80};
    std::memcpy(frame.data + 28, noValue, 4);
    push(frame);

    auto records = hostBuffer(4);
    ASSERT_EQ(reader_.read(records.data(), 4), 1);

    const ZxCollectData& record = records[0];
    EXPECT_EQ(record.canId, 0x101u);
    EXPECT_EQ(record.reserved, 0u);
    EXPECT_EQ(record.values[0], -2);
    EXPECT_EQ(record.values[1], 0x08070605);
    EXPECT_EQ(record.values[6], 0x1C1B1A19);
    EXPECT_EQ(record.values[7], ZX_NO_VALUE);
    // The host's buffer beyond the records read is untouched.
    EXPECT_EQ(records[1].canId, 0xAAAAAAAAu);
}

TEST_F(ReaderOverBuffers, ThirtyTwoByteFrameFillsAllEightValues) {
    push(makeFrame(0x7FF, 32));
    auto records = hostBuffer(1);
    ASSERT_EQ(reader_.read(records.data(), 1), 1);
    EXPECT_EQ(records[0].values[0], 0x04030201);
    EXPECT_EQ(records[0].values[7], 0x201F1E1D);
}

TEST_F(ReaderOverBuffers, FramesShorterThanThirtyTwoBytesGiveZeros) {
    push(makeFrame(0x1ABCDEF0, 16));
    push(makeFrame(0x001, 31));
    auto records = hostBuffer(2);
    ASSERT_EQ(reader_.read(records.data(), 2), 2);
    for (const ZxCollectData& record : records) {
        EXPECT_EQ(record.reserved, 0u);
        for (std::int32_t value : record.values) {
            EXPECT_EQ(value, 0);
        }
    }
    EXPECT_EQ(records[0].canId, 0x1ABCDEF0u);
    EXPECT_EQ(records[1].canId, 0x001u);
}

TEST_F(ReaderOverBuffers, TimestampTextIsNulTerminatedWithinItsField) {
    push(makeFrame(0x101, 64, 0));
    push(makeFrame(0x101, 64, 0xFFFFFFFFFFFFFFFFull));
    push(makeFrame(0x101, 64, 123456789));
    auto records = hostBuffer(3);
    ASSERT_EQ(reader_.read(records.data(), 3), 3);
    for (const ZxCollectData& record : records) {
        const std::size_t length = strnlen(record.timestamp, sizeof(record.timestamp));
        ASSERT_LT(length, sizeof(record.timestamp));
        EXPECT_GT(length, 0u);
        // Nothing of the host's old bytes follows the text.
        for (std::size_t i = length; i < sizeof(record.timestamp); ++i) {
            EXPECT_EQ(record.timestamp[i], '\0');
        }
    }
}

TEST_F(ReaderOverBuffers, ValuesMatchTheCommonSignalExtraction) {
    std::mt19937 random(7);
    std::vector<_KvVciCanDataType> frames;
    for (int n = 0; n < 200; ++n) {
        _KvVciCanDataType frame = makeFrame(static_cast<std::uint32_t>(n), 32 + n % 33);
        for (auto& byte : frame.data) {
            byte = static_cast<std::uint8_t>(random());
        }
        frames.push_back(frame);
        push(frame);
    }
    auto records = hostBuffer(frames.size());
    ASSERT_EQ(reader_.read(records.data(), static_cast<std::int32_t>(frames.size())), 200);
    for (std::size_t n = 0; n < frames.size(); ++n) {
        for (int k = 0; k < 8; ++k) {
            std::int32_t expected = 0;
            std::memcpy(&expected, frames[n].data + 4 * k, sizeof(expected)); // little-endian host
            ASSERT_EQ(records[n].values[k], expected) << "frame " << n << " value " << k;
        }
    }
}

TEST_F(ReaderOverBuffers, RecordsComeOnceInOrderAndNothingWaitingGivesNoData) {
    for (std::uint32_t id = 1; id <= 5; ++id) {
        push(makeFrame(id, 64));
    }
    auto records = hostBuffer(3);
    ASSERT_EQ(reader_.read(records.data(), 3), 3);
    EXPECT_EQ(records[0].canId, 1u);
    EXPECT_EQ(records[2].canId, 3u);
    ASSERT_EQ(reader_.read(records.data(), 3), 2);
    EXPECT_EQ(records[0].canId, 4u);
    EXPECT_EQ(records[1].canId, 5u);

    auto untouched = hostBuffer(1);
    EXPECT_EQ(reader_.read(untouched.data(), 1), ZX_ERR_NO_DATA);
    EXPECT_EQ(untouched[0].canId, 0xAAAAAAAAu);
}

TEST_F(ReaderOverBuffers, OneReadTakesAtMostTheStagingArea) {
    const std::size_t waiting = ZxCollectorReader::kStagingCapacity + 2500;
    for (std::size_t n = 0; n < waiting; ++n) {
        push(makeFrame(static_cast<std::uint32_t>(n), 64));
    }
    auto records = hostBuffer(waiting);
    ASSERT_EQ(reader_.read(records.data(), static_cast<std::int32_t>(waiting)),
              static_cast<std::int32_t>(ZxCollectorReader::kStagingCapacity));
    EXPECT_EQ(records[ZxCollectorReader::kStagingCapacity - 1].canId,
              ZxCollectorReader::kStagingCapacity - 1);
    EXPECT_EQ(records[ZxCollectorReader::kStagingCapacity].canId, 0xAAAAAAAAu);
    ASSERT_EQ(reader_.read(records.data(), static_cast<std::int32_t>(waiting)), 2500);
    EXPECT_EQ(records[0].canId, ZxCollectorReader::kStagingCapacity);
}

TEST_F(ReaderOverBuffers, NullBufferZeroOrNegativeCapacityAreRefusedWithoutTakingRecords) {
    push(makeFrame(0x101, 64));
    auto records = hostBuffer(1);
    EXPECT_EQ(reader_.read(nullptr, 10), ZX_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(reader_.read(records.data(), 0), ZX_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(reader_.read(records.data(), -1), ZX_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(reader_.read(records.data(), INT32_MIN), ZX_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(records[0].canId, 0xAAAAAAAAu);
    // The refused calls left the record waiting.
    EXPECT_EQ(reader_.read(records.data(), 1), 1);
    EXPECT_EQ(records[0].canId, 0x101u);
}

TEST_F(ReaderOverBuffers, ClearDiscardsWaitingRecords) {
    push(makeFrame(0x101, 64));
    push(makeFrame(0x102, 64));
    EXPECT_EQ(reader_.clear(), 0);
    auto records = hostBuffer(2);
    EXPECT_EQ(reader_.read(records.data(), 2), ZX_ERR_NO_DATA);
    push(makeFrame(0x103, 64));
    EXPECT_EQ(reader_.read(records.data(), 2), 1);
    EXPECT_EQ(records[0].canId, 0x103u);
}

TEST_F(ReaderOverBuffers, TwoThreadsReadingOneChannelGetEveryRecordOnceAndWhole) {
    constexpr std::uint32_t kFrames = 100000;
    for (std::uint32_t n = 0; n < kFrames; ++n) {
        _KvVciCanDataType frame = makeFrame(n, 64);
        std::memcpy(frame.data, &n, sizeof(n));
        push(frame);
    }
    std::vector<std::uint32_t> seen[2];
    auto drain = [this](std::vector<std::uint32_t>& ids) {
        std::vector<ZxCollectData> records(700);
        for (;;) {
            const std::int32_t n = reader_.read(records.data(), static_cast<std::int32_t>(records.size()));
            if (n <= 0) {
                return;
            }
            for (std::int32_t i = 0; i < n; ++i) {
                // A record converted from another thread's frame would not match itself.
                ASSERT_EQ(static_cast<std::uint32_t>(records[i].values[0]), records[i].canId);
                ids.push_back(records[i].canId);
            }
        }
    };
    std::thread other(drain, std::ref(seen[1]));
    drain(seen[0]);
    other.join();

    std::vector<std::uint32_t> all(seen[0]);
    all.insert(all.end(), seen[1].begin(), seen[1].end());
    std::sort(all.begin(), all.end());
    ASSERT_EQ(all.size(), kFrames);
    for (std::uint32_t n = 0; n < kFrames; ++n) {
        ASSERT_EQ(all[n], n);
    }
}

TEST(ReaderOverMissingChannel, ChannelWithoutBufferReportsUnknownChannelAndNoData) {
    KvVciChannelBufferManager buffers(2);
    ZxCollectorReader reader(0, 9, buffers);
    ZxCollectData record;
    EXPECT_EQ(reader.read(&record, 1), ZX_ERR_NO_DATA);
    EXPECT_EQ(reader.clear(), ZX_ERR_UNKNOWN_CHANNEL);
}

TEST(ReaderCreation, ChannelThatIsNotOpenFailsWithItsMessage) {
    LogCapture log;
    EXPECT_THROW(ZxCollectorReader(15, 3), std::runtime_error);
    EXPECT_TRUE(log.contains("Failed to initialize: CAN channel not opened for device 15, channel 3"));
}

} // namespace
