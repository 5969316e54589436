// One run of zxcollect: opens the box, configures the channels and modules, reads
// and saves until the time is up or Ctrl-C, closes everything and prints a summary.
#pragma once

#include "zxcollector_api.h"

#include "ZxCollectOptions.h"
#include "ZxCollectStatistics.h"

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

class ZxCollectSession {
public:
    ZxCollectSession(const ZxCollectOptions& options, std::FILE* out, std::FILE* err);

    // The exit status: 0 when every call succeeded, 1 when one failed.
    int run();

private:
    // Records a call's result; false (with a message) for a failure.
    bool check(const char* call, const std::string& arguments, std::int32_t result);
    bool setUp();
    void readUntilStopped();
    void shutDown();
    void printSummary(double seconds);
    std::string saveFolderOf(std::uint32_t channel) const;

    const ZxCollectOptions& options_;
    std::FILE* out_;
    std::FILE* err_;
    std::vector<std::uint32_t> channels_;
    ZxCollectStatistics statistics_;
    // Reused for every read: no allocation per batch.
    std::vector<ZxCollectData> records_;

    bool logOpen_ = false;
    bool deviceOpen_ = false;
    std::vector<std::uint32_t> initialisedChannels_;
    std::vector<std::uint32_t> savingChannels_;
    // (call, code) -> how often it failed.
    std::map<std::pair<std::string, std::int32_t>, int> failures_;
};
