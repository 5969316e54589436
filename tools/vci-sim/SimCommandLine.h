// The vci-sim program's command line: turns arguments into simulator options.
#pragma once

#include "tools/vci-sim/VciSimulatorOptions.h"

#include <string>

namespace vcisim {

struct SimCommandLine {
    VciSimulatorOptions options;
    double durationSeconds = 0.0;   // 0: until SIGINT or SIGTERM
    uint32_t restartPauseMs = 2000; // how long a box restarted by SIGUSR1 stays away
    bool help = false;
    bool version = false;

    // Empty on success, otherwise what is wrong with the arguments.
    std::string parse(int argc, const char* const* argv);
    static std::string usage();
};

} // namespace vcisim
