// The vci-sim program as the end-to-end tests use it: through SimulatorProcess.
#include "tests/support/SimulatorProcess.h"
#include "tests/sim/SimTestHelpers.h"
#include "tests/support/PollUntil.h"
#include "tests/support/PrivateNetwork.h"
#include "tools/vci-sim/VciSimulator.h"

#include <csignal>

namespace zxtest {
namespace {

using namespace std::chrono_literals;

TEST(SimulatorProcessLauncher, ProgramAnswersAfterReadyAndEndsCleanlyOnSigterm) {
    ZX_REQUIRE_PRIVATE_NETWORK();
    SimulatorProcess process;
    ASSERT_TRUE(process.start({"--devices", "0,1", "--firmware", "7.0.0.1"})) << process.output();
    EXPECT_TRUE(process.running());

    HostUdpSocket host(1);
    const auto reply = requestReply(host, hostFrame(kDevice, 0x60, 0, 0, {0x01}));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->payload, (std::vector<uint8_t>{7, 0, 0, 1}));

    EXPECT_EQ(process.stop(), 0);
    EXPECT_FALSE(process.running());
    EXPECT_NE(process.output().find("vci-sim device 1:"), std::string::npos) << process.output();
}

TEST(SimulatorProcessLauncher, Sigusr1RestartsTheBoxOnTheSameAddress) {
    ZX_REQUIRE_PRIVATE_NETWORK();
    SimulatorProcess process;
    ASSERT_TRUE(process.start({"--restart-pause-ms", "1000"})) << process.output();
    HostUdpSocket host(0);
    const auto version = hostFrame(kDevice, 0x60, 0, 0, {0x01});
    ASSERT_TRUE(requestReply(host, version));

    ASSERT_EQ(::kill(process.pid(), SIGUSR1), 0);
    // away for a second, then it answers on its address again, to the same host socket
    EXPECT_TRUE(pollUntil(3s, [&] { return !requestReply(host, version, 100ms); }));
    EXPECT_TRUE(pollUntil(5s, [&] { return requestReply(host, version, 100ms).has_value(); }));
    EXPECT_EQ(process.stop(), 0);
    EXPECT_NE(process.output().find("vci-sim restarted"), std::string::npos) << process.output();
}

TEST(SimulatorProcessLauncher, ProgramStopsByItselfAfterDuration) {
    ZX_REQUIRE_PRIVATE_NETWORK();
    SimulatorProcess process;
    ASSERT_TRUE(process.start({"--duration", "0.2"})) << process.output();
    // Running out of time is a normal end: exit code 0 without any signal.
    ASSERT_TRUE(process.waitForExit(5000ms));
    EXPECT_EQ(process.stop(), 0);
    EXPECT_NE(process.output().find("vci-sim device 0:"), std::string::npos) << process.output();
}

TEST(SimulatorProcessLauncher, StartFailsAndReapsTheProgramOnBadArguments) {
    SimulatorProcess process;
    EXPECT_FALSE(process.start({"--devices", "16"}));
    EXPECT_FALSE(process.running());
}

TEST(SimulatorOutsideNamespace, RefusesToStartWithAClearMessage) {
    if (privateNetworkProblem().empty()) {
        GTEST_SKIP() << "inside the private namespace the simulator may start";
    }
    vcisim::VciSimulator simulator;
    EXPECT_FALSE(simulator.start());
    EXPECT_NE(simulator.lastError().find("private network namespace"), std::string::npos)
        << simulator.lastError();

    SimulatorProcess process;
    EXPECT_FALSE(process.start({}));
    EXPECT_EQ(process.output().find("vci-sim ready"), std::string::npos);
}

} // namespace
} // namespace zxtest
