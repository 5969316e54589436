// The periodic sender's thread exists only while something is registered (counted
// through /proc, where the threads of the process are listed).
#include "common/PeriodSender.h"
#include "tests/support/PollUntil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>

namespace {

std::ptrdiff_t threadCount() {
    return std::distance(std::filesystem::directory_iterator("/proc/self/task"),
                         std::filesystem::directory_iterator());
}

// A joined thread may stay listed for a moment after the join returned.
bool threadsBecome(std::ptrdiff_t count) {
    return zxtest::pollUntil(std::chrono::seconds(2), [count] { return threadCount() == count; });
}

TEST(PeriodSenderThread, ExistsOnlyWhileSomethingIsRegistered) {
    const std::ptrdiff_t idle = threadCount();
    ASSERT_TRUE(threadsBecome(idle));
    {
        Common::PeriodSender sender;
        sender.setSendCallback([](const std::vector<std::uint8_t>&) { return 0; });
        EXPECT_EQ(threadCount(), idle);
        sender.add(1, 2, {0x01}, 1000);
        EXPECT_EQ(threadCount(), idle + 1);
        sender.clear(1, 2);
        EXPECT_TRUE(threadsBecome(idle));
        sender.add(1, 2, {0x01}, 1000);
    }
    EXPECT_TRUE(threadsBecome(idle)); // the destructor stopped and joined it
}

} // namespace
