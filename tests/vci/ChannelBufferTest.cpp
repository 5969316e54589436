#include "vci/device/KvVciChannelBufferManager.h"
#include "zxcollector_api.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

_KvVciCanDataType canRecord(std::uint32_t sequence, std::uint32_t id = 0x181) {
    _KvVciCanDataType record{};
    record.id = id;
    record.dataLength = 8;
    record.frameKind = kVciCanFrameKindReceived;
    record.timestamp = sequence;
    return record;
}

TEST(ChannelBufferTest, ReadTakesWhatIsQueuedThenReportsEmpty) {
    KvVciCanChannelBuffer buffer(0);
    for (std::uint32_t i = 0; i < 3; ++i) {
        ASSERT_EQ(buffer.push(canRecord(i)), 0);
    }
    std::vector<_KvVciCanDataType> out(10);
    std::uint32_t count = 10;
    EXPECT_EQ(buffer.readRecords(out.data(), count), ZX_OK);
    ASSERT_EQ(count, 3u);
    for (std::uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(out[i].timestamp, i);
    }
    count = 10;
    EXPECT_EQ(buffer.readRecords(out.data(), count), ZX_CHANNEL_BUFFER_EMPTY);
    EXPECT_EQ(count, 0u);
}

TEST(ChannelBufferTest, ReadRefusesNullDestinationAndZeroCount) {
    KvVciCanChannelBuffer buffer(0);
    buffer.push(canRecord(1));
    std::uint32_t count = 5;
    EXPECT_EQ(buffer.readRecords(nullptr, count), -1);
    EXPECT_EQ(count, 0u);
    _KvVciCanDataType one{};
    count = 0;
    EXPECT_EQ(buffer.readRecords(&one, count), -1);
    count = 1;
    EXPECT_EQ(buffer.readRecords(&one, count), ZX_OK); // the record is still there
    EXPECT_EQ(one.timestamp, 1u);
}

TEST(ChannelBufferTest, FiveThousandRecordsBeyondThePreallocatedRoomAreKeptInOrder) {
    KvVciCanChannelBuffer buffer(3);
    for (std::uint32_t i = 0; i < 5000; ++i) {
        buffer.push(canRecord(i));
    }
    std::vector<_KvVciCanDataType> out(1500);
    std::uint64_t expected = 0;
    for (;;) {
        std::uint32_t count = static_cast<std::uint32_t>(out.size());
        if (buffer.readRecords(out.data(), count) != ZX_OK) {
            break;
        }
        for (std::uint32_t i = 0; i < count; ++i) {
            ASSERT_EQ(out[i].timestamp, expected++);
        }
    }
    EXPECT_EQ(expected, 5000u);
}

// The receive thread pushes every frame; within the preallocated room of 2000 records
// that must not allocate (the first push of a thread registers it as a producer once).
TEST(ChannelBufferTest, PushingWithinThePreallocatedRoomAllocatesNothing) {
    KvVciCanChannelBuffer buffer(0);
    std::vector<_KvVciCanDataType> out(KvVciCanChannelBuffer::kInitialCapacity);
    std::uint32_t count = 1;
    buffer.push(canRecord(0));
    ASSERT_EQ(buffer.readRecords(out.data(), count), ZX_OK);

    const std::uint64_t before = KvVciChannelQueueTraits::allocationCount().load();
    // Every offset inside a block of 32: a full room may straddle one block more.
    for (std::uint32_t offset = 0; offset < 40; ++offset) {
        for (std::uint32_t i = 0; i < offset; ++i) {
            buffer.push(canRecord(i));
        }
        buffer.reset();
        for (std::uint32_t i = 0; i < KvVciCanChannelBuffer::kInitialCapacity; ++i) {
            buffer.push(canRecord(i));
        }
        count = static_cast<std::uint32_t>(out.size());
        ASSERT_EQ(buffer.readRecords(out.data(), count), ZX_OK);
        ASSERT_EQ(count, KvVciCanChannelBuffer::kInitialCapacity);
    }
    EXPECT_EQ(KvVciChannelQueueTraits::allocationCount().load(), before);
}

TEST(ChannelBufferTest, ResetDiscardsEverythingQueued) {
    KvVciCanChannelBuffer buffer(0);
    for (std::uint32_t i = 0; i < 2500; ++i) {
        buffer.push(canRecord(i));
    }
    buffer.reset();
    _KvVciCanDataType one{};
    std::uint32_t count = 1;
    EXPECT_EQ(buffer.readRecords(&one, count), ZX_CHANNEL_BUFFER_EMPTY);
    buffer.push(canRecord(7));
    count = 1;
    EXPECT_EQ(buffer.readRecords(&one, count), ZX_OK);
    EXPECT_EQ(one.timestamp, 7u);
}

// The receive thread keeps pushing while an API thread resets and a reader reads:
// nothing may crash and no record may come out twice or out of order.
TEST(ChannelBufferTest, ResetWhilePushingAndReadingNeverDuplicatesARecord) {
    KvVciCanChannelBuffer buffer(0);
    constexpr std::uint32_t kRecords = 200000;
    std::atomic<bool> pushing{true};
    std::thread producer([&] {
        for (std::uint32_t i = 0; i < kRecords; ++i) {
            buffer.push(canRecord(i));
        }
        pushing = false;
    });
    std::thread resetter([&] {
        while (pushing) {
            buffer.reset();
        }
    });
    std::vector<_KvVciCanDataType> out(700);
    std::vector<bool> seen(kRecords, false);
    std::uint64_t last = 0;
    bool first = true;
    bool duplicate = false;
    bool backwards = false;
    for (;;) {
        const bool done = !pushing;
        std::uint32_t count = static_cast<std::uint32_t>(out.size());
        if (buffer.readRecords(out.data(), count) == ZX_OK) {
            for (std::uint32_t i = 0; i < count; ++i) {
                const std::uint64_t sequence = out[i].timestamp;
                duplicate = duplicate || seen[sequence];
                backwards = backwards || (!first && sequence <= last);
                seen[sequence] = true;
                last = sequence;
                first = false;
            }
        } else if (done) {
            break;
        }
    }
    producer.join();
    resetter.join();
    EXPECT_FALSE(duplicate);
    EXPECT_FALSE(backwards);
}

TEST(ChannelBufferTest, ActiveIdentifierListKeepsOnlyListedFramesUntilCleared) {
    KvVciCanChannelBuffer buffer(0);
    buffer.setIdentifierList({0x181});
    buffer.push(canRecord(1, 0x181));
    buffer.push(canRecord(2, 0x182));
    buffer.clearIdentifierList();
    buffer.push(canRecord(3, 0x183));
    std::vector<_KvVciCanDataType> out(4);
    std::uint32_t count = 4;
    ASSERT_EQ(buffer.readRecords(out.data(), count), ZX_OK);
    ASSERT_EQ(count, 2u);
    EXPECT_EQ(out[0].id, 0x181u);
    EXPECT_EQ(out[1].id, 0x183u);

    KvVciLinChannelBuffer lin(0);
    _KvVciLinDataType linRecord{};
    linRecord.id = 0x21;
    lin.setIdentifierList({0x22});
    lin.push(linRecord);
    EXPECT_EQ(lin.sizeApprox(), 0u);
}

TEST(ChannelBufferTest, ManagerWithoutChannelsStillHasChannelsZeroAndOne) {
    KvVciChannelBufferManager manager(0);
    EXPECT_EQ(manager.channelCount(), 2);
    EXPECT_NE(manager.canBuffer(0), nullptr);
    EXPECT_NE(manager.canBuffer(1), nullptr);
    EXPECT_NE(manager.linBuffer(1), nullptr);
    EXPECT_EQ(manager.canBuffer(2), nullptr);
    EXPECT_EQ(manager.pushCanRecord(1, canRecord(1)), ZX_OK);
    EXPECT_EQ(manager.pushCanRecord(2, canRecord(1)), ZX_ERR_UNKNOWN_CHANNEL);
}

TEST(ChannelBufferTest, ManagerRefusesChannelsWithoutBuffer) {
    KvVciChannelBufferManager manager(8);
    _KvVciCanDataType out[2];
    std::uint32_t count = 2;
    EXPECT_EQ(manager.readCanRecords(9, out, count), ZX_ERR_UNKNOWN_CHANNEL);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(manager.pushLinRecord(8, _KvVciLinDataType{}), ZX_ERR_UNKNOWN_CHANNEL);
    EXPECT_EQ(manager.resetCanBuffer(8), ZX_ERR_UNKNOWN_CHANNEL);
    EXPECT_EQ(manager.resetLinBuffer(8), ZX_ERR_UNKNOWN_CHANNEL);
    EXPECT_EQ(manager.clearCanIdentifierList(8), ZX_ERR_UNKNOWN_CHANNEL);
    EXPECT_EQ(manager.clearLinIdentifierList(8), ZX_ERR_UNKNOWN_CHANNEL);

    EXPECT_EQ(manager.pushCanRecord(7, canRecord(5)), ZX_OK);
    count = 2;
    EXPECT_EQ(manager.readCanRecords(7, out, count), ZX_OK);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(manager.resetCanBuffer(7), ZX_OK);
}

} // namespace
