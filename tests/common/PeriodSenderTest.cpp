// The periodic sender on a real thread, with a callback standing in for the socket.
#include "common/PeriodSender.h"
#include "tests/common/PollUntil.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using zxtest::pollUntil;

namespace {

// Records what was sent, by first byte.
class SendLog {
public:
    Common::PeriodSender::SendCallback callback() {
        return [this](const std::vector<std::uint8_t>& bytes) {
            std::lock_guard<std::mutex> lock(mutex_);
            sent_.push_back({bytes, Clock::now()});
            return 0;
        };
    }
    int count(std::uint8_t first) const {
        std::lock_guard<std::mutex> lock(mutex_);
        int n = 0;
        for (const Sent& s : sent_) {
            n += (!s.bytes.empty() && s.bytes[0] == first) ? 1 : 0;
        }
        return n;
    }
    struct Sent {
        std::vector<std::uint8_t> bytes;
        Clock::time_point when;
    };
    std::vector<Sent> all() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return sent_;
    }

private:
    mutable std::mutex mutex_; // guards sent_
    std::vector<Sent> sent_;
};

TEST(PeriodSenderTest, SendsTheBytesEveryPeriodUntilCleared) {
    SendLog log;
    Common::PeriodSender sender;
    sender.setSendCallback(log.callback());
    const auto added = Clock::now();
    sender.add(1, 0, {0x11, 0x22, 0x33}, 20);
    EXPECT_EQ(sender.size(), 1u);
    ASSERT_TRUE(pollUntil([&] { return log.count(0x11) >= 5; }));
    const std::vector<SendLog::Sent> sent = log.all();
    for (const SendLog::Sent& s : sent) {
        EXPECT_EQ(s.bytes, (std::vector<std::uint8_t>{0x11, 0x22, 0x33}));
    }
    // the first copy goes at once, then one per period: the fifth after four periods
    EXPECT_GE(sent[4].when - added, 80ms);

    sender.clear();
    EXPECT_EQ(sender.size(), 0u);
    const int afterClear = log.count(0x11);
    std::this_thread::sleep_for(100ms); // five periods in which nothing may be sent
    EXPECT_EQ(log.count(0x11), afterClear);
}

TEST(PeriodSenderTest, ClearOfOneChannelKeepsTheOthersSending) {
    SendLog log;
    Common::PeriodSender sender;
    sender.setSendCallback(log.callback());
    sender.add(1, 0, {0xA0}, 10);
    sender.add(1, 1, {0xB0}, 10);
    sender.add(5, 0, {0xC0}, 10);
    ASSERT_TRUE(pollUntil([&] { return log.count(0xA0) >= 1; }));
    sender.clear(1, 0);
    EXPECT_EQ(sender.size(), 2u);
    const int a = log.count(0xA0);
    const int b = log.count(0xB0);
    const int c = log.count(0xC0);
    ASSERT_TRUE(pollUntil([&] { return log.count(0xB0) >= b + 3 && log.count(0xC0) >= c + 3; }));
    EXPECT_EQ(log.count(0xA0), a);
    sender.clear(7, 7); // nothing registered there: changes nothing
    EXPECT_EQ(sender.size(), 2u);
}

} // namespace
