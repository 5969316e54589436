// The periodic sender on a real thread, with a callback standing in for the socket.
#include "common/PeriodSender.h"
#include "tests/support/PollUntil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using zxtest::pollUntil;

namespace {

TEST(PeriodSenderTest, SendsEveryPeriodUntilItsEntryOrAllAreCleared) {
    std::mutex mutex; // guards sent
    std::vector<std::pair<std::vector<std::uint8_t>, Clock::time_point>> sent;
    const auto count = [&](std::uint8_t first) {
        std::lock_guard<std::mutex> lock(mutex);
        int n = 0;
        for (const auto& entry : sent) {
            n += entry.first[0] == first ? 1 : 0;
        }
        return n;
    };
    Common::PeriodSender sender;
    sender.setSendCallback([&](const std::vector<std::uint8_t>& bytes) {
        std::lock_guard<std::mutex> lock(mutex);
        sent.emplace_back(bytes, Clock::now());
        return 0;
    });
    const auto added = Clock::now();
    sender.add(1, 0, {0xA0, 0x22, 0x33}, 20);
    sender.add(1, 1, {0xB0}, 10);
    sender.add(5, 0, {0xC0}, 10);
    EXPECT_EQ(sender.size(), 3u);
    ASSERT_TRUE(pollUntil(5s, [&] { return count(0xA0) >= 5; }));
    {
        // the first copy goes at once, then one per period: the fifth after four periods
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<Clock::time_point> times;
        for (const auto& entry : sent) {
            if (entry.first[0] == 0xA0) {
                EXPECT_EQ(entry.first, (std::vector<std::uint8_t>{0xA0, 0x22, 0x33}));
                times.push_back(entry.second);
            }
        }
        EXPECT_GE(times[4] - added, 80ms);
    }

    sender.clear(1, 0);
    sender.clear(7, 7); // nothing registered there: changes nothing
    EXPECT_EQ(sender.size(), 2u);
    const int a = count(0xA0), b = count(0xB0), c = count(0xC0);
    ASSERT_TRUE(pollUntil(5s, [&] { return count(0xB0) >= b + 3 && count(0xC0) >= c + 3; }));
    EXPECT_EQ(count(0xA0), a);

    sender.clear();
    EXPECT_EQ(sender.size(), 0u);
    const int all = count(0xB0) + count(0xC0);
    std::this_thread::sleep_for(100ms); // ten periods in which nothing may be sent
    EXPECT_EQ(count(0xB0) + count(0xC0), all);
}

} // namespace
