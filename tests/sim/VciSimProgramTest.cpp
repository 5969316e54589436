// The vci-sim program as scripts and end-to-end tests run it: ready line, answers on
// each box's address, SIGUSR1 restart, a clean end on SIGTERM with its figures; and
// the simulator refuses to start outside the private namespace.
#include "tests/support/ChildProcess.h"
#include "tests/support/HostUdpSocket.h"
#include "tests/support/PrivateNetwork.h"
#include "tests/support/WireFrames.h"
#include "tools/vci-sim/VciSimulator.h"

#include <gtest/gtest.h>

#include <csignal>

namespace zxtest {
namespace {

using namespace std::chrono_literals;

// The firmware bytes of the box's version reply, empty when none came.
std::vector<uint8_t> versionOf(HostUdpSocket& box) {
    const auto reply = box.send(hostFrame(0x0F, 0x60, 0, 0, {0x01})) ? box.receive(3000ms) : std::nullopt;
    const auto frames = reply ? boxFrames(*reply) : std::vector<WireFrame>{};
    return frames.empty() ? std::vector<uint8_t>{} : frames[0].payload;
}

TEST(VciSimProgram, AnswersPerBoxRestartsOnSigusr1AndEndsCleanlyOnSigterm) {
    ZX_REQUIRE_PRIVATE_NETWORK();
    ChildProcess simulator;
    ASSERT_TRUE(
        simulator.startSimulator({"--devices", "0,1", "--firmware", "7.0.0.1", "--restart-pause-ms", "300"}))
        << simulator.output() << simulator.errors();
    HostUdpSocket box1(1);
    EXPECT_EQ(versionOf(box1), (std::vector<uint8_t>{7, 0, 0, 1}));

    simulator.sendSignal(SIGUSR1);
    ASSERT_TRUE(simulator.waitForOutput("vci-sim restarted\n", 5000ms)) << simulator.output();
    EXPECT_EQ(versionOf(box1), (std::vector<uint8_t>{7, 0, 0, 1}));

    EXPECT_EQ(simulator.stop(), 0);
    EXPECT_NE(simulator.output().find("vci-sim device 1: "), std::string::npos) << simulator.output();
}

TEST(VciSimProgram, BadArgumentsExitTwoAndOutsideTheNamespaceNothingStarts) {
    ChildProcess badArguments;
    EXPECT_FALSE(badArguments.startSimulator({"--devices", "16"}));
    EXPECT_EQ(badArguments.waitForExit(5000ms), 2);
    EXPECT_NE(badArguments.errors().find("usage: vci-sim"), std::string::npos) << badArguments.errors();

    if (privateNetworkProblem().empty()) {
        return; // inside the private namespace the simulator may start
    }
    vcisim::VciSimulator simulator;
    EXPECT_FALSE(simulator.start());
    EXPECT_NE(simulator.lastError().find("private network namespace"), std::string::npos)
        << simulator.lastError();
}

} // namespace
} // namespace zxtest
