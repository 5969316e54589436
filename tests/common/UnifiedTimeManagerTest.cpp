// Time texts of every display mode, and registration racing the formatting.
#include "common/UnifiedTimeManager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <ctime>
#include <regex>
#include <string>
#include <thread>

namespace {

using Common::TimestampDisplayMode;
using Common::UnifiedTimeManager;
using std::chrono::system_clock;

constexpr std::uint64_t kTicksPerSecond = 10000000;
const std::regex kLocalShape(R"(^(\d{4})-(\d{2})-(\d{2}) (\d{2}):(\d{2}):(\d{2})\.(\d{6})$)");
const std::regex kUtcShape(R"(^(\d{4})-(\d{2})-(\d{2})T(\d{2}):(\d{2}):(\d{2})\.(\d{6})Z$)");

std::int64_t nowMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(system_clock::now().time_since_epoch())
        .count();
}

// Seconds since 1970 of a UTC calendar date-time (timegm is not on every platform).
std::int64_t utcSeconds(const std::tm& fields) {
    const int year = fields.tm_year + 1900 - (fields.tm_mon < 2 ? 1 : 0);
    const int era = (year >= 0 ? year : year - 399) / 400;
    const int yearOfEra = year - era * 400;
    const int month = fields.tm_mon + 1;
    const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + fields.tm_mday - 1;
    const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    const std::int64_t days = static_cast<std::int64_t>(era) * 146097 + dayOfEra - 719468;
    return days * 86400 + fields.tm_hour * 3600 + fields.tm_min * 60 + fields.tm_sec;
}

// Microseconds since 1970 of a date-time text in UTC or local time.
std::int64_t parseMicros(const std::string& text, bool utc) {
    std::smatch m;
    EXPECT_TRUE(std::regex_match(text, m, utc ? kUtcShape : kLocalShape)) << text;
    if (m.empty()) {
        return 0;
    }
    std::tm fields{};
    fields.tm_year = std::stoi(m[1]) - 1900;
    fields.tm_mon = std::stoi(m[2]) - 1;
    fields.tm_mday = std::stoi(m[3]);
    fields.tm_hour = std::stoi(m[4]);
    fields.tm_min = std::stoi(m[5]);
    fields.tm_sec = std::stoi(m[6]);
    fields.tm_isdst = -1;
    const std::int64_t seconds = utc ? utcSeconds(fields) : static_cast<std::int64_t>(std::mktime(&fields));
    return seconds * 1000000 + std::stoi(m[7]);
}

std::string formatText(const UnifiedTimeManager& manager, int device, std::uint64_t ticks,
                       TimestampDisplayMode mode) {
    char text[32];
    return std::string(text, manager.formatTimestamp(device, ticks, mode, text, sizeof(text)));
}

std::int64_t epochMicros(const UnifiedTimeManager& manager, int device, std::uint64_t ticks) {
    return std::stoll(formatText(manager, device, ticks, TimestampDisplayMode::EpochMicroseconds));
}

class UnifiedTimeManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        manager_.initialize(system_clock::now(), 1e6);
        before_ = nowMicros();
        manager_.registerDevice(3, kBase);
        after_ = nowMicros();
    }
    static constexpr std::uint64_t kBase = 987654321000ull;
    UnifiedTimeManager manager_;
    std::int64_t before_ = 0;
    std::int64_t after_ = 0;
};

TEST_F(UnifiedTimeManagerTest, RegistrationPairsTheBaseWithTheHostClockNow) {
    const std::int64_t atBase = epochMicros(manager_, 3, kBase);
    EXPECT_GE(atBase, before_);
    EXPECT_LE(atBase, after_);
    EXPECT_EQ(epochMicros(manager_, 3, kBase + 12345678), atBase + 1234567);
    EXPECT_EQ(epochMicros(manager_, 3, kBase - 15), atBase - 2); // cut towards the past
}

TEST_F(UnifiedTimeManagerTest, LocalDateTimeHasTheSpreadsheetShapeAndFollowsTheFrame) {
    const std::string atBase = formatText(manager_, 3, kBase, TimestampDisplayMode::LocalDateTime);
    const std::string oneSecondLater =
        formatText(manager_, 3, kBase + kTicksPerSecond, TimestampDisplayMode::LocalDateTime);
    EXPECT_TRUE(std::regex_match(atBase, kLocalShape)) << atBase;
    EXPECT_LE(atBase.size(), 31u);
    EXPECT_EQ(parseMicros(oneSecondLater, false) - parseMicros(atBase, false), 1000000);
    EXPECT_EQ(parseMicros(atBase, false), epochMicros(manager_, 3, kBase));
}

TEST_F(UnifiedTimeManagerTest, UtcDateTimeIsIsoWithZ) {
    const std::uint64_t ticks = kBase + 3 * kTicksPerSecond + 7;
    const std::string text = formatText(manager_, 3, ticks, TimestampDisplayMode::UtcDateTime);
    EXPECT_TRUE(std::regex_match(text, kUtcShape)) << text;
    EXPECT_EQ(parseMicros(text, true), epochMicros(manager_, 3, ticks));
}

TEST_F(UnifiedTimeManagerTest, SecondsSinceRegistrationAndRawTicks) {
    EXPECT_EQ(formatText(manager_, 3, kBase, TimestampDisplayMode::SecondsSinceOpen), "0.000000");
    EXPECT_EQ(formatText(manager_, 3, kBase + 123456789, TimestampDisplayMode::SecondsSinceOpen),
              "12.345678");
    EXPECT_EQ(formatText(manager_, 3, kBase - 1000, TimestampDisplayMode::SecondsSinceOpen), "-0.000100");
    EXPECT_EQ(formatText(manager_, 3, 123456789, TimestampDisplayMode::DeviceTicks), "123456789");
    EXPECT_EQ(formatText(manager_, 3, UINT64_MAX, TimestampDisplayMode::DeviceTicks),
              "18446744073709551615");
}

TEST_F(UnifiedTimeManagerTest, UnregisteredDeviceCountsFromTheManagersStart) {
    UnifiedTimeManager manager;
    const auto start = system_clock::time_point(std::chrono::microseconds(1773477005123456));
    manager.initialize(start, 1e6);
    EXPECT_EQ(epochMicros(manager, 7, 25), 1773477005123458);
    EXPECT_EQ(epochMicros(manager, -1, 10), 1773477005123457);
    EXPECT_EQ(epochMicros(manager, UnifiedTimeManager::kMaxDevices, 0), 1773477005123456);
    manager.registerDevice(-1, 5); // ignored
    manager.registerDevice(UnifiedTimeManager::kMaxDevices, 5);
    EXPECT_EQ(epochMicros(manager, -1, 10), 1773477005123457);
    EXPECT_EQ(formatText(manager, 7, 25, TimestampDisplayMode::SecondsSinceOpen), "0.000002");
}

TEST_F(UnifiedTimeManagerTest, ResolutionFollowsUnitsPerSecond) {
    UnifiedTimeManager manager;
    manager.initialize(system_clock::now(), 1e3);
    manager.registerDevice(0, 0);
    EXPECT_EQ(formatText(manager, 0, 123456789, TimestampDisplayMode::SecondsSinceOpen), "12.345");
    const std::string text = formatText(manager, 0, 0, TimestampDisplayMode::LocalDateTime);
    EXPECT_TRUE(std::regex_match(text, std::regex(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3}$)")))
        << text;
}

TEST_F(UnifiedTimeManagerTest, BufferFormCutsToCapacityAndMatchesTheTextForm) {
    char buffer[32];
    for (std::uint32_t mode = 0; mode <= 4; ++mode) {
        const auto m = static_cast<TimestampDisplayMode>(mode);
        const std::string text = formatText(manager_, 3, kBase + 5, m);
        const std::size_t length = manager_.formatTimestamp(3, kBase + 5, m, buffer, sizeof(buffer));
        EXPECT_EQ(std::string(buffer, length), text) << mode;
        EXPECT_EQ(buffer[length], '\0');
        EXPECT_LE(length, 31u);
    }
    std::memset(buffer, 'x', sizeof(buffer));
    EXPECT_EQ(manager_.formatTimestamp(3, kBase, TimestampDisplayMode::DeviceTicks, buffer, 5), 4u);
    EXPECT_STREQ(buffer, "9876");
    std::memset(buffer, 'x', sizeof(buffer));
    EXPECT_EQ(manager_.formatTimestamp(3, kBase, TimestampDisplayMode::DeviceTicks, buffer, 0), 0u);
    EXPECT_EQ(buffer[0], 'x');
    EXPECT_EQ(manager_.formatTimestamp(3, kBase, TimestampDisplayMode::DeviceTicks, nullptr, 8), 0u);
}

TEST_F(UnifiedTimeManagerTest, AbsurdTimestampsKeepTheShape) {
    for (std::uint64_t ticks :
         {std::uint64_t{0}, kBase / 2, UINT64_MAX, UINT64_MAX / 2, UINT64_MAX / 2 + 1}) {
        for (std::uint32_t mode = 0; mode <= 4; ++mode) {
            const std::string text =
                formatText(manager_, 3, ticks, static_cast<TimestampDisplayMode>(mode));
            EXPECT_FALSE(text.empty());
            EXPECT_LE(text.size(), 31u) << text;
        }
        EXPECT_TRUE(std::regex_match(formatText(manager_, 3, ticks, TimestampDisplayMode::LocalDateTime),
                                     kLocalShape));
    }
    // an unknown mode shows the local date-time
    EXPECT_TRUE(std::regex_match(formatText(manager_, 3, kBase, static_cast<TimestampDisplayMode>(9)),
                                 kLocalShape));
}

TEST_F(UnifiedTimeManagerTest, RegistrationWhileFormattingGivesOneOfTheRegisteredBases) {
    // Bases 0 and 1e12 ticks (100000 s) alternate; frame 0 reads as now or 100000 s
    // before it, never anything else. Run under a thread sanitizer this also proves the
    // pair is read without a data race.
    constexpr std::uint64_t kOtherBase = 1000000000000ull;
    constexpr std::int64_t kApart = 100000000000ll; // us
    constexpr std::int64_t kSlack = 60000000ll;     // us
    std::atomic<bool> done{false};
    std::thread registrar([&] {
        for (int i = 0; i < 20000; ++i) {
            manager_.registerDevice(9, (i % 2) ? 0 : kOtherBase);
        }
        done = true;
    });
    std::atomic<int> wrong{0};
    auto reader = [&] {
        char text[32];
        while (!done) {
            manager_.formatTimestamp(9, 0, TimestampDisplayMode::EpochMicroseconds, text, sizeof(text));
            const std::int64_t shown = std::stoll(text);
            const std::int64_t now = nowMicros();
            const bool atNow = shown > now - kSlack && shown <= now;
            const bool atOther = shown > now - kApart - kSlack && shown <= now - kApart;
            if (!atNow && !atOther) {
                ++wrong;
            }
        }
    };
    std::thread reader1(reader);
    std::thread reader2(reader);
    registrar.join();
    reader1.join();
    reader2.join();
    EXPECT_EQ(wrong.load(), 0);
}

} // namespace
