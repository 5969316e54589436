// One measurement module on a simulated CAN bus: emits sample frames at its sampling
// frequency and answers the module commands addressed to its identifier.
#pragma once

#include "tools/vci-sim/VciSimulatorOptions.h"

#include <cstdint>

namespace vcisim {

class SimModule {
public:
    explicit SimModule(const ModuleSpec& setup);

    const ModuleSpec& setup() const { return setup_; }
    bool configuring() const { return configuring_; }
    uint64_t framesSent() const { return counter_; }
    uint32_t commandsAnswered() const { return commandsAnswered_; }

    // Emission schedule on the box's steady clock (ns); no emission at frequency 0.
    void restartSchedule(int64_t nowNs);
    bool due(int64_t nowNs) const { return setup_.frequencyHz != 0 && nextDueNs_ <= nowNs; }
    int64_t nextDueNs() const { return nextDueNs_; }
    // Advances the schedule by one period; a module far behind (a stalled box) resumes
    // from now instead of bursting, and its counter has no gap either way.
    void advanceSchedule(int64_t nowNs);

    // Fills 64 data bytes with the next sample and counts it: values 1..7 are signals
    // (or the no-value marker), value 8 the frame counter. With uniqueValues value k
    // (k = 0..5) is counter * 8 + k.
    void fillSample(uint8_t* data, bool uniqueValues);

    // Handles a module command; true when it answers, with 8 answer bytes written.
    bool handleCommand(uint8_t command, uint8_t sub, uint16_t value, int64_t nowNs, uint8_t* answer);

private:
    int32_t signal(unsigned channel) const;

    ModuleSpec setup_;
    bool configuring_ = false;
    uint64_t counter_ = 0;
    uint32_t commandsAnswered_ = 0;
    int64_t nextDueNs_ = 0;
};

} // namespace vcisim
