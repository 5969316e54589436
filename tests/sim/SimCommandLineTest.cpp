// The vci-sim command line turns into the simulator options, and bad values are
// refused with the option named.
#include "tools/vci-sim/SimCommandLine.h"

#include <gtest/gtest.h>

#include <iterator>
#include <sstream>

namespace vcisim {
namespace {

// The arguments as one text, split at spaces.
std::string parse(SimCommandLine& line, const std::string& arguments) {
    std::istringstream words("vci-sim " + arguments);
    const std::vector<std::string> strings{std::istream_iterator<std::string>(words), {}};
    std::vector<const char*> argv;
    for (const std::string& word : strings) {
        argv.push_back(word.c_str());
    }
    return line.parse(static_cast<int>(argv.size()), argv.data());
}

TEST(SimCommandLine, OptionsAreTakenIntoTheSimulatorOptions) {
    SimCommandLine line;
    ASSERT_EQ(parse(line, "--devices 0,3 --modules voltage:0x311:250:0x7:silent,current --rate 0 "
                          "--rate-count 5000 --unique-values --duration 1.5"),
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
    EXPECT_EQ(line.options.rate.frameCount, 5000u);
    EXPECT_TRUE(line.options.uniqueValues);
    EXPECT_EQ(line.durationSeconds, 1.5);

    SimCommandLine defaults;
    ASSERT_EQ(parse(defaults, "--frequency 1000"), "");
    for (const auto& module : defaults.options.modules) {
        EXPECT_EQ(module.frequencyHz, 1000);
    }
}

TEST(SimCommandLine, BadValuesAreRefusedWithTheOptionNamed) {
    for (const std::string bad :
         {"--devices 16", "--devices 0,", "--modules pressure", "--modules voltage:0x301:70000",
          "--modules voltage:1:2:3:loud", "--rate", "--firmware 1.2.3", "--port 0", "--bogus 1", "stray"}) {
        SimCommandLine line;
        const std::string problem = parse(line, bad);
        EXPECT_NE(problem.find(bad.substr(0, bad.find(' '))), std::string::npos) << bad << ": " << problem;
    }
}

} // namespace
} // namespace vcisim
