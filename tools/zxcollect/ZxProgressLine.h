// The progress display: on a terminal one line rewritten in place a few times a
// second; otherwise one plain line per second, fit for a log file or a pipe.
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

    ZxProgressLine(std::FILE* out, bool terminal, const std::vector<std::uint32_t>& channels, bool saving);

    void start(Clock::time_point now);
    // Shows the figures when the next update is due.
    void update(Clock::time_point now, const ZxCollectStatistics& statistics);
    // Ends the in-place line so that later output starts on a fresh line.
    void finish();

private:
    std::FILE* out_;
    bool terminal_;
    std::vector<std::uint32_t> channels_;
    bool saving_;
    Clock::time_point startTime_;
    Clock::time_point lastTime_;
    std::vector<std::uint64_t> lastRecords_;
    std::size_t lastWidth_ = 0;
    bool shown_ = false;
    std::string line_;
};
