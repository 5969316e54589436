// The module command frames' value field (the commands on the wire are
// ExportedModuleTest's).
#include "collector/KvCollectorDevice.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// The value field is big-endian except for sub commands 1, 2 and 5 (the frequency
// write, sub command 2, is little-endian).
TEST(ModuleFrame, ValueOfOtherSubCommandsIsBigEndian) {
    _KvVciCanDataType frame;
    KvCollectorDevice::buildModuleFrame(frame, 0x12345678, 0x2E, 3, 0x1234);
    const std::uint8_t expected[] = {0x2E, 0x78, 0x56, 0x34, 0x12, 0x03, 0x12, 0x34};
    EXPECT_EQ(std::memcmp(frame.data, expected, 8), 0);
    EXPECT_EQ(frame.dataLength, 8);
}

} // namespace
