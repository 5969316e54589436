// The log: line shape and levels through the line hook; against real files what the
// file itself does (minimum level, rotation, reopening, the backlog of lines logged
// before the first start, checked in fresh processes since the log is process-wide).
#include "common/Log.h"
#include "common/Utils.h"
#include "tests/support/FileText.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

using zxtest::readFile;
using zxtest::readLines;

namespace {

class LogFileTest : public ::testing::Test {
protected:
    void TearDown() override { Common::logStop(); }
    std::string file(const std::string& name) const { return (folder_ / name).string(); }
    zxtest::TempDir folder_;
};

// No file is open: the hook alone asks for the lines.
TEST_F(LogFileTest, LinesCarryTimeLevelThreadAndTextAndDumpsShowHex) {
    Common::logStop();
    {
        LogCapture warnings(2);
        Common::logRawString(1, "below the capture's level");
        EXPECT_TRUE(Common::shouldLogLevel(2));
        EXPECT_EQ(warnings.text(), "");
    }
    EXPECT_FALSE(Common::shouldLogLevel(3)) << "the removed hook still asks for lines";
    LogCapture capture;
    const unsigned char bytes[] = {0xAA, 0x55, 0x00, 0x0F};
    Common::logRawString(0, "debug line");
    Common::logRawString(3, "error line");
    Common::logDebugHex("1 RD:", bytes, sizeof(bytes));
    Common::logDebugHex("2 SD:", nullptr, 0);
    const std::regex shape(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{6} \[([DIWE])\] \[(\d+)\] (.*)$)");
    std::istringstream lines(capture.text());
    for (const std::string expected : {"D debug line", "E error line", "D 1 RD: AA 55 00 0F", "D 2 SD:"}) {
        std::string line;
        std::smatch match;
        ASSERT_TRUE(std::getline(lines, line) && std::regex_match(line, match, shape)) << line;
        EXPECT_EQ(match[1].str() + " " + match[3].str(), expected);
        EXPECT_EQ(match[2].str(), Common::Utils::getThreadIdString());
    }
}

TEST_F(LogFileTest, FileKeepsItsMinimumLevelAndTheSoftwareRecordAndNothingAfterStop) {
    const std::string path = file("levels.log");
    Common::logInit(path, 2, 1, 2);
    Common::logStart(false);
    EXPECT_FALSE(Common::shouldLogLevel(1));
    EXPECT_TRUE(Common::shouldLogLevel(2));
    for (int level = 0; level <= 3; ++level) {
        Common::logRawString(level, "level " + std::to_string(level));
    }
    Common::logSoftwareInfo("ReZuzodadidUda", "v3.0.0", "team", "linux");
    Common::logStop();
    Common::logStop();
    EXPECT_FALSE(Common::shouldLogLevel(3));
    Common::logRawString(3, "after stop");
    Common::logSoftwareInfo("name", "v1", "author", "linux");

    const std::vector<std::string> lines = readLines(path);
    ASSERT_EQ(lines.size(), 3u) << readFile(path);
    EXPECT_NE(lines[0].find("[W] "), std::string::npos);
    EXPECT_NE(lines[1].find("[E] "), std::string::npos);
    EXPECT_NE(lines[2].find("Software: ReZuzodadidUda v3.0.0, author: team, platform: linux"),
              std::string::npos);
}

// A start opens the newest configuration's file, creating its folders, and appends;
// a file that cannot be opened throws, naming it, and leaves the log off.
TEST_F(LogFileTest, StartAppendsToTheNewestFileOrThrowsNamingIt) {
    for (const char* name : {"first.log", "sub/dir/second.log", "sub/dir/second.log"}) {
        Common::logInit(file(name), 1, 1, 2);
        Common::logStart(false);
        Common::logRawString(1, name);
        Common::logStop();
    }
    EXPECT_EQ(readLines(file("first.log")).size(), 1u);
    EXPECT_EQ(readLines(file("sub/dir/second.log")).size(), 2u);

    zxtest::writeFile(folder_ / "blocker", "x"); // a file where a folder should be
    Common::logInit(file("first.log"), 0, 1, 2);
    Common::logStart(false);
    Common::logInit(file("blocker/zx.log"), 0, 1, 2);
    try {
        Common::logStart(false);
        ADD_FAILURE() << "logStart did not throw";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find(file("blocker/zx.log")), std::string::npos) << error.what();
    }
    EXPECT_FALSE(Common::shouldLogLevel(3));
    EXPECT_THROW(Common::logInit("", 0, 1, 2), std::invalid_argument);
}

TEST_F(LogFileTest, RotatesAtTheSizeLimitKeepingTheConfiguredNumberOfFiles) {
    const std::string path = file("rotate.log");
    Common::logInit(path, 1, 1, 2); // 1 MiB per file, path.1 and path.2 kept
    Common::logStart(false);
    const int lineCount = 20000; // about 4.8 MiB
    for (int i = 0; i < lineCount; ++i) {
        Common::logRawString(1, "line " + std::to_string(i) + " " + std::string(200, 'x'));
    }
    Common::logStop();
    EXPECT_FALSE(std::filesystem::exists(path + ".3"));
    // consecutive lines, oldest in path.2, newest in path, each file within the limit
    const std::regex number(R"(\] line (\d+) x+$)");
    int expected = -1;
    for (const std::string& name : {path + ".2", path + ".1", path}) {
        ASSERT_LE(std::filesystem::file_size(name), 1024u * 1024u) << name;
        for (const std::string& line : readLines(name)) {
            std::smatch match;
            ASSERT_TRUE(std::regex_search(line, match, number)) << line;
            ASSERT_TRUE(expected < 0 || std::stoi(match[1].str()) == expected) << line;
            expected = std::stoi(match[1].str()) + 1;
        }
    }
    EXPECT_EQ(expected, lineCount);
}

// The backlog scenarios run in processes of their own from their first log call. The
// lines of a log started with this minimum level after what the scenario logged:
std::vector<std::string> linesAfterStart(int minLevel) {
    static zxtest::TempDir folder; // the process ends without destructors
    const std::string path = (folder / "backlog.log").string();
    Common::logInit(path, minLevel, 10, 2);
    Common::logStart(false);
    Common::logRawString(3, "after start");
    Common::logStop();
    std::fprintf(stderr, "%s\n", readFile(path).substr(0, 2000).c_str());
    return readLines(path);
}

bool has(const std::string& line, const char* text) {
    return line.find(text) != std::string::npos;
}

// the first 1000 lines of level 1 and up, then a note of how many more were dropped
bool keepsTheFirstThousandLines() {
    Common::logRawString(0, "debug before start");
    for (int i = 0; i < 1500; ++i) {
        Common::logRawString(1, "early " + std::to_string(i));
    }
    const std::vector<std::string> lines = linesAfterStart(1);
    return lines.size() == 1002 && has(lines[0], "] early 0") && has(lines[999], "] early 999") &&
           has(lines[1000], "] 500 log lines from before");
}

bool keepsAtMost256KiB() {
    for (int i = 0; i < 200; ++i) {
        Common::logRawString(1, std::string(4000, 'b'));
    }
    const std::vector<std::string> lines = linesAfterStart(1);
    return lines.size() >= 3 && lines.size() <= 67 && has(lines[lines.size() - 2], "log lines from before");
}

// a stop before any start turns the log off until a start
bool stopBeforeTheStartTurnsItOff() {
    Common::logStop();
    Common::logRawString(3, "while stopped");
    return !Common::shouldLogLevel(3) && linesAfterStart(2).size() == 1;
}

TEST(LogBacklog, LinesBeforeTheFirstStartAreWrittenFirstWithinTheirBounds) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (bool (*scenario)() : {keepsTheFirstThousandLines, keepsAtMost256KiB, stopBeforeTheStartTurnsItOff}) {
        EXPECT_EXIT(std::_Exit(scenario() ? 0 : 1), ::testing::ExitedWithCode(0), "");
    }
}

// Constructed before the log's own state, so destroyed after it at exit.
struct LogsWhenDestroyed {
    ~LogsWhenDestroyed() {
        Common::logRawString(3, "from a destructor at exit");
        Common::logStop();
    }
};

TEST(LogBacklog, LoggingAfterTheLogIsTornDownAtExitIsHarmless) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            static LogsWhenDestroyed early;
            static zxtest::TempDir folder; // std::exit runs only static destructors
            Common::logInit((folder / "exit.log").string(), 0, 1, 2);
            Common::logStart(false);
            Common::logRawString(1, "running");
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
