// State the simulated box keeps per CAN channel: what the host configured, the
// modules on its bus and the streaming bookkeeping.
#pragma once

#include "tools/vci-sim/SimModule.h"

#include <cstdint>
#include <map>
#include <vector>

namespace vcisim {

struct SimChannel {
    bool open = false;
    uint32_t bitRate = 0;
    std::map<uint8_t, uint32_t> canFdParameters;
    uint32_t applyCount = 0;
    bool terminalResistor = false;
    std::vector<SimModule> modules;

    uint64_t framesSent = 0;
    // Transmit frames the host sent on this channel while it was open.
    uint64_t transmitted = 0;
    // Bus-load reporting: next report time and frames since the last one.
    int64_t nextBusLoadNs = 0;
    uint64_t framesInPeriod = 0;
    // Rate mode: start time, frames sent since then, next module in turn.
    int64_t rateStartNs = 0;
    uint64_t rateSent = 0;
    size_t rateNextModule = 0;
};

} // namespace vcisim
