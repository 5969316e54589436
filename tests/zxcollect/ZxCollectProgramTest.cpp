// The zxcollect program, the C host and the Python example run as a user runs them,
// against the box simulator, with their files checked on disk.
#include "tests/support/PollUntil.h"
#include "tests/support/PrivateNetwork.h"
#include "tests/support/SimulatorProcess.h"
#include "tests/support/TempDir.h"
#include "tests/zxcollect/ChildProgram.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const std::string kZxCollect = ZX_BINARY_DIR "/tools/zxcollect/zxcollect";
const std::string kCHost = ZX_BINARY_DIR "/examples/c-host/c_host";
const std::string kPythonExample = ZX_SOURCE_DIR "/examples/python/collect.py";
// Setting up, a few seconds of reading and closing; generous for sanitizer builds.
constexpr auto kRunTimeout = 60s;

struct CsvFiles {
    std::size_t files = 0;
    std::uint64_t dataLines = 0;
    // Relative path -> data lines.
    std::map<std::string, std::uint64_t> linesPerFile;
};

CsvFiles csvFilesBelow(const fs::path& root) {
    CsvFiles found;
    if (!fs::exists(root)) {
        return found;
    }
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file() || entry.path().extension() != ".csv") {
            continue;
        }
        std::ifstream file(entry.path());
        std::string line;
        std::getline(file, line);
        EXPECT_EQ(line, "Timestamp,Current_mA") << entry.path();
        std::uint64_t lines = 0;
        while (std::getline(file, line)) {
            EXPECT_TRUE(std::regex_match(line, std::regex(".+,-?[0-9]+"))) << entry.path() << ": " << line;
            ++lines;
        }
        ++found.files;
        found.dataLines += lines;
        found.linesPerFile[entry.path().lexically_relative(root).generic_string()] = lines;
    }
    return found;
}

// The number after label in the program's output, or -1.
long long figureAfter(const std::string& text, const std::string& label) {
    const std::size_t at = text.find(label);
    if (at == std::string::npos) {
        return -1;
    }
    return std::atoll(text.c_str() + at + label.size());
}

std::string readFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// Sum and per-identifier counts of the summary's "  [DEV<dev> ]CAN<ch> 0x<id> <name>: <n>" lines.
std::map<std::string, long long> recordsPerIdentifier(const std::string& output) {
    std::map<std::string, long long> records;
    const std::regex line(R"(\n  ((?:DEV[0-9]+ )?CAN[0-9]+ 0x[0-9A-F]+) [^\n:]+: ([0-9]+))");
    for (std::sregex_iterator it(output.begin(), output.end(), line), end; it != end; ++it) {
        records[(*it)[1]] = std::atoll((*it)[2].str().c_str());
    }
    return records;
}

class ZxCollectProgram : public ::testing::Test {
protected:
    // Checks what a finished run printed against the files it left.
    void expectSummaryMatchesFiles(const std::string& output, const fs::path& saveRoot) {
        const CsvFiles files = csvFilesBelow(saveRoot);
        const long long saved = figureAfter(output, "Samples saved: ");
        EXPECT_GT(saved, 0) << output;
        EXPECT_EQ(static_cast<std::uint64_t>(saved), files.dataLines) << output;
        EXPECT_EQ(figureAfter(output, "CSV files written below " + saveRoot.string() + ": "),
                  static_cast<long long>(files.files))
            << output;
        for (const auto& [path, lines] : files.linesPerFile) {
            EXPECT_NE(output.find("  " + path + "  " + std::to_string(lines) + " lines"), std::string::npos)
                << path << " with " << lines << " lines is not in the summary:\n"
                << output;
        }
        long long sum = 0;
        for (const auto& [id, records] : recordsPerIdentifier(output)) {
            sum += records;
        }
        EXPECT_EQ(sum, figureAfter(output, "Records read: ")) << output;
        EXPECT_NE(output.find("Failures: none"), std::string::npos) << output;
    }

    zxtest::TempDir dir_;
    zxtest::SimulatorProcess simulator_;
};

TEST_F(ZxCollectProgram, HelpAndCodesExitZero) {
    zxtest::ChildProgram help(dir_.string());
    ASSERT_EQ(zxtest::runProgram(help, kZxCollect, {"--help"}, kRunTimeout), 0);
    for (const char* option :
         {"--device", "--host-octet", "--channel", "--terminal-resistor", "--frequency", "--save",
          "--mapping", "--mapping-file", "--file-size", "--duration", "--log", "--log-level"}) {
        EXPECT_NE(help.output().find(option), std::string::npos) << option;
    }
}

// The README documents the codes; the program's table is where they live.
TEST_F(ZxCollectProgram, ReadmeHoldsTheProgramsTableOfCodes) {
    zxtest::ChildProgram codes(dir_.string());
    ASSERT_EQ(zxtest::runProgram(codes, kZxCollect, {"--codes"}, kRunTimeout), 0);
    const std::string readme = readFile(ZX_SOURCE_DIR "/tools/zxcollect/README.md");
    std::istringstream table(codes.output());
    std::string row;
    int rows = 0;
    while (std::getline(table, row)) {
        EXPECT_NE(readme.find(row + "\n"), std::string::npos) << "README lacks: " << row;
        ++rows;
    }
    EXPECT_GT(rows, 20);
}

TEST_F(ZxCollectProgram, BadArgumentsExitTwoWithAMessage) {
    const std::vector<std::vector<std::string>> cases{
        {"--device", "16"},
        {"--host-octet", "255"},
        {"--channel", "0:lin:19200"},
        {"--channel", "0:canfd:500000"},
        {"--channel", "0:can:500000", "--channel", "0:can:250000"},
        {"--device", "0,1", "--channel", "3:0:can:500000"},
        {"--device", "0-2", "--device", "2"},
        {"--terminal-resistor", "3:on"},
        {"--frequency", "0x101:70000"},
        {"--mapping", "0x101,Probe;0x301,Probe"},
        {"--mapping", "id,Probe"},
        {"--mapping", "0x101,../escape"},
        {"--mapping-file", (dir_ / "absent.txt").string()},
        {"--duration", "-1"},
        {"--log-level", "4"},
        {"--unknown", "1"},
    };
    for (const auto& arguments : cases) {
        zxtest::ChildProgram run(dir_.string());
        EXPECT_EQ(zxtest::runProgram(run, kZxCollect, arguments, kRunTimeout), 2) << arguments[1];
        EXPECT_NE(run.errors().find("zxcollect: "), std::string::npos) << arguments[1];
        EXPECT_NE(run.errors().find("usage:"), std::string::npos) << arguments[1];
    }
}

TEST_F(ZxCollectProgram, TimedRunSavesExactlyWhatTheSummaryReports) {
    ZX_REQUIRE_PRIVATE_NETWORK();
    ASSERT_TRUE(simulator_.start({})) << simulator_.output();
    const fs::path saveRoot = dir_ / "save";
    zxtest::ChildProgram run(dir_.string());
    ASSERT_EQ(zxtest::runProgram(run, kZxCollect,
                                 {"--duration", "3", "--save", saveRoot.string(), "--frequency", "0x101:200",
                                  "--log", (dir_ / "zx.log").string()},
                                 kRunTimeout),
              0)
        << run.output() << run.errors();
    const std::string output = run.output();
    expectSummaryMatchesFiles(output, saveRoot);

    // The temperature module now samples twice as fast as the voltage module.
    const auto records = recordsPerIdentifier(output);
    ASSERT_EQ(records.count("CAN0 0x101"), 1u) << output;
    ASSERT_EQ(records.count("CAN0 0x301"), 1u) << output;
    const double ratio =
        static_cast<double>(records.at("CAN0 0x101")) / static_cast<double>(records.at("CAN0 0x301"));
    EXPECT_GT(ratio, 1.5) << output;
    EXPECT_LT(ratio, 2.5) << output;
    // Plain progress lines, as output is not a terminal.
    EXPECT_NE(output.find(" records | "), std::string::npos) << output;
    EXPECT_EQ(output.find('\r'), std::string::npos);
}

TEST_F(ZxCollectProgram, EveryChannelSavesIntoItsOwnFolder) {
    ZX_REQUIRE_PRIVATE_NETWORK();
    ASSERT_TRUE(simulator_.start({})) << simulator_.output();
    const fs::path saveRoot = dir_ / "save";
    zxtest::ChildProgram run(dir_.string());
    ASSERT_EQ(zxtest::runProgram(run, kZxCollect,
                                 {"--duration", "2", "--save", saveRoot.string(), "--channel", "0:can:500000",
                                  "--channel", "1:canfd:1000000:4000000", "--terminal-resistor", "1:on",
                                  "--mapping", "0x101,Temp;0x501,Amps"},
                                 kRunTimeout),
              0)
        << run.output() << run.errors();
    const std::string output = run.output();
    expectSummaryMatchesFiles(output, saveRoot);
    for (const char* channel : {"can0", "can1"}) {
        const CsvFiles files = csvFilesBelow(saveRoot / channel);
        EXPECT_GT(files.dataLines, 0u) << channel;
        for (const auto& [path, lines] : files.linesPerFile) {
            EXPECT_TRUE(path.find("/Temp_") != std::string::npos || path.find("/Amps_") != std::string::npos)
                << path;
        }
    }
}

// Two boxes with two channels each: one folder per box and channel, and the summary
// totals per box and channel add up to what was read and saved.
TEST_F(ZxCollectProgram, SeveralBoxesSaveIntoOneFolderPerBoxAndChannel) {
    ZX_REQUIRE_PRIVATE_NETWORK();
    ASSERT_TRUE(simulator_.start({"--devices", "2,5"})) << simulator_.output();
    const fs::path saveRoot = dir_ / "save";
    zxtest::ChildProgram run(dir_.string());
    ASSERT_EQ(zxtest::runProgram(run, kZxCollect,
                                 {"--duration", "2", "--save", saveRoot.string(), "--device", "2", "--device",
                                  "5", "--channel", "0:canfd:500000:2000000", "--channel", "5:3:can:250000",
                                  "--channel", "2:1:can:500000", "--mapping", "0x101,Temp;0x301,Volt"},
                                 kRunTimeout),
              0)
        << run.output() << run.errors();
    const std::string output = run.output();
    expectSummaryMatchesFiles(output, saveRoot);

    std::map<std::string, std::uint64_t> linesPerFolder;
    for (const auto& [path, lines] : csvFilesBelow(saveRoot).linesPerFile) {
        linesPerFolder[path.substr(0, path.find("/CH"))] += lines;
    }
    const std::map<std::string, std::string> labels{{"dev2/can0", "DEV2 CAN0"},
                                                    {"dev2/can1", "DEV2 CAN1"},
                                                    {"dev5/can0", "DEV5 CAN0"},
                                                    {"dev5/can3", "DEV5 CAN3"}};
    ASSERT_EQ(linesPerFolder.size(), labels.size()) << output;
    long long recordsOfBox2 = 0;
    for (const auto& [folder, label] : labels) {
        ASSERT_GT(linesPerFolder[folder], 0u) << folder;
        const std::regex total("\n  " + label + ": ([0-9]+) records, ([0-9]+) samples saved\n");
        std::smatch figures;
        ASSERT_TRUE(std::regex_search(output, figures, total)) << label << "\n" << output;
        EXPECT_EQ(std::stoull(figures[2]), linesPerFolder[folder]) << label;
        recordsOfBox2 += label.rfind("DEV2", 0) == 0 ? std::stoll(figures[1]) : 0;
        EXPECT_NE(output.find("\n  " + label + " 0x101 Temp: "), std::string::npos) << output;
    }
    EXPECT_NE(output.find("\n  DEV2 total: " + std::to_string(recordsOfBox2) + " records"), std::string::npos)
        << output;
    EXPECT_TRUE(
        std::regex_search(output, std::regex("DEV2 CAN0 [0-9]+ rec/s  DEV2 CAN1 [0-9]+ rec/s  DEV5 CAN0")))
        << output;
}

TEST_F(ZxCollectProgram, CtrlCClosesFilesChannelsDeviceAndLog) {
    ZX_REQUIRE_PRIVATE_NETWORK();
    ASSERT_TRUE(simulator_.start({})) << simulator_.output();
    const fs::path saveRoot = dir_ / "save";
    const fs::path log = dir_ / "zx.log";
    zxtest::ChildProgram run(dir_.string());
    ASSERT_TRUE(run.start(kZxCollect, {"--save", saveRoot.string(), "--log", log.string()}));

    // A progress line with records shows that records flow and saving runs.
    const std::regex flowing(R"(\| [1-9][0-9]* records)");
    ASSERT_TRUE(zxtest::pollUntil(
        30s, [&] { return std::regex_search(run.output(), flowing); }, 20ms))
        << run.output() << run.errors();
    run.interrupt();
    ASSERT_EQ(run.waitForExit(kRunTimeout), 0) << run.output() << run.errors();

    const std::string output = run.output();
    EXPECT_NE(output.find("Stopping"), std::string::npos) << output;
    expectSummaryMatchesFiles(output, saveRoot);
    const std::string logText = readFile(log);
    EXPECT_NE(logText.find("File closed: "), std::string::npos) << logText;
    EXPECT_NE(logText.find("Closed Device0 CAN1"), std::string::npos) << logText;
    EXPECT_NE(logText.find("Closed Device0\n"), std::string::npos) << logText;
}

TEST_F(ZxCollectProgram, BoxThatDoesNotAnswerEndsWithOpenDevFailure) {
    ZX_REQUIRE_PRIVATE_NETWORK();
    for (const bool simulatorRuns : {false, true}) {
        SCOPED_TRACE(simulatorRuns ? "silent simulator" : "no simulator");
        if (simulatorRuns) {
            ASSERT_TRUE(simulator_.start({"--silent"})) << simulator_.output();
        }
        const fs::path saveRoot = dir_ / "save";
        zxtest::ChildProgram run(dir_.string());
        ASSERT_EQ(zxtest::runProgram(run, kZxCollect, {"--duration", "1", "--save", saveRoot.string()},
                                     kRunTimeout),
                  1)
            << run.output() << run.errors();
        EXPECT_NE(run.errors().find(
                      "ZxOpenDev(0, 0, 1) failed with -401: opening the device failed: no connection"),
                  std::string::npos)
            << run.errors();
        EXPECT_NE(run.output().find("ZxOpenDev returned -401 (1x)"), std::string::npos) << run.output();
        EXPECT_EQ(csvFilesBelow(saveRoot).files, 0u);
    }
}

// A failure after the channel opened still resets the channel and closes the device.
TEST_F(ZxCollectProgram, ModuleThatDoesNotAnswerEndsTheRunAfterClosingEverything) {
    ZX_REQUIRE_PRIVATE_NETWORK();
    ASSERT_TRUE(simulator_.start({"--modules", "temperature:0x101:100:0x3F:silent,voltage"}))
        << simulator_.output();
    const fs::path saveRoot = dir_ / "save";
    const fs::path log = dir_ / "zx.log";
    zxtest::ChildProgram run(dir_.string());
    ASSERT_EQ(zxtest::runProgram(run, kZxCollect,
                                 {"--duration", "1", "--save", saveRoot.string(), "--frequency", "0x101:200",
                                  "--log", log.string()},
                                 kRunTimeout),
              1)
        << run.output() << run.errors();
    // Entering configuration mode fails; whether leaving it fails too depends on whether
    // a sample of the other module happens to look like the answer.
    EXPECT_TRUE(std::regex_search(
        run.errors(), std::regex(R"(ZxSetModuleSamplingFrequency\(0, 0, 0x101, 200\) failed with )"
                                 R"(-12002[13]: (entering|leaving) module configuration mode failed)")))
        << run.errors();
    EXPECT_TRUE(std::regex_search(run.output(),
                                  std::regex(R"(ZxSetModuleSamplingFrequency returned -12002[13] \(1x\))")))
        << run.output();
    EXPECT_EQ(csvFilesBelow(saveRoot).files, 0u);
    const std::string logText = readFile(log);
    EXPECT_NE(logText.find("Closed Device0 CAN1"), std::string::npos) << logText;
    EXPECT_NE(logText.find("Closed Device0\n"), std::string::npos) << logText;
}

TEST_F(ZxCollectProgram, CHostExampleCollectsAndSaves) {
    ZX_REQUIRE_PRIVATE_NETWORK();
    ASSERT_TRUE(simulator_.start({})) << simulator_.output();
    const fs::path saveRoot = dir_ / "save";
    zxtest::ChildProgram run(dir_.string());
    ASSERT_EQ(
        zxtest::runProgram(run, kCHost, {(dir_ / "host.log").string(), saveRoot.string(), "2"}, kRunTimeout),
        0)
        << run.output() << run.errors();
    EXPECT_GT(figureAfter(run.output(), "records read: "), 0) << run.output();
    EXPECT_GT(csvFilesBelow(saveRoot).dataLines, 0u);
}

TEST_F(ZxCollectProgram, PythonExampleCollectsAndSaves) {
    ZX_REQUIRE_PRIVATE_NETWORK();
    if (ZX_SANITIZED) {
        GTEST_SKIP() << "a sanitized library cannot be loaded into an unsanitized python3";
    }
    ASSERT_TRUE(simulator_.start({})) << simulator_.output();
    const fs::path saveRoot = dir_ / "save";
    zxtest::ChildProgram run(dir_.string());
    ASSERT_EQ(zxtest::runProgram(run, "python3",
                                 {kPythonExample, ZX_API_LIBRARY, saveRoot.string(), "--seconds", "2",
                                  "--log", (dir_ / "py.log").string()},
                                 kRunTimeout),
              0)
        << run.output() << run.errors();
    EXPECT_GT(figureAfter(run.output(), "records read: "), 0) << run.output();
    EXPECT_GT(csvFilesBelow(saveRoot).dataLines, 0u);
}

} // namespace
