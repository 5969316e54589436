#include "tests/vci/TransportFrames.h"
#include "vci/transport/KvVciFrameScanner.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using zxtest::append;
using zxtest::boxFrame;
using zxtest::numberedFrame;

std::uint32_t numberOf(const _KvVciProtocolData& record) {
    std::uint32_t number = 0;
    std::memcpy(&number, record.payload, sizeof(number));
    return number;
}

class FrameScannerTest : public ::testing::Test {
protected:
    void feed(const std::vector<std::uint8_t>& datagram) {
        scanner.feed(datagram.data(), datagram.size(), deliver);
    }
    std::vector<std::uint32_t> numbers() const {
        std::vector<std::uint32_t> result;
        for (const auto& batch : batches) {
            for (const auto& record : batch) {
                result.push_back(numberOf(record));
            }
        }
        return result;
    }

    std::string tag = "3";
    KvVciLossCounters losses;
    KvVciFrameScanner scanner{tag, losses};
    std::vector<std::vector<_KvVciProtocolData>> batches;
    KvVciFrameScanner::BatchCallback deliver = [this](const std::vector<_KvVciProtocolData>& batch) {
        batches.push_back(batch);
    };
};

TEST_F(FrameScannerTest, TwoFramesInOneDatagramGiveOneCallbackWithTwoRecords) {
    std::vector<std::uint8_t> datagram = boxFrame(0x0F, 0x60, 0x00, {1, 2, 3, 4});
    append(datagram, boxFrame(0x01, 0x70, 0x02, std::vector<std::uint8_t>(12, 0x33)));
    feed(datagram);

    ASSERT_EQ(batches.size(), 1u);
    ASSERT_EQ(batches[0].size(), 2u);
    const _KvVciProtocolData& version = batches[0][0];
    EXPECT_EQ(version.type, 0x0F);
    EXPECT_EQ(version.command, 0x60);
    EXPECT_EQ(version.channel, 0x00);
    EXPECT_EQ(version.length, 4);
    EXPECT_EQ(std::vector<std::uint8_t>(version.payload, version.payload + 4),
              (std::vector<std::uint8_t>{1, 2, 3, 4}));
    // the trailer and everything beyond the payload stay zero in the record
    for (std::size_t i = 4; i < kVciMaxPayload; ++i) {
        ASSERT_EQ(version.payload[i], 0) << "payload byte " << i;
    }
    const _KvVciProtocolData& busLoad = batches[0][1];
    EXPECT_EQ(busLoad.type, 0x01);
    EXPECT_EQ(busLoad.command, 0x70);
    EXPECT_EQ(busLoad.channel, 0x02);
    EXPECT_EQ(busLoad.length, 12);
    EXPECT_EQ(scanner.carried(), 0u);
}

TEST_F(FrameScannerTest, SplitFrameIsDeliveredOnceAfterSecondDatagram) {
    const std::vector<std::uint8_t> frame = numberedFrame(77, 80);
    for (std::size_t split :
         {std::size_t{1}, std::size_t{5}, std::size_t{8}, std::size_t{40}, frame.size() - 1}) {
        batches.clear();
        feed(std::vector<std::uint8_t>(frame.begin(), frame.begin() + split));
        EXPECT_TRUE(batches.empty()) << "split at " << split;
        EXPECT_EQ(scanner.carried(), split);
        feed(std::vector<std::uint8_t>(frame.begin() + split, frame.end()));
        EXPECT_EQ(numbers(), std::vector<std::uint32_t>{77}) << "split at " << split;
        EXPECT_EQ(scanner.carried(), 0u);
    }
}

TEST_F(FrameScannerTest, FortyFramesInOneDatagramComeAsBatchesOf32And8) {
    std::vector<std::uint8_t> datagram;
    for (std::uint32_t i = 0; i < 40; ++i) {
        append(datagram, numberedFrame(i, 16));
    }
    feed(datagram);

    ASSERT_EQ(batches.size(), 2u);
    EXPECT_EQ(batches[0].size(), 32u);
    EXPECT_EQ(batches[1].size(), 8u);
    std::vector<std::uint32_t> expected;
    for (std::uint32_t i = 0; i < 40; ++i) {
        expected.push_back(i);
    }
    EXPECT_EQ(numbers(), expected);
}

TEST_F(FrameScannerTest, GarbageAndPartialFramesBetweenFramesAreSkipped) {
    const std::vector<std::uint8_t> second = numberedFrame(2);
    // starts in the middle of a frame, then a lone 0x55, then a reversed (host) sync pair
    std::vector<std::uint8_t> datagram(second.begin() + 3, second.end());
    append(datagram, {0x55, 0x01, 0xAA, 0x55, 0x00});
    append(datagram, numberedFrame(1));
    append(datagram, {0x13, 0x55, 0x37});
    append(datagram, second);
    feed(datagram);

    EXPECT_EQ(numbers(), (std::vector<std::uint32_t>{1, 2}));
}

TEST_F(FrameScannerTest, ShortDatagramIsCarriedOverWholeAndNothingDelivered) {
    const std::vector<std::uint8_t> frame = numberedFrame(9, 0);
    ASSERT_EQ(frame.size(), 9u);
    feed({0x55, 0xAA, 0x01, 0x40});
    EXPECT_TRUE(batches.empty());
    EXPECT_EQ(scanner.carried(), 4u);
    feed({0x00, 0x00, 0x00, 0x00});
    EXPECT_TRUE(batches.empty());
    EXPECT_EQ(scanner.carried(), 8u);
    feed({0x00});
    ASSERT_EQ(batches.size(), 1u);
    EXPECT_EQ(batches[0][0].length, 0);
    EXPECT_EQ(scanner.carried(), 0u);
}

TEST_F(FrameScannerTest, UpToEightTrailingBytesAreCarriedEvenWithoutSync) {
    std::vector<std::uint8_t> datagram = numberedFrame(1);
    append(datagram, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
    feed(datagram);
    EXPECT_EQ(numbers(), std::vector<std::uint32_t>{1});
    EXPECT_EQ(scanner.carried(), 8u);

    // the carried bytes are scanned again in front of the next datagram
    feed(numberedFrame(2));
    EXPECT_EQ(numbers(), (std::vector<std::uint32_t>{1, 2}));
    EXPECT_EQ(scanner.carried(), 0u);
}

TEST_F(FrameScannerTest, OverflowDropsCarriedBytesAndScansOnlyTheNewDatagram) {
    const std::vector<std::uint8_t> lost = numberedFrame(1, 100);
    feed(std::vector<std::uint8_t>(lost.begin(), lost.begin() + 60));
    ASSERT_EQ(scanner.carried(), 60u);

    // carried + new exceeds the protocol buffer: only the new datagram is scanned
    std::vector<std::uint8_t> big = numberedFrame(2);
    big.resize(KvVciFrameScanner::kProtocolBufferSize - 60 + 1, 0x00);
    feed(big);
    EXPECT_EQ(numbers(), std::vector<std::uint32_t>{2});
    EXPECT_EQ(losses.snapshot().overflowDiscardedBytes, 60u);

    // a datagram that fits behind the carried bytes is not an overflow
    feed(numberedFrame(3));
    EXPECT_EQ(numbers(), (std::vector<std::uint32_t>{2, 3}));
    EXPECT_EQ(losses.snapshot().overflowDiscardedBytes, 60u);
}

TEST_F(FrameScannerTest, OversizedLengthIsDroppedAndCountedAndNextFrameFound) {
    std::vector<std::uint8_t> datagram = numberedFrame(1, kVciMaxPayload);
    std::vector<std::uint8_t> oversized = numberedFrame(0, kVciMaxPayload + 1);
    append(datagram, oversized);
    append(datagram, numberedFrame(2, kVciMaxPayload));
    feed(datagram);

    // the largest frame a record holds arrives; the one byte longer does not
    EXPECT_EQ(numbers(), (std::vector<std::uint32_t>{1, 2}));
    EXPECT_EQ(losses.snapshot().oversizedFrames, 1u);
    EXPECT_EQ(losses.snapshot().total(), 1u);
}

TEST_F(FrameScannerTest, HugeLengthFieldDoesNotHoldTheStream) {
    // a sync pair with length 0xFFFF would otherwise wait for 64 KiB that never come
    feed({0x55, 0xAA, 0x01, 0x40, 0x00, 0x00, 0xFF, 0xFF, 0x00});
    feed(numberedFrame(5));
    EXPECT_EQ(numbers(), std::vector<std::uint32_t>{5});
    EXPECT_EQ(losses.snapshot().oversizedFrames, 1u);
    EXPECT_EQ(scanner.carried(), 0u);
}

TEST_F(FrameScannerTest, RecordsAreDroppedWithoutCallbackAndScanGoesOn) {
    KvVciFrameScanner quiet(tag, losses);
    std::vector<std::uint8_t> datagram;
    for (std::uint32_t i = 0; i < 33; ++i) {
        append(datagram, numberedFrame(i));
    }
    quiet.feed(datagram.data(), datagram.size(), KvVciFrameScanner::BatchCallback());
    const std::vector<std::uint8_t> next = numberedFrame(50);
    quiet.feed(next.data(), next.size(), deliver);
    EXPECT_EQ(numbers(), std::vector<std::uint32_t>{50});
}

} // namespace
