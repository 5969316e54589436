// The periodic sender on a real thread, with a callback standing in for the socket.
#include "common/PeriodSender.h"
#include "tests/support/PollUntil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using zxtest::pollUntil;

namespace {

TEST(PeriodSenderTest, SendsEachEntryEveryPeriodUntilItOrAllAreCleared) {
    std::mutex mutex;                 // guards sent
    std::map<std::uint8_t, int> sent; // copies by first byte
    const auto count = [&](std::uint8_t first) {
        std::lock_guard<std::mutex> lock(mutex);
        return sent[first];
    };
    Common::PeriodSender sender;
    sender.setSendCallback([&](const std::vector<std::uint8_t>& bytes) {
        std::lock_guard<std::mutex> lock(mutex);
        ++sent[bytes.at(0)];
        return 0;
    });
    const auto added = std::chrono::steady_clock::now();
    sender.add(1, 0, {0xA0, 0x22}, 20);
    sender.add(5, 0, {0xC0}, 10);
    ASSERT_TRUE(pollUntil(5s, [&] { return count(0xA0) >= 5; }));
    EXPECT_GE(std::chrono::steady_clock::now() - added, 80ms); // the first at once, then one per period

    sender.clear(1, 0);
    sender.clear(7, 7); // nothing registered there
    EXPECT_EQ(sender.size(), 1u);
    const int a = count(0xA0), c = count(0xC0);
    ASSERT_TRUE(pollUntil(5s, [&] { return count(0xC0) >= c + 3; }));
    EXPECT_EQ(count(0xA0), a);

    sender.clear();
    const int all = count(0xC0);
    std::this_thread::sleep_for(100ms); // ten periods in which nothing may be sent
    EXPECT_EQ(count(0xC0), all);
}

} // namespace
