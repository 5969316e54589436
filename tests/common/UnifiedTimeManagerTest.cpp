// Time texts of every display mode, and registration racing the formatting.
#include "common/UnifiedTimeManager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <regex>
#include <string>
#include <thread>

namespace {

using Common::TimestampDisplayMode;
using Common::UnifiedTimeManager;
using std::chrono::system_clock;

constexpr std::uint64_t kBase = 987654321000ull;

std::int64_t nowMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(system_clock::now().time_since_epoch())
        .count();
}

std::string text(const UnifiedTimeManager& manager, int device, std::uint64_t ticks, std::uint32_t mode) {
    char buffer[32];
    return std::string(buffer, manager.formatTimestamp(device, ticks, static_cast<TimestampDisplayMode>(mode),
                                                       buffer, sizeof(buffer)));
}

std::int64_t epochMicros(const UnifiedTimeManager& manager, int device, std::uint64_t ticks) {
    return std::stoll(text(manager, device, ticks, 4));
}

// How the local clock (or UTC) shows a time after 1970, with microseconds.
std::string dateTime(std::int64_t micros, bool utc) {
    const std::time_t seconds = static_cast<std::time_t>(micros / 1000000);
    char shown[48];
    const std::size_t length =
        std::strftime(shown, sizeof(shown), utc ? "%Y-%m-%dT%H:%M:%S" : "%Y-%m-%d %H:%M:%S",
                      utc ? std::gmtime(&seconds) : std::localtime(&seconds));
    std::snprintf(shown + length, sizeof(shown) - length, ".%06d%s", static_cast<int>(micros % 1000000),
                  utc ? "Z" : "");
    return shown;
}

class UnifiedTimeManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        manager_.initialize(system_clock::now(), 1e6);
        before_ = nowMicros();
        manager_.registerDevice(3, kBase);
        after_ = nowMicros();
    }
    UnifiedTimeManager manager_;
    std::int64_t before_ = 0;
    std::int64_t after_ = 0;
};

// Registration pairs the base with the host clock now; every mode shows the frame's time.
TEST_F(UnifiedTimeManagerTest, EveryModeShowsTheFramesTimeFromTheRegistration) {
    const std::int64_t atBase = epochMicros(manager_, 3, kBase);
    EXPECT_GE(atBase, before_);
    EXPECT_LE(atBase, after_);
    EXPECT_EQ(epochMicros(manager_, 3, kBase + 12345678), atBase + 1234567);
    EXPECT_EQ(epochMicros(manager_, 3, kBase - 15), atBase - 2); // cut towards the past
    const std::uint64_t frame = kBase + 30000007;
    const std::int64_t micros = epochMicros(manager_, 3, frame);
    const struct {
        std::uint64_t ticks;
        std::uint32_t mode;
        std::string expected;
    } cases[] = {
        {frame, 0, dateTime(micros, false)},
        {frame, 1, dateTime(micros, true)},
        {frame, 9, dateTime(micros, false)}, // an unknown mode shows the local date-time
        {kBase, 2, "0.000000"},
        {kBase + 123456789, 2, "12.345678"},
        {kBase - 1000, 2, "-0.000100"},
        {123456789, 3, "123456789"},
        {UINT64_MAX, 3, "18446744073709551615"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(text(manager_, 3, c.ticks, c.mode), c.expected) << c.ticks << " mode " << c.mode;
    }
    const std::regex localShape(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{6}$)");
    for (std::uint64_t ticks : {std::uint64_t{0}, UINT64_MAX, UINT64_MAX / 2, UINT64_MAX / 2 + 1}) {
        for (std::uint32_t mode = 1; mode <= 4; ++mode) {
            EXPECT_FALSE(text(manager_, 3, ticks, mode).empty()) << ticks << " mode " << mode;
        }
        EXPECT_TRUE(std::regex_match(text(manager_, 3, ticks, 0), localShape)) << ticks;
    }
}

TEST_F(UnifiedTimeManagerTest, UnregisteredDevicesCountFromTheStartAndTextsAreCutToTheBuffer) {
    UnifiedTimeManager manager;
    manager.initialize(system_clock::time_point(std::chrono::microseconds(1773477005123456)), 1e6);
    EXPECT_EQ(epochMicros(manager, 7, 25), 1773477005123458);
    EXPECT_EQ(epochMicros(manager, UnifiedTimeManager::kMaxDevices, 0), 1773477005123456);
    manager.registerDevice(-1, 5); // ignored
    manager.registerDevice(UnifiedTimeManager::kMaxDevices, 5);
    EXPECT_EQ(epochMicros(manager, -1, 10), 1773477005123457);
    EXPECT_EQ(text(manager, 7, 25, 2), "0.000002");

    char buffer[8] = "xxxxxxx";
    const auto ticks = TimestampDisplayMode::DeviceTicks;
    EXPECT_EQ(manager_.formatTimestamp(3, kBase, ticks, buffer, 5), 4u);
    EXPECT_STREQ(buffer, "9876");
    EXPECT_EQ(manager_.formatTimestamp(3, 1, ticks, buffer, 0), 0u);
    EXPECT_STREQ(buffer, "9876");
    EXPECT_EQ(manager_.formatTimestamp(3, kBase, ticks, nullptr, 8), 0u);
}

// Bases 0 and 1e12 ticks (100000 s) alternate; frame 0 reads as now or 100000 s before
// it, never anything else (under a thread sanitizer: without a data race).
TEST_F(UnifiedTimeManagerTest, RegistrationWhileFormattingGivesOneOfTheRegisteredBases) {
    constexpr std::int64_t kApart = 100000000000ll, kSlack = 60000000ll; // us
    std::atomic<bool> done{false};
    std::atomic<int> wrong{0};
    auto reader = [&] {
        while (!done) {
            const std::int64_t shown = epochMicros(manager_, 9, 0), now = nowMicros();
            const bool atNow = shown > now - kSlack && shown <= now;
            wrong += atNow || (shown > now - kApart - kSlack && shown <= now - kApart) ? 0 : 1;
        }
    };
    std::thread reader1(reader), reader2(reader);
    for (int i = 0; i < 20000; ++i) {
        manager_.registerDevice(9, (i % 2) ? 0 : 1000000000000ull);
    }
    done = true;
    reader1.join();
    reader2.join();
    EXPECT_EQ(wrong.load(), 0);
}

} // namespace
