// The JSON the live page reads, as server-sent events: "meta" once per client (names,
// channels), "tick" ten times a second per box (min/max of each mapped value since the
// last tick) and "status" twice a second per box (latest values, rates, counters).
#pragma once

#include "ZxCollectStatistics.h"
#include "ZxIdMapping.h"
#include "ZxLiveFeed.h"

#include <cstdint>
#include <string>
#include <vector>

class ZxLiveMessages {
public:
    ZxLiveMessages(const ZxIdMapping& mapping, const std::vector<ZxSlot>& slots, bool saving);

    std::string meta() const;
    // Appends to out the tick of the slots of one box.
    void tick(const ZxLiveFeed::Snapshot& snapshot, std::uint32_t device, double unixSeconds,
              std::string& out) const;
    // rates: records per second of each series of each slot, in the snapshot's order;
    // losses: the box's latest loss line from the log, "" for none, nullptr without a log.
    void status(const ZxLiveFeed::Snapshot& snapshot, std::uint32_t device, double elapsedSeconds,
                const std::vector<std::vector<double>>& rates, const std::string* losses,
                std::string& out) const;

    static std::string jsonString(const std::string& text);

private:
    const ZxIdMapping& mapping_;
    const std::vector<ZxSlot>& slots_;
    bool saving_;
};
