#include "tests/support/WireFrames.h"
#include "vci/transport/KvVciFrameScanner.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using zxtest::append;
using zxtest::boxFrame;
using zxtest::numberedFrame;

Bytes operator+(Bytes a, const Bytes& b) {
    append(a, b);
    return a;
}
Bytes cut(const Bytes& bytes, std::size_t from, std::size_t to) {
    return Bytes(bytes.begin() + static_cast<long>(from), bytes.begin() + static_cast<long>(to));
}

class FrameScannerTest : public ::testing::Test {
protected:
    void feed(const Bytes& datagram) { scanner.feed(datagram.data(), datagram.size(), deliver); }
    std::vector<std::uint32_t> numbers() const {
        std::vector<std::uint32_t> result;
        for (const auto& batch : batches) {
            for (const auto& record : batch) {
                std::uint32_t number = 0;
                std::memcpy(&number, record.payload, sizeof(number));
                result.push_back(number);
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

struct ScanCase {
    const char* name;
    std::vector<Bytes> datagrams;
    std::vector<std::uint32_t> numbers; // of the records delivered, in order
    std::size_t carried = 0;            // bytes kept for the next datagram at the end
    std::uint64_t oversized = 0;
    std::uint64_t overflowBytes = 0;
};

const Bytes kFrame77 = numberedFrame(77, 80);
const Bytes kLost = numberedFrame(1, 100);
// Carried plus this exceeds the protocol buffer: only the new datagram is scanned.
const Bytes kBig = [] {
    Bytes big = numberedFrame(2);
    big.resize(KvVciFrameScanner::kProtocolBufferSize - 60 + 1, 0x00);
    return big;
}();

const ScanCase kCases[] = {
    {"SplitAfterOneByte", {cut(kFrame77, 0, 1), cut(kFrame77, 1, 89)}, {77}},
    {"SplitInsideTheHeader", {cut(kFrame77, 0, 5), cut(kFrame77, 5, 89)}, {77}},
    {"SplitAfterTheHeader", {cut(kFrame77, 0, 8), cut(kFrame77, 8, 89)}, {77}},
    {"SplitInsideThePayload", {cut(kFrame77, 0, 40), cut(kFrame77, 40, 89)}, {77}},
    {"SplitBeforeTheTrailer", {cut(kFrame77, 0, 88), cut(kFrame77, 88, 89)}, {77}},
    {"FirstHalfOnlyIsCarried", {cut(kFrame77, 0, 40)}, {}, 40},
    {"ShortDatagramsAreCarriedWhole", {{0x55, 0xAA, 0x01, 0x40}, {0, 0, 0, 0}, {0}}, {0}},
    {"StrayByteBeforeAFrame", {Bytes{0x13} + numberedFrame(1)}, {1}},
    // starts in the middle of a frame, then a lone 0x55, then a reversed (host) sync pair
    {"GarbageAndPartialFramesBetweenFrames",
     {cut(numberedFrame(2), 3, 33) + Bytes{0x55, 0x01, 0xAA, 0x55, 0x00} + numberedFrame(1) +
      Bytes{0x13, 0x55, 0x37} + numberedFrame(2)},
     {1, 2}},
    {"UpToEightTrailingBytesAreCarried",
     {numberedFrame(1) + Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}},
     {1},
     8},
    {"CarriedBytesAreScannedAgain",
     {numberedFrame(1) + Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, numberedFrame(2)},
     {1, 2}},
    // the largest frame a record holds arrives; the one byte longer does not
    {"OversizedLengthIsDropped",
     {numberedFrame(1, kVciMaxPayload) + numberedFrame(0, kVciMaxPayload + 1) +
      numberedFrame(2, kVciMaxPayload)},
     {1, 2},
     0,
     1},
    // a sync pair with length 0xFFFF would otherwise wait for 64 KiB that never come
    {"HugeLengthFieldDoesNotHoldTheStream",
     {{0x55, 0xAA, 0x01, 0x40, 0x00, 0x00, 0xFF, 0xFF, 0x00}, numberedFrame(5)},
     {5},
     0,
     1},
    {"OverflowDropsCarriedBytes", {cut(kLost, 0, 60), kBig}, {2}, 8, 0, 60},
    // a datagram that fits behind the carried bytes is not an overflow
    {"NoOverflowWhenTheDatagramFits", {cut(kLost, 0, 60), kBig, numberedFrame(3)}, {2, 3}, 0, 0, 60},
};

class FrameScanTable : public FrameScannerTest, public ::testing::WithParamInterface<ScanCase> {};

TEST_P(FrameScanTable, DeliversWholeFramesOnceAndCarriesTheRest) {
    for (const Bytes& datagram : GetParam().datagrams) {
        feed(datagram);
    }
    EXPECT_EQ(numbers(), GetParam().numbers);
    EXPECT_EQ(scanner.carried(), GetParam().carried);
    EXPECT_EQ(losses.snapshot().oversizedFrames, GetParam().oversized);
    EXPECT_EQ(losses.snapshot().overflowDiscardedBytes, GetParam().overflowBytes);
}

INSTANTIATE_TEST_SUITE_P(Cases, FrameScanTable, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<ScanCase>& info) { return info.param.name; });

TEST_F(FrameScannerTest, RecordsCarryTheFrameFieldsAndComeInBatchesOf32) {
    Bytes datagram = boxFrame(0x0F, 0x60, 0x00, {1, 2, 3, 4}) + boxFrame(0x01, 0x70, 0x02, Bytes(12, 0x33));
    for (std::uint32_t i = 2; i < 40; ++i) {
        append(datagram, numberedFrame(i, 16));
    }
    feed(datagram);
    ASSERT_EQ(batches.size(), 2u);
    EXPECT_EQ(batches[0].size(), 32u);
    EXPECT_EQ(batches[1].size(), 8u);
    const _KvVciProtocolData& version = batches[0][0];
    EXPECT_EQ(version.type, 0x0F);
    EXPECT_EQ(version.command, 0x60);
    EXPECT_EQ(version.length, 4);
    EXPECT_EQ(Bytes(version.payload, version.payload + 4), (Bytes{1, 2, 3, 4}));
    // the trailer and everything beyond the payload stay zero in the record
    EXPECT_EQ(Bytes(version.payload + 4, version.payload + kVciMaxPayload), Bytes(kVciMaxPayload - 4, 0));
    EXPECT_EQ(batches[0][1].channel, 0x02);
    EXPECT_EQ(batches[0][1].length, 12);
}

TEST_F(FrameScannerTest, WithoutCallbackRecordsAreDroppedAndTheScanGoesOn) {
    Bytes datagram;
    for (std::uint32_t i = 0; i < 33; ++i) {
        append(datagram, numberedFrame(i));
    }
    scanner.feed(datagram.data(), datagram.size(), KvVciFrameScanner::BatchCallback());
    feed(numberedFrame(50));
    EXPECT_EQ(numbers(), std::vector<std::uint32_t>{50});
}

} // namespace
