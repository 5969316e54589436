// The reader table's keys (its lifecycle is asserted through the exports in tests/api).
#include "collector/ZxCollectorManager.h"

#include <gtest/gtest.h>

namespace {

TEST(CollectorReaderKey, EveryDeviceChannelPairHasItsOwnKey) {
    EXPECT_NE(ZxCollectorManager::readerKey(0, 256), ZxCollectorManager::readerKey(1, 0));
    EXPECT_NE(ZxCollectorManager::readerKey(0, 0xFFFFFFFFu), ZxCollectorManager::readerKey(0xFFFFFFFFu, 0));
}

} // namespace
