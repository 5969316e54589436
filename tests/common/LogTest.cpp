// The log against real files: levels, line shape, rotation, start and stop, and the
// backlog of lines logged before the first start (checked in fresh processes, since
// the log is process-wide).
#include "common/Log.h"
#include "common/Utils.h"
#include "tests/common/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using zxtest::TempFolder;

namespace {

const std::regex kLineShape(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{6} \[([DIWE])\] \[(\d+)\] (.*)$)");

bool contains(const std::vector<std::string>& lines, const std::string& text) {
    for (const std::string& line : lines) {
        if (line.find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

// Runs a scenario in a process of its own (the log is process-wide state) and ends
// it with 0 when the scenario found nothing wrong; otherwise prints what was wrong.
void runInFreshProcess(const std::function<std::string()>& scenario) {
    const std::string problems = scenario();
    if (!problems.empty()) {
        std::fprintf(stderr, "%s\n", problems.c_str());
    }
    std::fflush(stderr);
    std::_Exit(problems.empty() ? 0 : 1);
}

class LogFileTest : public ::testing::Test {
protected:
    void TearDown() override { Common::logStop(); }
    TempFolder folder_;
};

TEST_F(LogFileTest, KeepsLevelsFromMinimumAndWritesTimeLevelAndThread) {
    const std::string path = folder_.file("levels.log");
    Common::logInit(path, 1, 1, 2);
    Common::logStart(false);
    EXPECT_FALSE(Common::shouldLogLevel(0));
    EXPECT_TRUE(Common::shouldLogLevel(1));
    EXPECT_TRUE(Common::shouldLogLevel(3));
    Common::logRawString(0, "debug line");
    Common::logRawString(1, "info line");
    Common::logRawString(2, "warning line");
    Common::logRawString(3, "error line");
    Common::logDebugHex("1 RD:", "\xAA\x55", 2);
    Common::logStop();

    const std::vector<std::string> lines = TempFolder::lines(path);
    ASSERT_EQ(lines.size(), 3u);
    const char letters[] = {'I', 'W', 'E'};
    const char* texts[] = {"info line", "warning line", "error line"};
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(lines[i], match, kLineShape)) << lines[i];
        EXPECT_EQ(match[1].str()[0], letters[i]);
        EXPECT_EQ(match[2].str(), Common::Utils::getThreadIdString());
        EXPECT_EQ(match[3].str(), texts[i]);
    }
}

TEST_F(LogFileTest, DebugLevelDumpsBytesAsHex) {
    const std::string path = folder_.file("hex.log");
    Common::logInit(path, 0, 1, 2);
    Common::logStart(false);
    const unsigned char bytes[] = {0xAA, 0x55, 0x00, 0x0F};
    Common::logDebugHex("1 RD:", bytes, sizeof(bytes));
    Common::logDebugHex("2 SD:", nullptr, 0);
    Common::logStop();

    const std::vector<std::string> lines = TempFolder::lines(path);
    ASSERT_EQ(lines.size(), 2u);
    std::smatch match;
    ASSERT_TRUE(std::regex_match(lines[0], match, kLineShape));
    EXPECT_EQ(match[1].str(), "D");
    EXPECT_EQ(match[3].str(), "1 RD: AA 55 00 0F");
    ASSERT_TRUE(std::regex_match(lines[1], match, kLineShape));
    EXPECT_EQ(match[3].str(), "2 SD:");
}

TEST_F(LogFileTest, StoppedLogKeepsNothingAndStopsTwiceHarmlessly) {
    const std::string path = folder_.file("stop.log");
    Common::logInit(path, 0, 1, 2);
    Common::logStart(false);
    Common::logRawString(1, "before stop");
    Common::logStop();
    Common::logStop();
    for (int level = 0; level <= 3; ++level) {
        EXPECT_FALSE(Common::shouldLogLevel(level)) << level;
    }
    Common::logRawString(3, "after stop");
    Common::logDebugHex("1 RD:", "\x01", 1);
    Common::logSoftwareInfo("name", "v1", "author", "linux");

    const std::vector<std::string> lines = TempFolder::lines(path);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("before stop"), std::string::npos);
}

TEST_F(LogFileTest, SecondStartAppendsToTheNewestFile) {
    const std::string first = folder_.file("first.log");
    const std::string second = folder_.file("sub/dir/second.log");
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

    EXPECT_TRUE(contains(TempFolder::lines(first), "line one"));
    EXPECT_FALSE(contains(TempFolder::lines(first), "line two"));
    const std::vector<std::string> lines = TempFolder::lines(second);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("line two"), std::string::npos);
    EXPECT_NE(lines[1].find("line three"), std::string::npos);
}

TEST_F(LogFileTest, SoftwareInfoIsWrittenWhateverTheMinimumLevel) {
    const std::string path = folder_.file("info.log");
    Common::logInit(path, 3, 1, 2);
    Common::logStart(false);
    Common::logSoftwareInfo("ReZuzodadidUda", "v3.0.0", "team", "linux");
    Common::logRawString(1, "info dropped");
    Common::logStop();
    const std::vector<std::string> lines = TempFolder::lines(path);
    ASSERT_EQ(lines.size(), 1u);
    for (const char* part : {"ReZuzodadidUda", "v3.0.0", "team", "linux"}) {
        EXPECT_NE(lines[0].find(part), std::string::npos) << part;
    }
}

TEST_F(LogFileTest, StartOnUnwritablePathThrowsNamingThePathAndLogIsOff) {
    Common::logInit(folder_.file("good.log"), 0, 1, 2);
    Common::logStart(false);
    // A regular file where a folder should be: unwritable even for root.
    const std::string blocker = folder_.file("blocker");
    { std::ofstream(blocker) << "x"; }
    const std::string path = blocker + "/sub/zx.log";
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
    const std::string path = folder_.file("rotate.log");
    Common::logInit(path, 1, 1, 2); // 1 MiB per file, path.1 and path.2 kept
    Common::logStart(false);
    const std::string padding(200, 'x');
    const int lineCount = 20000; // about 4.8 MiB of lines
    for (int i = 0; i < lineCount; ++i) {
        Common::logRawString(1, "line " + std::to_string(i) + " " + padding);
    }
    Common::logStop();

    namespace fs = std::filesystem;
    ASSERT_TRUE(fs::exists(path));
    ASSERT_TRUE(fs::exists(path + ".1"));
    ASSERT_TRUE(fs::exists(path + ".2"));
    EXPECT_FALSE(fs::exists(path + ".3"));
    for (const std::string& file : {path, path + ".1", path + ".2"}) {
        EXPECT_LE(fs::file_size(file), 1024u * 1024u) << file;
    }
    // The files hold consecutive lines, oldest in path.2, newest in path.
    std::vector<std::string> all;
    for (const std::string& file : {path + ".2", path + ".1", path}) {
        const std::vector<std::string> lines = TempFolder::lines(file);
        all.insert(all.end(), lines.begin(), lines.end());
    }
    ASSERT_GT(all.size(), 10000u);
    const std::regex number(R"(\] line (\d+) x+$)");
    int expected = -1;
    for (const std::string& line : all) {
        std::smatch match;
        ASSERT_TRUE(std::regex_search(line, match, number)) << line;
        const int value = std::stoi(match[1].str());
        if (expected >= 0) {
            ASSERT_EQ(value, expected);
        }
        expected = value + 1;
    }
    EXPECT_EQ(expected, lineCount);
}

TEST_F(LogFileTest, LinesFromManyThreadsStayWhole) {
    const std::string path = folder_.file("threads.log");
    Common::logInit(path, 1, 10, 2);
    Common::logStart(false);
    constexpr int kThreads = 4;
    constexpr int kLines = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kLines; ++i) {
                Common::logRawString(2, "thread " + std::to_string(t) + " line " + std::to_string(i));
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    Common::logStop();
    const std::vector<std::string> lines = TempFolder::lines(path);
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kLines));
    for (const std::string& line : lines) {
        ASSERT_TRUE(std::regex_match(line, kLineShape)) << line;
    }
}

class LogBacklogTest : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(LogBacklogTest, LinesBeforeTheFirstStartAreWrittenFirst) {
    EXPECT_EXIT(runInFreshProcess([] {
                    std::string problems;
                    TempFolder folder;
                    if (Common::shouldLogLevel(0) || !Common::shouldLogLevel(1)) {
                        problems += "before start: level 0 must be off and level 1 on\n";
                    }
                    Common::logRawString(1, "loaded store");
                    Common::logRawString(3, "load error");
                    Common::logRawString(0, "debug before start");
                    const std::string path = folder.file("backlog.log");
                    Common::logInit(path, 1, 1, 2);
                    Common::logStart(false);
                    Common::logRawString(1, "after start");
                    Common::logStop();
                    const std::vector<std::string> lines = TempFolder::lines(path);
                    if (lines.size() != 3 || lines[0].find("loaded store") == std::string::npos ||
                        lines[1].find("load error") == std::string::npos ||
                        lines[2].find("after start") == std::string::npos) {
                        problems += "unexpected file:\n" + TempFolder::read(path);
                    }
                    return problems;
                }),
                ::testing::ExitedWithCode(0), "");
}

TEST_F(LogBacklogTest, BacklogIsBoundedAndTellsHowManyLinesWereDropped) {
    EXPECT_EXIT(runInFreshProcess([] {
                    std::string problems;
                    TempFolder folder;
                    for (int i = 0; i < 1500; ++i) {
                        Common::logRawString(1, "early " + std::to_string(i));
                    }
                    const std::string path = folder.file("bounded.log");
                    Common::logInit(path, 1, 1, 2);
                    Common::logStart(false);
                    Common::logStop();
                    const std::vector<std::string> lines = TempFolder::lines(path);
                    if (lines.size() != 1001) {
                        problems +=
                            "expected 1000 kept lines and a note, got " + std::to_string(lines.size());
                    } else {
                        if (lines[0].find("early 0") == std::string::npos ||
                            lines[999].find("early 999") == std::string::npos) {
                            problems += "the first 1000 lines were not kept in order\n";
                        }
                        if (lines[1000].find("500 log lines") == std::string::npos) {
                            problems += "no note of the dropped lines: " + lines[1000];
                        }
                    }
                    return problems;
                }),
                ::testing::ExitedWithCode(0), "");
}

TEST_F(LogBacklogTest, BacklogIsBoundedInBytes) {
    EXPECT_EXIT(runInFreshProcess([] {
                    std::string problems;
                    TempFolder folder;
                    const std::string big(4000, 'b');
                    for (int i = 0; i < 200; ++i) {
                        Common::logRawString(1, std::string(big));
                    }
                    const std::string path = folder.file("bytes.log");
                    Common::logInit(path, 1, 10, 2);
                    Common::logStart(false);
                    Common::logStop();
                    const auto size = std::filesystem::file_size(path);
                    if (size > 256 * 1024 + 200) {
                        problems += "backlog wrote " + std::to_string(size) + " bytes";
                    }
                    if (TempFolder::read(path).find("log lines from before the log started were dropped") ==
                        std::string::npos) {
                        problems += "no note of the dropped lines";
                    }
                    return problems;
                }),
                ::testing::ExitedWithCode(0), "");
}

TEST_F(LogBacklogTest, StopBeforeAnyStartIsHarmlessAndTurnsTheLogOff) {
    EXPECT_EXIT(runInFreshProcess([] {
                    std::string problems;
                    TempFolder folder;
                    Common::logStop();
                    Common::logStop();
                    if (Common::shouldLogLevel(3)) {
                        problems += "a stopped log still keeps errors\n";
                    }
                    const std::string path = folder.file("late.log");
                    Common::logInit(path, 2, 1, 2);
                    Common::logStart(false);
                    if (Common::shouldLogLevel(1) || !Common::shouldLogLevel(2)) {
                        problems += "after start the levels must follow the minimum level\n";
                    }
                    Common::logRawString(2, "warning kept");
                    Common::logStop();
                    if (TempFolder::lines(path).size() != 1) {
                        problems += "unexpected file:\n" + TempFolder::read(path);
                    }
                    return problems;
                }),
                ::testing::ExitedWithCode(0), "");
}

// Constructed before the log's own state, so destroyed after it at exit.
struct LogsWhenDestroyed {
    ~LogsWhenDestroyed() {
        Common::logRawString(3, "from a destructor at exit");
        Common::logStop();
    }
};

TEST_F(LogBacklogTest, LoggingAfterTheLogIsTornDownAtExitIsHarmless) {
    EXPECT_EXIT(
        {
            static LogsWhenDestroyed early;
            static TempFolder folder; // std::exit runs only static destructors
            Common::logInit(folder.file("exit.log"), 0, 1, 2);
            Common::logStart(false);
            Common::logRawString(1, "running");
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
