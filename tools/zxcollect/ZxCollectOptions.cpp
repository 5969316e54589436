#include "ZxCollectOptions.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

// The channel used when the user names none: a CAN FD bus at 500 kbit/s, 2 Mbit/s data.
const ZxChannelRequest kDefaultChannel{0, true, 500000, 2000000};

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream stream(text);
    while (std::getline(stream, part, separator)) {
        parts.push_back(part);
    }
    if (!text.empty() && text.back() == separator) {
        parts.emplace_back();
    }
    return parts;
}

// Decimal, or hexadecimal with 0x; the whole text must be the number.
bool toUnsigned(const std::string& text, std::uint64_t max, std::uint64_t& value) {
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') {
        return false;
    }
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    char* end = nullptr;
    errno = 0;
    const unsigned long long parsed = std::strtoull(text.c_str(), &end, hex ? 16 : 10);
    if (errno == ERANGE || end == text.c_str() || *end != '\0' || parsed > max) {
        return false;
    }
    value = parsed;
    return true;
}

bool toRange(const std::string& text, std::int64_t min, std::int64_t max, std::int64_t& value) {
    std::uint64_t parsed = 0;
    if (!toUnsigned(text, static_cast<std::uint64_t>(max), parsed) ||
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
           "  --device N                 box index 0..15 (box 192.168.201.(130 + N)); default 0\n"
           "  --host-octet N             this host's address 192.168.201.N, 1..254; default 1\n"
           "  --channel CH:can:RATE      a classic CAN channel at RATE bit/s (repeatable)\n"
           "  --channel CH:canfd:RATE:DATARATE\n"
           "                             a CAN FD channel; default 0:canfd:500000:2000000\n"
           "  --terminal-resistor CH:on|off\n"
           "                             switch the terminal resistor of channel CH\n"
           "  --frequency ID:HZ          sampling frequency of module ID (0x101 or 257) on every\n"
           "                             channel, 1..65535 Hz (repeatable)\n"
           "  --save ROOT                save CSV files below ROOT (ROOT/CH1..CH6; with several\n"
           "                             channels ROOT/can<CH>/CH1..CH6)\n"
           "  --mapping TEXT             ID mapping lines \"id,name\", separated by newlines or ';'\n"
           "  --mapping-file PATH        ID mapping read from a file (one \"id,name\" per line)\n"
           "                             default: 0x101 Temperature, 0x301 Voltage, 0x501 Current,\n"
           "                             0x701 Frequency\n"
           "  --file-size MB             size of one CSV file, 1..1024 MiB; default 10\n"
           "  --duration SECONDS         stop after this time; default: until Ctrl-C\n"
           "  --log FILE                 write the library's log to FILE\n"
           "  --log-level 0..3           0 debug, 1 information (default), 2 warning, 3 error\n"
           "  --codes                    print the table of result codes and exit\n"
           "  --help                     print this text and exit\n"
           "\n"
           "Exit status: 0 when every call succeeded, 1 when a call failed, 2 for a usage error.\n";
}

bool ZxCollectOptions::hasChannel(std::uint32_t channel) const {
    for (const ZxChannelRequest& request : channels) {
        if (request.channel == channel) {
            return true;
        }
    }
    return false;
}

ZxCollectOptions::Outcome ZxCollectOptions::parse(int argc, char** argv) {
    bool mappingGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            return Outcome::Help;
        }
        if (option == "--codes") {
            return Outcome::Codes;
        }
        if (option.rfind("--", 0) != 0) {
            error = "unexpected argument '" + option + "'";
            return Outcome::Invalid;
        }
        if (i + 1 >= argc) {
            error = option + " needs a value";
            return Outcome::Invalid;
        }
        const std::string value = argv[++i];
        if (option == "--mapping" || option == "--mapping-file") {
            if (mappingGiven) {
                error = "give the ID mapping only once";
                return Outcome::Invalid;
            }
            mappingGiven = true;
            std::string text = value;
            const bool fromFile = option == "--mapping-file";
            if (fromFile && !readFile(value, text)) {
                error = "cannot read the mapping file " + value;
                return Outcome::Invalid;
            }
            std::string why;
            if (!mapping.parse(text, !fromFile, why)) {
                error = option + ": " + why;
                return Outcome::Invalid;
            }
            continue;
        }
        if (!parseOne(option, value)) {
            if (error.empty()) {
                error = "bad value '" + value + "' for " + option;
            }
            return Outcome::Invalid;
        }
    }
    if (channels.empty()) {
        channels.push_back(kDefaultChannel);
    }
    for (const ZxTerminalResistorRequest& request : terminalResistors) {
        if (!hasChannel(request.channel)) {
            error = "--terminal-resistor names channel " + std::to_string(request.channel) +
                    ", which no --channel opens";
            return Outcome::Invalid;
        }
    }
    if (!mappingGiven) {
        std::string unused;
        mapping.parse(ZxIdMapping::defaultText(), false, unused);
    }
    return Outcome::Run;
}

bool ZxCollectOptions::parseOne(const std::string& option, const std::string& value) {
    std::int64_t number = 0;
    if (option == "--device") {
        if (!toRange(value, 0, 15, number)) {
            return false;
        }
        device = static_cast<std::uint32_t>(number);
    } else if (option == "--host-octet") {
        if (!toRange(value, 1, 254, number)) {
            return false;
        }
        hostOctet = static_cast<std::int32_t>(number);
    } else if (option == "--channel") {
        const std::vector<std::string> parts = split(value, ':');
        ZxChannelRequest request;
        std::int64_t channel = 0;
        std::int64_t rate = 0;
        if (parts.size() < 3 || !toRange(parts[0], 0, 255, channel) ||
            !toRange(parts[2], 1, 0xFFFFFFFF, rate)) {
            error = "--channel wants CH:can:RATE or CH:canfd:RATE:DATARATE, not '" + value + "'";
            return false;
        }
        request.channel = static_cast<std::uint32_t>(channel);
        request.bitRate = static_cast<std::uint32_t>(rate);
        if (parts[1] == "can" && parts.size() == 3) {
            request.canFd = false;
        } else if (parts[1] == "canfd" && parts.size() == 4 && toRange(parts[3], 1, 0xFFFFFFFF, rate)) {
            request.canFd = true;
            request.dataBitRate = static_cast<std::uint32_t>(rate);
        } else {
            error = "--channel wants CH:can:RATE or CH:canfd:RATE:DATARATE, not '" + value + "'";
            return false;
        }
        if (hasChannel(request.channel)) {
            error = "channel " + parts[0] + " is given twice";
            return false;
        }
        channels.push_back(request);
    } else if (option == "--terminal-resistor") {
        const std::vector<std::string> parts = split(value, ':');
        std::int64_t channel = 0;
        if (parts.size() != 2 || !toRange(parts[0], 0, 255, channel) ||
            (parts[1] != "on" && parts[1] != "off")) {
            error = "--terminal-resistor wants CH:on or CH:off, not '" + value + "'";
            return false;
        }
        terminalResistors.push_back({static_cast<std::uint32_t>(channel), parts[1] == "on"});
    } else if (option == "--frequency") {
        const std::vector<std::string> parts = split(value, ':');
        std::int64_t id = 0;
        std::int64_t hertz = 0;
        if (parts.size() != 2 || !toRange(parts[0], 0, 0xFFFFFFFF, id) ||
            !toRange(parts[1], 1, 65535, hertz)) {
            error = "--frequency wants ID:HZ with HZ in 1..65535, not '" + value + "'";
            return false;
        }
        frequencies.push_back({static_cast<std::uint32_t>(id), static_cast<std::int32_t>(hertz)});
    } else if (option == "--save") {
        if (value.empty()) {
            return false;
        }
        saveRoot = value;
    } else if (option == "--file-size") {
        if (!toRange(value, 1, 1024, number)) {
            return false;
        }
        fileSizeMB = static_cast<std::int32_t>(number);
    } else if (option == "--duration") {
        char* end = nullptr;
        const double seconds = std::strtod(value.c_str(), &end);
        if (end == value.c_str() || *end != '\0' || !std::isfinite(seconds) || seconds <= 0.0) {
            return false;
        }
        durationSeconds = seconds;
    } else if (option == "--log") {
        if (value.empty()) {
            return false;
        }
        logPath = value;
    } else if (option == "--log-level") {
        if (!toRange(value, 0, 3, number)) {
            return false;
        }
        logLevel = static_cast<std::int32_t>(number);
    } else {
        error = "unknown option " + option;
        return false;
    }
    return true;
}
