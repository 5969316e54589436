#include "vci/device/KvVciChannelBufferManager.h"
#include "zxcollector_api.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>
#include <vector>

namespace {

_KvVciCanDataType canRecord(std::uint32_t sequence) {
    _KvVciCanDataType record{};
    record.id = 0x181;
    record.dataLength = 8;
    record.frameKind = kVciCanFrameKindReceived;
    record.timestamp = sequence;
    return record;
}

// Reads everything queued in batches of `batch`; the timestamps in order.
std::vector<std::uint64_t> drain(KvVciCanChannelBuffer& buffer, std::uint32_t batch = 1500) {
    std::vector<_KvVciCanDataType> out(batch);
    std::vector<std::uint64_t> sequences;
    for (std::uint32_t count = batch; buffer.readRecords(out.data(), count) == ZX_OK; count = batch) {
        for (std::uint32_t i = 0; i < count; ++i) {
            sequences.push_back(out[i].timestamp);
        }
    }
    return sequences;
}

// The receive thread pushes every frame; within the preallocated room of 2000 records
// that must not allocate (the first push of a thread registers it as a producer once).
TEST(ChannelBufferTest, PushingWithinThePreallocatedRoomAllocatesNothing) {
    KvVciCanChannelBuffer buffer(0);
    buffer.push(canRecord(0));
    drain(buffer);
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
        drain(buffer, KvVciCanChannelBuffer::kInitialCapacity);
    }
    EXPECT_EQ(KvVciChannelQueueTraits::allocationCount().load(), before);
}

// The receive thread keeps pushing while an API thread resets and a reader reads:
// nothing may crash and no record may come out twice or out of order.
TEST(ChannelBufferTest, ResetWhilePushingAndReadingNeverDuplicatesARecord) {
    KvVciCanChannelBuffer buffer(0);
    std::atomic<bool> pushing{true};
    std::thread producer([&] {
        for (std::uint32_t i = 0; i < 200000; ++i) {
            buffer.push(canRecord(i));
        }
        pushing = false;
    });
    std::thread resetter([&] {
        while (pushing) {
            buffer.reset();
        }
    });
    std::vector<std::uint64_t> read;
    for (bool done = false; !done;) {
        done = !pushing;
        const auto more = drain(buffer, 700);
        read.insert(read.end(), more.begin(), more.end());
    }
    producer.join();
    resetter.join();
    EXPECT_EQ(std::adjacent_find(read.begin(), read.end(), std::greater_equal<>()), read.end());
}

} // namespace
