// vci-sim: simulated VCI boxes as a program, for end-to-end tests and benchmarks.
#include "tools/vci-sim/SimCommandLine.h"
#include "tools/vci-sim/SimStopSignal.h"
#include "tools/vci-sim/VciSimulator.h"

#include <chrono>
#include <cstdio>

int main(int argc, char** argv) {
    vcisim::SimCommandLine commandLine;
    const std::string problem = commandLine.parse(argc, argv);
    if (!problem.empty()) {
        std::fprintf(stderr, "vci-sim: %s\n%s", problem.c_str(), vcisim::SimCommandLine::usage().c_str());
        return 2;
    }
    if (commandLine.help) {
        std::fputs(vcisim::SimCommandLine::usage().c_str(), stdout);
        return 0;
    }
    if (commandLine.version) {
        std::puts("vci-sim " ZX_PROJECT_VERSION);
        return 0;
    }
    vcisim::blockStopSignals();
    vcisim::VciSimulator simulator(commandLine.options);
    if (!simulator.start()) {
        std::fprintf(stderr, "vci-sim: %s\n", simulator.lastError().c_str());
        return 1;
    }
    std::fputs("vci-sim ready\n", stdout);
    std::fflush(stdout);
    while (vcisim::waitForStopSignal(commandLine.durationSeconds) == vcisim::SimSignal::Restart) {
        std::printf("vci-sim restarting the boxes for %u ms\n", commandLine.restartPauseMs);
        std::fflush(stdout);
        simulator.restart(std::chrono::milliseconds(commandLine.restartPauseMs));
        std::puts("vci-sim restarted");
        std::fflush(stdout);
    }
    for (uint32_t index : commandLine.options.deviceIndices) {
        std::printf("vci-sim device %u: %llu frames in %llu datagrams sent, %llu requests, %llu heartbeats\n",
                    index, static_cast<unsigned long long>(simulator.framesSent(index)),
                    static_cast<unsigned long long>(simulator.datagramsSent(index)),
                    static_cast<unsigned long long>(simulator.requestDatagramCount(index)),
                    static_cast<unsigned long long>(simulator.heartbeatCount(index)));
    }
    simulator.stop();
    return 0;
}
