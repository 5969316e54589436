#include "ZxProgressLine.h"

namespace {

constexpr std::chrono::milliseconds kTerminalInterval{250};
constexpr std::chrono::milliseconds kPlainInterval{1000};
// Up to this many channels each gets its own rate; beyond, each box gets one.
constexpr std::size_t kMostChannelsShown = 8;

} // namespace

ZxProgressLine::ZxProgressLine(std::FILE* out, bool terminal, const std::vector<ZxSlot>& slots,
                               bool severalDevices, bool saving)
    : out_(out), terminal_(terminal), saving_(saving) {
    const bool perChannel = slots.size() <= kMostChannelsShown;
    for (std::size_t slot = 0; slot < slots.size(); ++slot) {
        const std::string device = "DEV" + std::to_string(slots[slot].device);
        const std::string channel = "CAN" + std::to_string(slots[slot].channel);
        const std::string label = !perChannel ? device : severalDevices ? device + " " + channel : channel;
        if (groups_.empty() || groups_.back().label != label) {
            groups_.push_back({label, {}, 0});
        }
        groups_.back().slots.push_back(slot);
    }
}

void ZxProgressLine::start(Clock::time_point now) {
    startTime_ = now;
    lastTime_ = now;
}

void ZxProgressLine::update(Clock::time_point now, const ZxCollectStatistics& statistics) {
    if (now - lastTime_ < (terminal_ ? kTerminalInterval : kPlainInterval)) {
        return;
    }
    const double interval = std::chrono::duration<double>(now - lastTime_).count();
    const long long elapsed = std::chrono::duration_cast<std::chrono::seconds>(now - startTime_).count();
    lastTime_ = now;

    char part[96];
    line_.clear();
    for (Group& group : groups_) {
        std::uint64_t records = 0;
        for (std::size_t slot : group.slots) {
            records += statistics.recordsOf(slot);
        }
        const double rate = static_cast<double>(records - group.lastRecords) / interval;
        group.lastRecords = records;
        std::snprintf(part, sizeof part, "%s %.0f rec/s  ", group.label.c_str(), rate);
        line_ += part;
    }
    std::snprintf(part, sizeof part, "| %llu records",
                  static_cast<unsigned long long>(statistics.totalRecords()));
    line_ += part;
    if (saving_) {
        std::snprintf(part, sizeof part, " | %llu samples saved",
                      static_cast<unsigned long long>(statistics.samplesSaved()));
        line_ += part;
    }
    std::snprintf(part, sizeof part, " | %02lld:%02lld:%02lld", elapsed / 3600, elapsed / 60 % 60,
                  elapsed % 60);
    line_ += part;

    if (terminal_) {
        // Blanks over the rest of a longer previous line; no escape sequences, which
        // not every console understands.
        const std::size_t width = line_.size();
        if (width < lastWidth_) {
            line_.append(lastWidth_ - width, ' ');
        }
        lastWidth_ = width;
        std::fprintf(out_, "\r%s", line_.c_str());
    } else {
        std::fprintf(out_, "%s\n", line_.c_str());
    }
    std::fflush(out_);
    shown_ = true;
}

void ZxProgressLine::finish() {
    if (terminal_ && shown_) {
        std::fputc('\n', out_);
        std::fflush(out_);
    }
    shown_ = false;
}
