// The zxcollect program, the C host and the Python example run as a user runs them,
// against the box simulator, with their files checked on disk.
#include "tests/support/ChildProcess.h"
#include "tests/support/FileText.h"
#include "tests/support/PrivateNetwork.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const std::string kZxCollect = ZX_BINARY_DIR "/tools/zxcollect/zxcollect";
// Setting up, a few seconds of reading and closing; generous for sanitizer builds.
constexpr auto kRunTimeout = 60s;

// Data lines of every CSV file below root, by path relative to root.
std::map<std::string, std::size_t> csvLinesBelow(const fs::path& root) {
    std::map<std::string, std::size_t> lines;
    std::error_code missing; // a folder never made holds no files
    for (const auto& entry : fs::recursive_directory_iterator(root, missing)) {
        if (entry.path().extension() == ".csv") {
            lines[entry.path().lexically_relative(root).generic_string()] =
                zxtest::readLines(entry).size() - 1;
        }
    }
    return lines;
}

// The number after label in the program's output, or -1.
long long figureAfter(const std::string& text, const std::string& label) {
    const std::size_t at = text.find(label);
    return at == std::string::npos ? -1 : std::atoll(text.c_str() + at + label.size());
}

class ZxCollectProgram : public ::testing::Test {
protected:
    zxtest::TempDir dir_;
    zxtest::ChildProcess simulator_;
    zxtest::ChildProcess run_;
};

// The README documents the codes; the program's table is where they live.
TEST_F(ZxCollectProgram, ReadmeHoldsTheProgramsTableOfCodes) {
    ASSERT_EQ(run_.run(kZxCollect, {"--codes"}, kRunTimeout), 0);
    const std::string readme = zxtest::readFile(ZX_SOURCE_DIR "/tools/zxcollect/README.md");
    std::istringstream table(run_.output());
    int rows = 0;
    for (std::string row; std::getline(table, row); ++rows) {
        EXPECT_NE(readme.find(row + "\n"), std::string::npos) << "README lacks: " << row;
    }
    EXPECT_GT(rows, 20);
}

TEST_F(ZxCollectProgram, BadArgumentsExitTwoWithAMessage) {
    const std::vector<std::vector<std::string>> cases{
        {"--device", "16"},
        {"--device", "0-2", "--device", "2"},
        {"--host-octet", "255"},
        {"--channel", "0:lin:19200"},
        {"--channel", "0:canfd:500000"},
        {"--channel", "0:can:500000", "--channel", "0:can:250000"},
        {"--device", "0,1", "--channel", "3:0:can:500000"},
        {"--terminal-resistor", "3:on"},
        {"--frequency", "0x101:70000"},
        {"--mapping", "0x101,Probe;0x301,Probe"},
        {"--mapping", "0x101,Probe: A"}, // refused by the library's reading only
        {"--mapping-file", (dir_ / "absent.txt").string()},
        {"--file-size", "0"},
        {"--duration", "-1"},
        {"--log-level", "4"},
        {"--log"},
        {"--unknown", "1"},
        {"stray"},
    };
    for (const auto& arguments : cases) {
        zxtest::ChildProcess run;
        EXPECT_EQ(run.run(kZxCollect, arguments, kRunTimeout), 2) << arguments[0];
        EXPECT_NE(run.errors().find("zxcollect: "), std::string::npos) << arguments[0];
        EXPECT_NE(run.errors().find("usage:"), std::string::npos) << arguments[0];
    }
}

// Two boxes, three channels: options in, one folder per box and channel, Ctrl-C closes
// everything, and the summary holds what the files hold.
TEST_F(ZxCollectProgram, RunOnTwoBoxesSavesWhatTheSummaryReportsAndEndsCleanlyOnCtrlC) {
    ZX_REQUIRE_PRIVATE_NETWORK();
    ASSERT_TRUE(simulator_.startSimulator({"--devices", "0,1"})) << simulator_.output();
    const fs::path save = dir_ / "save";
    const fs::path log = dir_ / "zx.log";
    ASSERT_TRUE(run_.start(kZxCollect, {"--device", "0-1", "--channel", "0:can:500000", "--channel",
                                        "1:1:canfd:1000000:4000000", "--terminal-resistor", "1:1:on",
                                        "--frequency", "0x101:200", "--mapping", "0x101,Temp;0x301,Volt",
                                        "--save", save.string(), "--log", log.string()}));
    ASSERT_TRUE(run_.waitForOutput(" records | ", kRunTimeout)) << run_.output() << run_.errors();
    run_.sendSignal(SIGINT); // Ctrl-C
    ASSERT_EQ(run_.waitForExit(kRunTimeout), 0) << run_.output() << run_.errors();

    const std::string output = run_.output();
    EXPECT_NE(output.find("Stopping\n"), std::string::npos) << output;
    EXPECT_NE(output.find("Failures: none"), std::string::npos) << output;
    const auto files = csvLinesBelow(save);
    EXPECT_EQ(figureAfter(output, "CSV files written below " + save.string() + ": "),
              static_cast<long long>(files.size()));
    std::size_t lines = 0;
    std::set<std::string> folders;
    for (const auto& [path, count] : files) {
        EXPECT_NE(output.find("  " + path + "  " + std::to_string(count) + " lines"), std::string::npos)
            << path;
        std::smatch where;
        EXPECT_TRUE(std::regex_match(path, where, std::regex("(dev[01]/can[01])/CH[1-6]/(Temp|Volt)_.*")))
            << path;
        folders.insert(where[1]);
        lines += count;
    }
    EXPECT_EQ(folders, (std::set<std::string>{"dev0/can0", "dev1/can0", "dev1/can1"}));
    EXPECT_EQ(figureAfter(output, "Samples saved: "), static_cast<long long>(lines)) << output;
    const std::string logText = zxtest::readFile(log);
    for (const char* line :
         {"File closed: ", "Closed Device0 CAN1\n", "Closed Device1 CAN2\n", "Closed Device1\n"}) {
        EXPECT_NE(logText.find(line), std::string::npos) << line;
    }
}

// A failure after the channel opened still resets the channel and closes the device.
TEST_F(ZxCollectProgram, ModuleThatDoesNotAnswerEndsTheRunAfterClosingEverything) {
    ZX_REQUIRE_PRIVATE_NETWORK();
    ASSERT_TRUE(simulator_.startSimulator({"--modules", "temperature:0x101:100:0x3F:silent,voltage"}));
    const fs::path log = dir_ / "zx.log";
    ASSERT_EQ(run_.run(kZxCollect, {"--duration", "1", "--frequency", "0x101:200", "--log", log.string()},
                       kRunTimeout),
              1)
        << run_.output() << run_.errors();
    // Entering configuration mode fails; whether leaving it fails too depends on whether
    // a sample of the other module happens to look like the answer.
    EXPECT_TRUE(std::regex_search(
        run_.errors(), std::regex(R"(ZxSetModuleSamplingFrequency\(0, 0, 0x101, 200\) failed with )"
                                  R"(-12002[13]: ZX_ERR_MODULE_\w+ \([^)]*\): (entering|leaving) module configuration mode)")))
        << run_.errors();
    const std::string logText = zxtest::readFile(log);
    EXPECT_NE(logText.find("Closed Device0 CAN1\n"), std::string::npos) << logText;
    EXPECT_NE(logText.find("Closed Device0\n"), std::string::npos) << logText;
}

TEST_F(ZxCollectProgram, CHostAndPythonExampleCollectAndSave) {
    const fs::path kPython = "/usr/bin/python3";
    ZX_REQUIRE_PRIVATE_NETWORK();
    ASSERT_TRUE(simulator_.startSimulator({})) << simulator_.output();
    const fs::path c = dir_ / "c";
    const fs::path py = dir_ / "py";
    const std::vector<std::pair<fs::path, std::vector<std::string>>> examples{
        {ZX_BINARY_DIR "/examples/c-host/c_host", {(dir_ / "c.log").string(), c.string(), "2"}},
        // Debian's python3, which has numpy for the zxcollector package the example uses.
        {kPython,
         {ZX_SOURCE_DIR "/examples/python/collect.py", ZX_API_LIBRARY, py.string(), "--seconds", "2"}}};
    for (const auto& [program, arguments] : examples) {
        // a sanitized library cannot be loaded into an unsanitized python3
        if (ZX_SANITIZED && program == kPython) {
            continue;
        }
        zxtest::ChildProcess run;
        ASSERT_EQ(run.run(program, arguments, kRunTimeout), 0) << run.output() << run.errors();
        EXPECT_GT(figureAfter(run.output(), "records read: "), 0) << run.output();
        const auto files = csvLinesBelow(program == kPython ? py : c);
        EXPECT_TRUE(
            std::any_of(files.begin(), files.end(), [](const auto& file) { return file.second > 0; }));
    }
}

} // namespace
