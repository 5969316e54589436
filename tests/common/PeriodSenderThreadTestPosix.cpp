// The periodic sender's thread exists only while something is registered (counted
// through /proc, so this case runs where the threads of the process are listed there).
#include "common/PeriodSender.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <vector>

namespace {

std::size_t threadCount() {
    std::size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
        (void)entry;
        ++count;
    }
    return count;
}

TEST(PeriodSenderThread, ExistsOnlyWhileSomethingIsRegistered) {
    const std::size_t idle = threadCount();
    {
        Common::PeriodSender sender;
        sender.setSendCallback([](const std::vector<std::uint8_t>&) { return 0; });
        EXPECT_EQ(threadCount(), idle);
        sender.add(1, 2, {0x01}, 1000);
        EXPECT_EQ(threadCount(), idle + 1);
        sender.clear(1, 2);
        EXPECT_EQ(threadCount(), idle);
        sender.add(1, 2, {0x01}, 1000);
        EXPECT_EQ(threadCount(), idle + 1);
    }
    // the destructor stopped and joined it
    EXPECT_EQ(threadCount(), idle);
}

} // namespace
