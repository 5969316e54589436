#include "tests/support/WireFrames.h"
#include "vci/transport/KvVciFrameScanner.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
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
    std::uint64_t losses = 0;           // frames and bytes counted as lost
};

void PrintTo(const ScanCase& scanCase, std::ostream* out) {
    *out << scanCase.name;
}

const Bytes kFrame = numberedFrame(77, 80);
const Bytes kLost = numberedFrame(1, 100);
const Bytes kJunk{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
// Carried plus this exceeds the protocol buffer: only the new datagram is scanned.
const Bytes kBig = numberedFrame(2) + Bytes(KvVciFrameScanner::kProtocolBufferSize - 60 + 1 - 33, 0x00);
const std::size_t kMax = kVciMaxPayload;

// clang-format off
const ScanCase kCases[] = {
    {"SplitAfterOneByte", {cut(kFrame, 0, 1), cut(kFrame, 1, 89)}, {77}},
    {"SplitInsideTheHeader", {cut(kFrame, 0, 5), cut(kFrame, 5, 89)}, {77}},
    {"SplitInsideThePayload", {cut(kFrame, 0, 40), cut(kFrame, 40, 89)}, {77}},
    {"SplitBeforeTheTrailer", {cut(kFrame, 0, 88), cut(kFrame, 88, 89)}, {77}},
    {"FirstHalfOnlyIsCarried", {cut(kFrame, 0, 40)}, {}, 40},
    {"ShortDatagramsAreCarriedWhole", {{0x55, 0xAA, 0x01, 0x40}, {0, 0, 0, 0}, {0}}, {0}},
    {"StrayByteBeforeAFrame", {Bytes{0x13} + numberedFrame(1)}, {1}},
    // starts in the middle of a frame, then a lone 0x55, then a reversed (host) sync pair
    {"GarbageAndPartialFramesBetweenFrames", {cut(numberedFrame(2), 3, 33) + Bytes{0x55, 0x01, 0xAA, 0x55, 0x00} +
        numberedFrame(1) + Bytes{0x13, 0x55, 0x37} + numberedFrame(2)}, {1, 2}},
    {"UpToEightTrailingBytesAreCarried", {numberedFrame(1) + kJunk}, {1}, 8},
    {"CarriedBytesAreScannedAgain", {numberedFrame(1) + kJunk, numberedFrame(2)}, {1, 2}},
    // the largest frame a record holds arrives; the one byte longer does not
    {"OversizedLengthIsDropped", {numberedFrame(1, kMax) + numberedFrame(0, kMax + 1) + numberedFrame(2, kMax)},
        {1, 2}, 0, 1},
    // a sync pair with length 0xFFFF would otherwise wait for 64 KiB that never come
    {"HugeLengthFieldDoesNotHoldTheStream", {{0x55, 0xAA, 0x01, 0x40, 0, 0, 0xFF, 0xFF, 0}, numberedFrame(5)}, {5}, 0, 1},
    {"OverflowDropsCarriedBytes", {cut(kLost, 0, 60), kBig}, {2}, 8, 60},
    // a datagram that fits behind the carried bytes is not an overflow
    {"NoOverflowWhenTheDatagramFits", {cut(kLost, 0, 60), kBig, numberedFrame(3)}, {2, 3}, 0, 60},
};
// clang-format on

class FrameScanTable : public FrameScannerTest, public ::testing::WithParamInterface<ScanCase> {};

TEST_P(FrameScanTable, DeliversWholeFramesOnceAndCarriesTheRest) {
    for (const Bytes& datagram : GetParam().datagrams) {
        feed(datagram);
    }
    EXPECT_EQ(numbers(), GetParam().numbers);
    EXPECT_EQ(scanner.carried(), GetParam().carried);
    EXPECT_EQ(losses.snapshot().total(), GetParam().losses);
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

} // namespace
