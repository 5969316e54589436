// The link's loss counters for the live page. The library reports them only in its log
// (a warning line "Device<N> link dropped ..." at most once a second while losses grow),
// so the page's thread reads the lines added to the log since its last look.
#pragma once

#include <cstdint>
#include <map>
#include <string>

class ZxLiveLogWatch {
public:
    // An empty path: zxcollect runs without --log, and there is nothing to read.
    explicit ZxLiveLogWatch(std::string path);

    // Reads what the log gained; a log that rotated is read from its start.
    void poll();
    bool watching() const { return !path_.empty(); }
    // The latest loss line of the box, or empty when it reported none.
    std::string lossesOf(std::uint32_t device) const;

private:
    void takeLine(const std::string& line);

    std::string path_;
    std::uint64_t offset_ = 0;
    std::string partial_;
    std::map<std::uint32_t, std::string> losses_;
};
