// The vci-sim command line turns into the options the tests and benchmarks ask for.
#include "tools/vci-sim/SimCommandLine.h"

#include <gtest/gtest.h>

namespace vcisim {
namespace {

std::string parse(SimCommandLine& line, std::vector<const char*> arguments) {
    arguments.insert(arguments.begin(), "vci-sim");
    return line.parse(static_cast<int>(arguments.size()), arguments.data());
}

TEST(SimCommandLine, DefaultsAreOneBoxWithTheFourModulesAt100Hz) {
    SimCommandLine line;
    ASSERT_EQ(parse(line, {}), "");
    EXPECT_EQ(line.options.deviceIndices, (std::vector<uint32_t>{0}));
    ASSERT_EQ(line.options.modules.size(), 4u);
    EXPECT_EQ(line.options.modules[3].identifier, 0x701u);
    EXPECT_EQ(line.options.modules[3].frequencyHz, 100);
    EXPECT_FALSE(line.options.rate.enabled);
    EXPECT_EQ(line.durationSeconds, 0.0);
}

TEST(SimCommandLine, ModulesRateAndMisbehaviourAreParsed) {
    SimCommandLine line;
    ASSERT_EQ(parse(line, {"--devices",
                           "0,3",
                           "--modules",
                           "voltage:0x311:250:0x7:silent,current",
                           "--rate",
                           "0",
                           "--rate-count",
                           "5000",
                           "--unique-values",
                           "--drop",
                           "0f:60:2",
                           "--drop",
                           "1:10",
                           "--delay-ms",
                           "20",
                           "--garbage",
                           "3",
                           "--split-frames",
                           "--wrong-channel",
                           "--duration",
                           "1.5"}),
              "");
    EXPECT_EQ(line.options.deviceIndices, (std::vector<uint32_t>{0, 3}));
    ASSERT_EQ(line.options.modules.size(), 2u);
    const ModuleSpec& voltage = line.options.modules[0];
    EXPECT_EQ(voltage.kind, ModuleKind::Voltage);
    EXPECT_EQ(voltage.identifier, 0x311u);
    EXPECT_EQ(voltage.frequencyHz, 250);
    EXPECT_EQ(voltage.channelMask, 0x7);
    EXPECT_TRUE(voltage.silent);
    EXPECT_EQ(line.options.modules[1].identifier, 0x501u);
    EXPECT_TRUE(line.options.rate.enabled);
    EXPECT_EQ(line.options.rate.framesPerSecond, 0.0);
    EXPECT_EQ(line.options.rate.frameCount, 5000u);
    EXPECT_TRUE(line.options.uniqueValues);
    ASSERT_EQ(line.options.misbehaviour.dropReplies.size(), 2u);
    EXPECT_EQ(line.options.misbehaviour.dropReplies[0].type, 0x0F);
    EXPECT_EQ(line.options.misbehaviour.dropReplies[0].command, 0x60);
    EXPECT_EQ(line.options.misbehaviour.dropReplies[0].nth, 2u);
    EXPECT_EQ(line.options.misbehaviour.dropReplies[1].nth, 0u);
    EXPECT_EQ(line.options.misbehaviour.replyDelayMs, 20u);
    EXPECT_EQ(line.options.misbehaviour.garbageBytesBetweenFrames, 3u);
    EXPECT_TRUE(line.options.misbehaviour.splitFrames);
    EXPECT_TRUE(line.options.misbehaviour.wrongChannelReplies);
    EXPECT_EQ(line.durationSeconds, 1.5);
}

TEST(SimCommandLine, FrequencyAppliesToTheDefaultModules) {
    SimCommandLine line;
    ASSERT_EQ(parse(line, {"--frequency", "1000"}), "");
    for (const auto& module : line.options.modules) {
        EXPECT_EQ(module.frequencyHz, 1000);
    }
}

TEST(SimCommandLine, BadValuesAreRefusedWithTheOptionNamed) {
    for (std::vector<const char*> bad :
         std::vector<std::vector<const char*>>{{"--devices", "16"},
                                               {"--devices", "a"},
                                               {"--modules", "pressure"},
                                               {"--modules", "voltage:0x301:70000"},
                                               {"--drop", "0f"},
                                               {"--rate"},
                                               {"--firmware", "1.2.3"},
                                               {"--bogus", "1"}}) {
        SimCommandLine line;
        const std::string problem = parse(line, bad);
        EXPECT_NE(problem.find(bad[0]), std::string::npos) << bad[0] << ": " << problem;
    }
}

} // namespace
} // namespace vcisim
