#include "ZxCollectOptions.h"

#include "tools/common/OptionTable.h"

#include <fstream>
#include <sstream>

namespace {

using zxtools::ArgumentText;
using zxtools::OptionTable;

// The channel used when the user names none for a box: CAN FD at 500 kbit/s, 2 Mbit/s data.
const ZxChannelRequest kDefaultChannel{0, 0, true, 500000, 2000000};
constexpr std::int64_t kLastDevice = 15;

bool toRange(const std::string& text, std::int64_t min, std::int64_t max, std::int64_t& value) {
    std::uint64_t parsed = 0;
    if (!ArgumentText::toNumber(text, static_cast<std::uint64_t>(max), parsed) ||
        static_cast<std::int64_t>(parsed) < min) {
        return false;
    }
    value = static_cast<std::int64_t>(parsed);
    return true;
}

bool readFile(const std::string& path, std::string& text) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return false;
    }
    std::ostringstream contents;
    contents << file.rdbuf();
    text = contents.str();
    return true;
}

} // namespace

std::string ZxCollectOptions::usage() {
    return "usage: zxcollect [options]\n"
           "Collects module records from a VCI box, shows their rate and saves them as CSV files.\n"
           "\n"
           "  --device LIST              boxes 0..15 (box N answers at 192.168.201.(130 + N)), as\n"
           "                             N, N,M,... or A-B; repeatable; default 0\n"
           "  --host-octet N             this host's address 192.168.201.N, 1..254; default 1\n"
           "  --channel [DEV:]CH:can:RATE\n"
           "                             a classic CAN channel at RATE bit/s (repeatable); without\n"
           "                             DEV on every box, with DEV on that box only\n"
           "  --channel [DEV:]CH:canfd:RATE:DATARATE\n"
           "                             a CAN FD channel; default 0:canfd:500000:2000000\n"
           "  --terminal-resistor [DEV:]CH:on|off\n"
           "                             switch the terminal resistor of channel CH\n"
           "  --frequency ID:HZ          sampling frequency of module ID (0x101 or 257) on every\n"
           "                             channel, 1..65535 Hz (repeatable)\n"
           "  --save ROOT                save CSV files below ROOT (ROOT/CH1..CH6; with several\n"
           "                             channels ROOT/can<CH>/CH1..CH6; with several boxes\n"
           "                             ROOT/dev<DEV>/can<CH>/CH1..CH6)\n"
           "  --mapping TEXT             ID mapping lines \"id,name\", separated by newlines or ';'\n"
           "  --mapping-file PATH        ID mapping read from a file (one \"id,name\" per line)\n"
           "                             default: 0x101 Temperature, 0x301 Voltage, 0x501 Current,\n"
           "                             0x701 Frequency\n"
           "  --file-size MB             size of one CSV file, 1..1024 MiB; default 10\n"
           "  --duration SECONDS         stop after this time; default: until Ctrl-C\n"
           "  --log FILE                 write the library's log to FILE\n"
           "  --log-level 0..3           0 debug, 1 information (default), 2 warning, 3 error\n"
           "  --live [ADDR:]PORT         serve a live page of the run at http://ADDR:PORT/ (default\n"
           "                             address 127.0.0.1; port 0 picks a free port)\n"
           "  --mqtt HOST[:PORT]         publish summaries and a status to the MQTT broker at HOST\n"
           "                             (default port 1883, 8883 with --mqtt-tls)\n"
           "  --mqtt-topic PREFIX        topic prefix; default zxcollect/<host name>\n"
           "  --mqtt-interval SECONDS    one summary per identifier this often, 0.1..3600; default 1\n"
           "  --mqtt-records             also publish every record, batched per interval\n"
           "  --mqtt-user NAME           log in as NAME ...\n"
           "  --mqtt-password-file FILE  ... with the password on the first line of FILE\n"
           "  --mqtt-tls CAFILE          TLS, the broker's certificate verified against CAFILE\n"
           "  --mqtt-cert FILE, --mqtt-key FILE\n"
           "                             a client certificate and its key for TLS\n"
           "  --mqtt-qos 0|1             quality of service of the messages; default 0\n"
           "  --codes                    print the table of result codes and exit\n"
           "  --version                  print the versions of zxcollect and the library and exit\n"
           "  --help, -h, /?             print this text and exit\n"
           "\n"
           "Exit status: 0 when every call succeeded, 1 when a call failed, 2 for a usage error,\n"
           "3 when the live page cannot listen on its address, 4 when the MQTT broker cannot be\n"
           "reached or refuses the connection at the start.\n";
}

bool ZxCollectOptions::hasDevice(std::uint32_t device) const {
    for (std::uint32_t known : devices) {
        if (known == device) {
            return true;
        }
    }
    return false;
}

bool ZxCollectOptions::hasChannel(std::uint32_t device, std::uint32_t channel) const {
    for (const ZxChannelRequest& request : channels) {
        if (request.device == device && request.channel == channel) {
            return true;
        }
    }
    return false;
}

ZxCollectOptions::Outcome ZxCollectOptions::parse(int argc, char** argv) {
    Outcome outcome = Outcome::Run;
    constexpr auto kNone = OptionTable::Argument::None;
    constexpr auto kValue = OptionTable::Argument::Value;
    const auto ends = [&outcome](Outcome chosen) {
        return [&outcome, chosen](const std::string&) {
            outcome = chosen;
            return true;
        };
    };
    const OptionTable table({
        {"--help", kNone, ends(Outcome::Help), true},
        {"-h", kNone, ends(Outcome::Help), true},
        {"/?", kNone, ends(Outcome::Help), true}, // as Windows programs take it
        {"--version", kNone, ends(Outcome::Version), true},
        {"--codes", kNone, ends(Outcome::Codes), true},
        {"--device", kValue, [this](const std::string& value) { return parseDevices(value); }},
        {"--host-octet", kValue, OptionTable::number(hostOctet, 1, 254)},
        {"--channel", kValue, [this](const std::string& value) { return parseChannel(value); }},
        {"--terminal-resistor", kValue,
         [this](const std::string& value) { return parseTerminalResistor(value); }},
        {"--frequency", kValue, [this](const std::string& value) { return parseFrequency(value); }},
        {"--save", kValue, OptionTable::text(saveRoot)},
        {"--mapping", kValue, [this](const std::string& value) { return parseMapping("--mapping", value); }},
        {"--mapping-file", kValue,
         [this](const std::string& value) { return parseMapping("--mapping-file", value); }},
        {"--file-size", kValue, OptionTable::number(fileSizeMB, 1, 1024)},
        {"--duration", kValue, [this](const std::string& value) { return parseDuration(value); }},
        {"--log", kValue, OptionTable::text(logPath)},
        {"--log-level", kValue, OptionTable::number(logLevel, 0, 3)},
        {"--live", kValue, [this](const std::string& value) { return parseLive(value); }},
        {"--mqtt", kValue, [this](const std::string& value) { return parseMqtt(value); }},
        {"--mqtt-topic", kValue, OptionTable::text(mqtt.topic)},
        {"--mqtt-interval", kValue,
         [this](const std::string& value) {
             return ArgumentText::toReal(value, mqtt.intervalSeconds) && mqtt.intervalSeconds >= 0.1 &&
                    mqtt.intervalSeconds <= 3600.0;
         }},
        {"--mqtt-records", kNone,
         [this](const std::string&) {
             mqtt.records = true;
             return true;
         }},
        {"--mqtt-user", kValue, OptionTable::text(mqtt.user)},
        {"--mqtt-password-file", kValue, OptionTable::text(mqtt.passwordFile)},
        {"--mqtt-tls", kValue, OptionTable::text(mqtt.caFile)},
        {"--mqtt-cert", kValue, OptionTable::text(mqtt.certFile)},
        {"--mqtt-key", kValue, OptionTable::text(mqtt.keyFile)},
        {"--mqtt-qos", kValue, OptionTable::number(mqtt.qos, 0, 1)},
    });
    const OptionTable::Outcome result = table.parse(argc, argv);
    switch (result.problem) {
    case OptionTable::Problem::None:
        break;
    case OptionTable::Problem::NotAnOption:
        error = "unexpected argument '" + result.argument + "'";
        return Outcome::Invalid;
    case OptionTable::Problem::UnknownOption:
        error = "unknown option " + result.argument;
        return Outcome::Invalid;
    case OptionTable::Problem::MissingValue:
        error = result.argument + " needs a value";
        return Outcome::Invalid;
    case OptionTable::Problem::BadValue:
        if (error.empty()) {
            error = "bad value '" + result.value + "' for " + result.argument;
        }
        return Outcome::Invalid;
    }
    if (outcome != Outcome::Run) {
        return outcome;
    }
    if (!expandPerDevice() || !checkMqtt()) {
        return Outcome::Invalid;
    }
    if (!mappingGiven_) {
        std::string unused;
        mapping.parse(ZxIdMapping::defaultText(), unused);
    }
    return Outcome::Run;
}

bool ZxCollectOptions::parseMapping(const std::string& option, const std::string& value) {
    if (mappingGiven_) {
        error = "give the ID mapping only once";
        return false;
    }
    mappingGiven_ = true;
    std::string text = value;
    if (option == "--mapping-file" && !readFile(value, text)) {
        error = "cannot read the mapping file " + value;
        return false;
    }
    std::string why;
    if (!mapping.parse(text, why)) {
        error = option + ": " + why;
        return false;
    }
    return true;
}

bool ZxCollectOptions::expandPerDevice() {
    if (devices.empty()) {
        devices.push_back(0);
    }
    for (const ZxChannelRequest& request : channelRequests_) {
        if (request.device != kEveryDevice && !hasDevice(request.device)) {
            error = "--channel names box " + std::to_string(request.device) + ", which no --device opens";
            return false;
        }
    }
    for (std::uint32_t device : devices) {
        bool any = false;
        for (ZxChannelRequest request : channelRequests_) {
            if (request.device != kEveryDevice && request.device != device) {
                continue;
            }
            request.device = device;
            if (hasChannel(device, request.channel)) {
                error = "channel " + std::to_string(request.channel) + " of box " + std::to_string(device) +
                        " is given twice";
                return false;
            }
            channels.push_back(request);
            any = true;
        }
        if (!any) {
            ZxChannelRequest request = kDefaultChannel;
            request.device = device;
            channels.push_back(request);
        }
    }
    for (const ZxTerminalResistorRequest& request : resistorRequests_) {
        bool any = false;
        for (std::uint32_t device : devices) {
            if ((request.device == kEveryDevice || request.device == device) &&
                hasChannel(device, request.channel)) {
                terminalResistors.push_back({device, request.channel, request.on});
                any = true;
            }
        }
        if (!any || (request.device != kEveryDevice && !hasDevice(request.device))) {
            error = "--terminal-resistor names channel " + std::to_string(request.channel) +
                    ", which no --channel opens";
            return false;
        }
    }
    return true;
}

// "N", "N,M,..." or "A-B"; a box given twice is refused.
bool ZxCollectOptions::parseDevices(const std::string& value) {
    for (const std::string& item : ArgumentText::split(value, ',')) {
        const std::size_t dash = item.find('-');
        std::int64_t first = 0;
        std::int64_t last = 0;
        const bool ok = dash == std::string::npos
                            ? toRange(item, 0, kLastDevice, first)
                            : toRange(item.substr(0, dash), 0, kLastDevice, first) &&
                                  toRange(item.substr(dash + 1), first, kLastDevice, last);
        if (!ok) {
            error = "--device wants boxes 0..15 as N, N,M or A-B, not '" + value + "'";
            return false;
        }
        if (dash == std::string::npos) {
            last = first;
        }
        for (std::int64_t device = first; device <= last; ++device) {
            if (hasDevice(static_cast<std::uint32_t>(device))) {
                error = "box " + std::to_string(device) + " is given twice";
                return false;
            }
            devices.push_back(static_cast<std::uint32_t>(device));
        }
    }
    return true;
}

// [DEV:]CH:can:RATE or [DEV:]CH:canfd:RATE:DATARATE
bool ZxCollectOptions::parseChannel(const std::string& value) {
    std::vector<std::string> parts = ArgumentText::split(value, ':');
    ZxChannelRequest request;
    request.device = kEveryDevice;
    std::int64_t number = 0;
    const bool withDevice = parts.size() >= 3 && (parts[2] == "can" || parts[2] == "canfd");
    if (withDevice) {
        if (!toRange(parts[0], 0, kLastDevice, number)) {
            error = "--channel names box '" + parts[0] + "'; boxes are 0..15";
            return false;
        }
        request.device = static_cast<std::uint32_t>(number);
        parts.erase(parts.begin());
    }
    std::int64_t rate = 0;
    const bool ok = parts.size() >= 3 && toRange(parts[0], 0, 255, number) &&
                    toRange(parts[2], 1, 0xFFFFFFFF, rate) &&
                    ((parts[1] == "can" && parts.size() == 3) ||
                     (parts[1] == "canfd" && parts.size() == 4 && toRange(parts[3], 1, 0xFFFFFFFF, rate)));
    if (!ok) {
        error = "--channel wants [DEV:]CH:can:RATE or [DEV:]CH:canfd:RATE:DATARATE, not '" + value + "'";
        return false;
    }
    request.channel = static_cast<std::uint32_t>(number);
    request.canFd = parts[1] == "canfd";
    toRange(parts[2], 1, 0xFFFFFFFF, rate);
    request.bitRate = static_cast<std::uint32_t>(rate);
    if (request.canFd) {
        toRange(parts[3], 1, 0xFFFFFFFF, rate);
        request.dataBitRate = static_cast<std::uint32_t>(rate);
    }
    channelRequests_.push_back(request);
    return true;
}

// [DEV:]CH:on|off
bool ZxCollectOptions::parseTerminalResistor(const std::string& value) {
    const std::vector<std::string> parts = ArgumentText::split(value, ':');
    std::int64_t device = kEveryDevice;
    std::int64_t channel = 0;
    const bool ok = (parts.size() == 2 || (parts.size() == 3 && toRange(parts[0], 0, kLastDevice, device))) &&
                    toRange(parts[parts.size() - 2], 0, 255, channel) &&
                    (parts.back() == "on" || parts.back() == "off");
    if (!ok) {
        error = "--terminal-resistor wants [DEV:]CH:on or [DEV:]CH:off, not '" + value + "'";
        return false;
    }
    resistorRequests_.push_back(
        {static_cast<std::uint32_t>(device), static_cast<std::uint32_t>(channel), parts.back() == "on"});
    return true;
}

bool ZxCollectOptions::parseFrequency(const std::string& value) {
    const std::vector<std::string> parts = ArgumentText::split(value, ':');
    std::int64_t id = 0;
    std::int64_t hertz = 0;
    if (parts.size() != 2 || !toRange(parts[0], 0, 0xFFFFFFFF, id) || !toRange(parts[1], 1, 65535, hertz)) {
        error = "--frequency wants ID:HZ with HZ in 1..65535, not '" + value + "'";
        return false;
    }
    frequencies.push_back({static_cast<std::uint32_t>(id), static_cast<std::int32_t>(hertz)});
    return true;
}

bool ZxCollectOptions::parseDuration(const std::string& value) {
    return ArgumentText::toReal(value, durationSeconds) && durationSeconds > 0.0;
}

// [ADDR:]PORT; the address is checked when the page binds it.
bool ZxCollectOptions::parseLive(const std::string& value) {
    const std::size_t colon = value.rfind(':');
    std::int64_t port = 0;
    if (!toRange(colon == std::string::npos ? value : value.substr(colon + 1), 0, 65535, port) ||
        colon == 0) {
        error = "--live wants [ADDR:]PORT with PORT 0..65535, not '" + value + "'";
        return false;
    }
    if (colon != std::string::npos) {
        liveAddress = value.substr(0, colon);
    }
    livePort = static_cast<std::int32_t>(port);
    return true;
}

// HOST[:PORT]; an IPv6 address goes in brackets ([::1]:1883).
bool ZxCollectOptions::parseMqtt(const std::string& value) {
    std::string host = value;
    std::string port;
    if (!value.empty() && value.front() == '[') {
        const std::size_t close = value.find(']');
        if (close != std::string::npos) {
            host = value.substr(1, close - 1);
            if (close + 1 < value.size()) {
                port = value[close + 1] == ':' ? value.substr(close + 2) : "x";
            }
        }
    } else if (const std::size_t colon = value.find(':'); colon != std::string::npos) {
        host = value.substr(0, colon);
        port = value.substr(colon + 1);
    }
    std::int64_t number = 0;
    if (host.empty() || (!port.empty() && !toRange(port, 1, 65535, number))) {
        error = "--mqtt wants HOST[:PORT] with PORT 1..65535, not '" + value + "'";
        return false;
    }
    mqtt.host = host;
    mqtt.port = static_cast<std::int32_t>(number);
    return true;
}

bool ZxCollectOptions::checkMqtt() {
    const bool companions = !mqtt.topic.empty() || mqtt.records || !mqtt.user.empty() ||
                            !mqtt.passwordFile.empty() || !mqtt.caFile.empty() || !mqtt.certFile.empty() ||
                            !mqtt.keyFile.empty() || mqtt.qos != 0 || mqtt.intervalSeconds != 1.0;
    if (mqtt.host.empty() && companions) {
        error = "the --mqtt-... options need --mqtt HOST[:PORT]";
    } else if (!mqtt.passwordFile.empty() && mqtt.user.empty()) {
        error = "--mqtt-password-file needs --mqtt-user";
    } else if ((!mqtt.certFile.empty() || !mqtt.keyFile.empty()) &&
               (mqtt.certFile.empty() || mqtt.keyFile.empty() || mqtt.caFile.empty())) {
        error = "a client certificate needs --mqtt-cert, --mqtt-key and --mqtt-tls";
    } else if (mqtt.topic.find_first_of("+#") != std::string::npos ||
               (!mqtt.topic.empty() && mqtt.topic.back() == '/')) {
        error = "--mqtt-topic wants a prefix without '+', '#' or a trailing '/', not '" + mqtt.topic + "'";
    } else {
        return true;
    }
    return false;
}
