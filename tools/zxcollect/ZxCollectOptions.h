// What the user asked zxcollect to do, read from the command line.
#pragma once

#include "ZxIdMapping.h"

#include <cstdint>
#include <string>
#include <vector>

struct ZxChannelRequest {
    std::uint32_t channel = 0;
    bool canFd = false;
    std::uint32_t bitRate = 0;
    std::uint32_t dataBitRate = 0;
};

struct ZxTerminalResistorRequest {
    std::uint32_t channel = 0;
    bool on = false;
};

struct ZxFrequencyRequest {
    std::uint32_t moduleId = 0;
    std::int32_t hertz = 0;
};

class ZxCollectOptions {
public:
    enum class Outcome { Run, Help, Codes, Invalid };

    // Fills the fields; on Invalid, error says what is wrong.
    Outcome parse(int argc, char** argv);

    static std::string usage();

    std::uint32_t device = 0;
    std::int32_t hostOctet = 1;
    std::vector<ZxChannelRequest> channels;
    std::vector<ZxTerminalResistorRequest> terminalResistors;
    std::vector<ZxFrequencyRequest> frequencies;
    std::string saveRoot;
    ZxIdMapping mapping;
    std::int32_t fileSizeMB = 10;
    // 0: until Ctrl-C.
    double durationSeconds = 0.0;
    std::string logPath;
    std::int32_t logLevel = 1;
    std::string error;

private:
    bool parseOne(const std::string& option, const std::string& value);
    bool hasChannel(std::uint32_t channel) const;
};
