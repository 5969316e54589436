// The progress display: on a terminal one line rewritten in place a few times a
// second; otherwise one plain line per second, fit for a log file or a pipe. With a
// few channels it shows each; with more it shows each box's total, so it stays a line.
#pragma once

#include "ZxCollectStatistics.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

class ZxProgressLine {
public:
    using Clock = std::chrono::steady_clock;

    ZxProgressLine(std::FILE* out, bool terminal, const std::vector<ZxSlot>& slots, bool severalDevices,
                   bool saving);

    void start(Clock::time_point now);
    // Shows the figures when the next update is due.
    void update(Clock::time_point now, const ZxCollectStatistics& statistics);
    // Ends the in-place line so that later output starts on a fresh line.
    void finish();

private:
    // What one rate on the line adds up: one channel, or every channel of one box.
    struct Group {
        std::string label;
        std::vector<std::size_t> slots;
        std::uint64_t lastRecords = 0;
    };

    std::FILE* out_;
    bool terminal_;
    bool saving_;
    std::vector<Group> groups_;
    Clock::time_point startTime_;
    Clock::time_point lastTime_;
    std::size_t lastWidth_ = 0;
    bool shown_ = false;
    std::string line_;
};
