// Signal extraction from CAN data, checked against a bit-by-bit reading.
#include "common/Utils.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <vector>

namespace {

// One bit at a time: slow and obviously right.
std::int64_t referenceSignal(const std::vector<std::uint8_t>& data, unsigned startBit, unsigned bitLength) {
    std::uint64_t value = 0;
    for (unsigned i = 0; i < bitLength; ++i) {
        const unsigned bit = startBit + i;
        const unsigned byte = bit / 8;
        const std::uint64_t set = byte < data.size() ? (data[byte] >> (bit % 8)) & 1u : 0u;
        value |= set << i;
    }
    if (bitLength < 64 && (value >> (bitLength - 1)) & 1u) {
        value |= ~std::uint64_t{0} << bitLength; // sign extension
    }
    return static_cast<std::int64_t>(value);
}

std::int64_t extract(const std::vector<std::uint8_t>& data, unsigned startBit, unsigned bitLength) {
    return Common::Utils::getSignedSignalValueByLSB(data.data(), static_cast<std::uint8_t>(data.size()),
                                                    static_cast<std::uint16_t>(startBit),
                                                    static_cast<std::uint16_t>(bitLength));
}

TEST(SignalValueTest, MatchesBitByBitReadingAtEveryStartBitAndLength) {
    std::mt19937 random(20260314);
    for (std::size_t size : {0u, 1u, 3u, 8u, 13u, 32u, 64u}) {
        std::vector<std::uint8_t> data(size);
        for (std::uint8_t& byte : data) {
            byte = static_cast<std::uint8_t>(random());
        }
        // start bits run well past the data, where bits read as 0
        for (unsigned start = 0; start < size * 8 + 80; ++start) {
            for (unsigned length = 1; length <= 64; ++length) {
                ASSERT_EQ(extract(data, start, length), referenceSignal(data, start, length))
                    << "size " << size << " start " << start << " length " << length;
            }
        }
    }
}

TEST(SignalValueTest, ReadsTheEightLittleEndianValuesOfARecord) {
    const std::int32_t values[8] = {0,
                                    1,
                                    -1,
                                    std::numeric_limits<std::int32_t>::min(),
                                    std::numeric_limits<std::int32_t>::max(),
                                    123456789,
                                    -2147483647,
                                    -42};
    std::vector<std::uint8_t> data(64, 0xEE);
    for (int k = 0; k < 8; ++k) {
        const auto raw = static_cast<std::uint32_t>(values[k]);
        for (int b = 0; b < 4; ++b) {
            data[4 * k + b] = static_cast<std::uint8_t>(raw >> (8 * b));
        }
    }
    data.resize(32);
    for (int k = 0; k < 8; ++k) {
        EXPECT_EQ(extract(data, 32 * k, 32), values[k]) << k;
    }
}

TEST(SignalValueTest, SixtyFourBitSignalsAndEdges) {
    const std::vector<std::uint8_t> ones(8, 0xFF);
    EXPECT_EQ(extract(ones, 0, 64), -1);
    const std::vector<std::uint8_t> minimum = {0, 0, 0, 0, 0, 0, 0, 0x80};
    EXPECT_EQ(extract(minimum, 0, 64), std::numeric_limits<std::int64_t>::min());
    // a 64-bit signal at an odd start takes its top bits from a ninth byte
    const std::vector<std::uint8_t> nine = {0x00, 0, 0, 0, 0, 0, 0, 0, 0x01};
    EXPECT_EQ(extract(nine, 4, 64), std::int64_t{1} << 60);
    // the upper half of a 64-bit signal lies past the data: it reads as 0, so positive
    const std::vector<std::uint8_t> half = {0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(extract(half, 0, 64), 0xFFFFFFFFll);
    EXPECT_EQ(extract(half, 0, 32), -1);
    EXPECT_EQ(extract(half, 8, 32), 0x00FFFFFF);
    EXPECT_EQ(extract(half, 65535, 64), 0);
    EXPECT_EQ(extract(half, 0, 0), 0);
    EXPECT_EQ(extract(half, 0, 65), 0);
    EXPECT_EQ(Common::Utils::getSignedSignalValueByLSB(nullptr, 8, 0, 8), 0);
    EXPECT_EQ(extract({0x80}, 7, 1), -1);
    EXPECT_EQ(extract({0x40}, 6, 2), 1);
}

} // namespace
