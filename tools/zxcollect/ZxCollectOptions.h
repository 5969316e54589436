// What the user asked zxcollect to do, read from the command line.
#pragma once

#include "ZxIdMapping.h"

#include <cstdint>
#include <string>
#include <vector>

struct ZxChannelRequest {
    std::uint32_t device = 0;
    std::uint32_t channel = 0;
    bool canFd = false;
    std::uint32_t bitRate = 0;
    std::uint32_t dataBitRate = 0;
};

struct ZxTerminalResistorRequest {
    std::uint32_t device = 0;
    std::uint32_t channel = 0;
    bool on = false;
};

struct ZxFrequencyRequest {
    std::uint32_t moduleId = 0;
    std::int32_t hertz = 0;
};

// --mqtt and its companions: where and how the run publishes its summaries.
struct ZxMqttRequest {
    // Empty: no publishing.
    std::string host;
    // 0: the broker's usual port (1883, 8883 with TLS).
    std::int32_t port = 0;
    // Empty: zxcollect/<host name>.
    std::string topic;
    double intervalSeconds = 1.0;
    bool records = false;
    std::string user;
    std::string passwordFile;
    std::string caFile;
    std::string certFile;
    std::string keyFile;
    std::int32_t qos = 0;
};

class ZxCollectOptions {
public:
    enum class Outcome { Run, Help, Version, Codes, Invalid };

    // Fills the fields; on Invalid, error says what is wrong.
    Outcome parse(int argc, char** argv);

    static std::string usage();

    // Boxes in the order given (default: box 0).
    std::vector<std::uint32_t> devices;
    std::int32_t hostOctet = 1;
    // Every channel of every box, grouped by box in the order of devices.
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
    // --live: the address and port of the live page; port -1 for no page.
    std::string liveAddress = "127.0.0.1";
    std::int32_t livePort = -1;
    ZxMqttRequest mqtt;
    std::string error;

private:
    // A --channel or --terminal-resistor without a box applies to every box.
    static constexpr std::uint32_t kEveryDevice = 0xFFFFFFFF;

    bool parseDevices(const std::string& value);
    bool parseChannel(const std::string& value);
    bool parseTerminalResistor(const std::string& value);
    bool parseFrequency(const std::string& value);
    bool parseDuration(const std::string& value);
    bool parseLive(const std::string& value);
    bool parseMqtt(const std::string& value);
    // The companions of --mqtt need it; a password file needs a user, a key a certificate.
    bool checkMqtt();
    // --mapping (text) or --mapping-file (path); only one of them, once.
    bool parseMapping(const std::string& option, const std::string& value);
    // Gives every box its channels and terminal resistors once all options are read.
    bool expandPerDevice();
    bool hasDevice(std::uint32_t device) const;
    bool hasChannel(std::uint32_t device, std::uint32_t channel) const;

    std::vector<ZxChannelRequest> channelRequests_;
    std::vector<ZxTerminalResistorRequest> resistorRequests_;
    bool mappingGiven_ = false;
};
