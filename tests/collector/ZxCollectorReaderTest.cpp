// Record conversion and read rules of a reader over channel buffers fed directly.
#include "collector/ZxCollectorReader.h"

#include "vci/device/KvVciChannelBufferManager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr std::uint32_t kChannel = 1;
constexpr std::uint32_t kUntouched = 0xAAAAAAAAu;

// Data bytes 1, 2, 3, ... so that value k is bytes 4k+1 .. 4k+4, little-endian.
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

    // A host buffer filled with a pattern, so untouched and stale bytes show.
    static std::vector<ZxCollectData> hostBuffer(std::size_t count) {
        std::vector<ZxCollectData> records(count);
        std::memset(records.data(), 0xAA, count * sizeof(ZxCollectData));
        return records;
    }

    KvVciChannelBufferManager buffers_{2};
    ZxCollectorReader reader_{4, kChannel, buffers_};
};

// Values: signed 32-bit little-endian, all 0 below 32 data bytes. The timestamp text is
// NUL-terminated with nothing of the host's old bytes after it, whatever the time.
TEST_F(ReaderOverBuffers, RecordsCarryIdentifierTimestampTextAndValuesOfTheirFrame) {
    _KvVciCanDataType longFrame = makeFrame(0x101, 64, 0);
    const std::uint8_t minusTwo[] = {0xFE, 0xFF, 0xFF, 0xFF};
    std::memcpy(longFrame.data, minusTwo, 4);
    push(longFrame);
    push(makeFrame(0x7FF, 32, 0xFFFFFFFFFFFFFFFFull));
    push(makeFrame(0x1ABCDEF0, 31, 123456789));
    auto records = hostBuffer(4);
    ASSERT_EQ(reader_.read(records.data(), 4), 3);
    EXPECT_EQ(records[0].canId, 0x101u);
    EXPECT_EQ(records[0].values[0], -2);
    EXPECT_EQ(records[0].values[7], 0x201F1E1D);
    EXPECT_EQ(records[1].values[0], 0x04030201);
    EXPECT_EQ(records[1].values[7], 0x201F1E1D);
    EXPECT_EQ(records[2].canId, 0x1ABCDEF0u);
    EXPECT_TRUE(std::all_of(records[2].values, records[2].values + 8, [](std::int32_t v) { return v == 0; }));
    for (int i = 0; i < 3; ++i) {
        const ZxCollectData& record = records[i];
        EXPECT_EQ(record.reserved, 0u);
        const std::size_t length = strnlen(record.timestamp, sizeof(record.timestamp));
        EXPECT_TRUE(length > 0 && length < sizeof(record.timestamp));
        EXPECT_TRUE(std::all_of(record.timestamp + length, std::end(record.timestamp),
                                [](char c) { return c == 0; }));
    }
    EXPECT_EQ(records[3].canId, kUntouched);
}

TEST_F(ReaderOverBuffers, RecordsComeOnceInOrderAtMostTheStagingAreaPerReadUntilCleared) {
    const std::size_t waiting = ZxCollectorReader::kStagingCapacity + 2500;
    for (std::size_t n = 0; n < waiting; ++n) {
        push(makeFrame(static_cast<std::uint32_t>(n), 64));
    }
    auto records = hostBuffer(waiting);
    ASSERT_EQ(reader_.read(records.data(), 3), 3);
    EXPECT_EQ(records[2].canId, 2u);
    ASSERT_EQ(reader_.read(records.data(), static_cast<std::int32_t>(waiting)),
              static_cast<std::int32_t>(ZxCollectorReader::kStagingCapacity));
    EXPECT_EQ(records[0].canId, 3u);
    EXPECT_EQ(records[ZxCollectorReader::kStagingCapacity].canId, kUntouched);
    ASSERT_EQ(reader_.read(records.data(), static_cast<std::int32_t>(waiting)), 2497);
    EXPECT_EQ(records[2496].canId, waiting - 1);

    auto untouched = hostBuffer(1);
    EXPECT_EQ(reader_.read(untouched.data(), 1), ZX_ERR_NO_DATA);
    EXPECT_EQ(untouched[0].canId, kUntouched);
    push(makeFrame(0x101, 64));
    EXPECT_EQ(reader_.clear(), 0); // discards what waits
    EXPECT_EQ(reader_.read(untouched.data(), 1), ZX_ERR_NO_DATA);
}

TEST_F(ReaderOverBuffers, NullBufferZeroOrNegativeCapacityAreRefusedWithoutTakingRecords) {
    push(makeFrame(0x101, 64));
    auto records = hostBuffer(1);
    for (std::int32_t capacity : {0, -1, INT32_MIN}) {
        EXPECT_EQ(reader_.read(records.data(), capacity), ZX_ERR_INVALID_ARGUMENT) << capacity;
    }
    EXPECT_EQ(reader_.read(nullptr, 10), ZX_ERR_INVALID_ARGUMENT);
    EXPECT_EQ(records[0].canId, kUntouched);
    EXPECT_EQ(reader_.read(records.data(), 1), 1); // the record still waited
}

} // namespace
