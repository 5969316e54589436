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
#include <thread>
#include <vector>

using zxtest::readFile;
using zxtest::readLines;

namespace {

const std::regex kLineShape(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{6} \[([DIWE])\] \[(\d+)\] (.*)$)");

class LogFileTest : public ::testing::Test {
protected:
    void TearDown() override { Common::logStop(); }
    std::string file(const std::string& name) const { return (folder_ / name).string(); }
    zxtest::TempDir folder_;
};

// No file is open: the hook alone asks for the lines.
TEST_F(LogFileTest, LinesCarryTimeLevelThreadAndTextAndDumpsShowHex) {
    Common::logStop();
    LogCapture capture;
    const unsigned char bytes[] = {0xAA, 0x55, 0x00, 0x0F};
    Common::logRawString(0, "debug line");
    Common::logRawString(3, "error line");
    Common::logDebugHex("1 RD:", bytes, sizeof(bytes));
    Common::logDebugHex("2 SD:", nullptr, 0);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"D", "debug line"}, {"E", "error line"}, {"D", "1 RD: AA 55 00 0F"}, {"D", "2 SD:"}};
    std::istringstream lines(capture.text());
    for (const auto& [letter, text] : expected) {
        std::string line;
        std::smatch match;
        ASSERT_TRUE(std::getline(lines, line) && std::regex_match(line, match, kLineShape)) << line;
        EXPECT_EQ(match[1].str(), letter);
        EXPECT_EQ(match[2].str(), Common::Utils::getThreadIdString());
        EXPECT_EQ(match[3].str(), text);
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

TEST_F(LogFileTest, SecondStartAppendsToTheNewestFileCreatingItsFolders) {
    const std::string first = file("first.log");
    const std::string second = file("sub/dir/second.log");
    Common::logInit(first, 1, 1, 2);
    Common::logStart(false);
    Common::logRawString(1, "line one");
    Common::logInit(second, 1, 1, 2);
    Common::logStart(false);
    Common::logRawString(1, "line two");
    Common::logStop();
    Common::logStart(false);
    Common::logRawString(1, "line three");
    Common::logStop();
    EXPECT_EQ(readLines(first).size(), 1u);
    const std::vector<std::string> lines = readLines(second);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("line two"), std::string::npos);
    EXPECT_NE(lines[1].find("line three"), std::string::npos);
}

TEST_F(LogFileTest, StartOnUnwritablePathThrowsNamingThePathAndLogIsOff) {
    Common::logInit(file("good.log"), 0, 1, 2);
    Common::logStart(false);
    zxtest::writeFile(folder_ / "blocker", "x"); // a file where a folder should be
    const std::string path = file("blocker/sub/zx.log");
    Common::logInit(path, 0, 1, 2);
    try {
        Common::logStart(false);
        FAIL() << "logStart did not throw";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find(path), std::string::npos) << error.what();
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

TEST_F(LogFileTest, LinesFromManyThreadsStayWhole) {
    const std::string path = file("threads.log");
    Common::logInit(path, 1, 10, 2);
    Common::logStart(false);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 500; ++i) {
                Common::logRawString(2, "thread " + std::to_string(t) + " line " + std::to_string(i));
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    Common::logStop();
    const std::vector<std::string> lines = readLines(path);
    ASSERT_EQ(lines.size(), 2000u);
    for (const std::string& line : lines) {
        ASSERT_TRUE(std::regex_match(line, kLineShape)) << line;
    }
}

// A scenario in a process of its own, from its first log call: it returns what it
// found wrong, empty when nothing.
struct FreshProcessCase {
    const char* name;
    std::function<std::string(const zxtest::TempDir&)> scenario;
};

class LogBacklogTest : public ::testing::TestWithParam<FreshProcessCase> {};

TEST_P(LogBacklogTest, InAFreshProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            zxtest::TempDir folder;
            const std::string problems = GetParam().scenario(folder);
            std::fprintf(stderr, "%s\n", problems.c_str());
            std::fflush(stderr);
            std::_Exit(problems.empty() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

std::string startAndRead(const zxtest::TempDir& folder, int minLevel) {
    const std::string path = (folder / "backlog.log").string();
    Common::logInit(path, minLevel, 10, 2);
    Common::logStart(false);
    Common::logRawString(3, "after start");
    Common::logStop();
    return readFile(path);
}

const FreshProcessCase kBacklogCases[] = {
    {"FirstThousandLinesBeforeTheStartAreWrittenFirstThenANoteOfTheRest",
     [](const zxtest::TempDir& folder) -> std::string {
         if (Common::shouldLogLevel(0) || !Common::shouldLogLevel(1)) {
             return "before the start level 0 must be off and level 1 on";
         }
         Common::logRawString(0, "debug before start");
         for (int i = 0; i < 1500; ++i) {
             Common::logRawString(1, "early " + std::to_string(i));
         }
         const std::string text = startAndRead(folder, 1);
         const std::vector<std::string> lines = readLines(folder / "backlog.log");
         const bool inOrder = lines.size() == 1002 && lines[0].find("] early 0") != std::string::npos &&
                              lines[999].find("] early 999") != std::string::npos &&
                              lines[1000].find("] 500 log lines from before") != std::string::npos &&
                              lines[1001].find("] after start") != std::string::npos;
         return inOrder ? "" : text;
     }},
    {"BacklogIsBoundedInBytes",
     [](const zxtest::TempDir& folder) -> std::string {
         for (int i = 0; i < 200; ++i) {
             Common::logRawString(1, std::string(4000, 'b'));
         }
         const std::string text = startAndRead(folder, 1);
         return text.size() <= 256 * 1024 + 400 && text.find("log lines from before") != std::string::npos
                    ? ""
                    : "backlog wrote " + std::to_string(text.size()) + " bytes";
     }},
    {"StopBeforeAnyStartTurnsTheLogOffUntilAStart",
     [](const zxtest::TempDir& folder) -> std::string {
         Common::logStop();
         Common::logStop();
         Common::logRawString(3, "while stopped");
         if (Common::shouldLogLevel(3)) {
             return "a stopped log still keeps errors";
         }
         const std::string text = startAndRead(folder, 2);
         return readLines(folder / "backlog.log").size() == 1 ? "" : text;
     }},
};

INSTANTIATE_TEST_SUITE_P(Log, LogBacklogTest, ::testing::ValuesIn(kBacklogCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Constructed before the log's own state, so destroyed after it at exit.
struct LogsWhenDestroyed {
    ~LogsWhenDestroyed() {
        Common::logRawString(3, "from a destructor at exit");
        Common::logStop();
    }
};

TEST(LogAtExit, LoggingAfterTheLogIsTornDownIsHarmless) {
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
