#include "tools/vci-sim/SimCommandLine.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <vector>

namespace vcisim {

namespace {

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::stringstream stream(text);
    std::string part;
    while (std::getline(stream, part, separator)) {
        parts.push_back(part);
    }
    return parts;
}

// Decimal, or hexadecimal with 0x; false for anything else or out of range.
bool toNumber(const std::string& text, uint64_t maximum, uint64_t& value) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    value = std::strtoull(text.c_str(), &end, 0);
    return errno == 0 && *end == '\0' && text[0] != '-' && value <= maximum;
}

bool toDouble(const std::string& text, double& value) {
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0' && value >= 0;
}

bool toKind(const std::string& text, ModuleKind& kind) {
    const std::pair<const char*, ModuleKind> names[] = {{"temperature", ModuleKind::Temperature},
                                                        {"voltage", ModuleKind::Voltage},
                                                        {"current", ModuleKind::Current},
                                                        {"frequency", ModuleKind::Frequency}};
    for (const auto& [name, value] : names) {
        if (text == name) {
            kind = value;
            return true;
        }
    }
    return false;
}

// kind[:id[:hz[:mask[:silent]]]]
bool toModule(const std::string& text, ModuleSpec& setup) {
    const auto fields = split(text, ':');
    if (fields.empty() || !toKind(fields[0], setup.kind)) {
        return false;
    }
    setup.identifier = static_cast<uint32_t>(setup.kind) * 512 - 255;
    setup.channelMask = 0x3F;
    uint64_t value = 0;
    if (fields.size() > 1) {
        if (!toNumber(fields[1], 0x1FFFFFFF, value)) {
            return false;
        }
        setup.identifier = static_cast<uint32_t>(value);
    }
    if (fields.size() > 2) {
        if (!toNumber(fields[2], 65535, value)) {
            return false;
        }
        setup.frequencyHz = static_cast<uint16_t>(value);
    }
    if (fields.size() > 3) {
        if (!toNumber(fields[3], 0x7F, value)) {
            return false;
        }
        setup.channelMask = static_cast<uint8_t>(value);
    }
    if (fields.size() > 4) {
        if (fields[4] != "silent") {
            return false;
        }
        setup.silent = true;
    }
    return fields.size() <= 5;
}

} // namespace

std::string SimCommandLine::usage() {
    return "usage: vci-sim [options]\n"
           "Simulated VCI boxes on 192.168.201.(130+i):8000; runs only inside scripts/netns-run.sh.\n"
           "Prints \"vci-sim ready\" once bound; stops on SIGINT/SIGTERM or after --duration.\n"
           "  --devices 0,1           device indices to simulate (default 0)\n"
           "  --port N                UDP port (default 8000)\n"
           "  --firmware a.b.c.d      version reply bytes (default 1.2.3.4)\n"
           "  --channels N            CAN channels per box (default 8)\n"
           "  --modules LIST          modules on every channel, comma separated\n"
           "                          kind[:id[:hz[:mask[:silent]]]], kind one of temperature,\n"
           "                          voltage, current, frequency; 'none' for no modules\n"
           "                          (default temperature:0x101,voltage:0x301,current:0x501,\n"
           "                          frequency:0x701 at 100 Hz)\n"
           "  --frequency HZ          sampling frequency of the default modules\n"
           "  --unique-values         value k (k=0..5) = counter*8+k\n"
           "  --frames-per-datagram N at most N frames per datagram (default: as many as fit)\n"
           "  --max-datagram-bytes N  datagram fill limit (default 1400)\n"
           "  --bus-load-ms N         bus-load report period per open channel, 0 = none (default 1000)\n"
           "  --clock-offset TICKS    added to the box clock (0.1 us ticks)\n"
           "  --rate FPS              rate mode: frames per second per channel, 0 = as fast as possible\n"
           "  --rate-count N          rate mode: frames per channel, 0 = no end (default 0)\n"
           "  --silent                no replies and no data\n"
           "  --drop TYPE:CMD[:NTH]   drop replies to type/command (hex), every one or only the NTH\n"
           "  --delay-ms N            delay every reply by N ms\n"
           "  --garbage N             N garbage bytes before every frame sent\n"
           "  --split-frames          cut every datagram inside a frame\n"
           "  --wrong-channel         reply with channel + 1\n"
           "  --duration SECONDS      stop after this time (default: run until signalled)\n"
           "  --restart-pause-ms N    SIGUSR1 restarts every box: its address is unbound for\n"
           "                          N ms, then it goes on where it was (default 2000)\n"
           "  --help                  this text\n";
}

std::string SimCommandLine::parse(int argc, const char* const* argv) {
    bool modulesGiven = false;
    uint64_t defaultFrequency = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        auto next = [&](std::string& value) {
            if (i + 1 >= argc) {
                return false;
            }
            value = argv[++i];
            return true;
        };
        std::string value;
        uint64_t number = 0;
        auto bad = [&] { return "invalid or missing value for " + option; };
        if (option == "--help" || option == "-h") {
            help = true;
        } else if (option == "--unique-values") {
            options.uniqueValues = true;
        } else if (option == "--silent") {
            options.misbehaviour.silent = true;
        } else if (option == "--split-frames") {
            options.misbehaviour.splitFrames = true;
        } else if (option == "--wrong-channel") {
            options.misbehaviour.wrongChannelReplies = true;
        } else if (!next(value)) {
            return option.rfind("--", 0) == 0 ? bad() : "unknown argument " + option;
        } else if (option == "--devices") {
            options.deviceIndices.clear();
            for (const auto& part : split(value, ',')) {
                if (!toNumber(part, 15, number)) {
                    return bad();
                }
                options.deviceIndices.push_back(static_cast<uint32_t>(number));
            }
            if (options.deviceIndices.empty()) {
                return bad();
            }
        } else if (option == "--port") {
            if (!toNumber(value, 65535, number) || number == 0) {
                return bad();
            }
            options.port = static_cast<uint16_t>(number);
        } else if (option == "--firmware") {
            const auto parts = split(value, '.');
            if (parts.size() != 4) {
                return bad();
            }
            for (size_t k = 0; k < 4; ++k) {
                if (!toNumber(parts[k], 255, number)) {
                    return bad();
                }
                options.firmware[k] = static_cast<uint8_t>(number);
            }
        } else if (option == "--channels") {
            if (!toNumber(value, 255, number) || number == 0) {
                return bad();
            }
            options.canChannelCount = static_cast<uint32_t>(number);
        } else if (option == "--modules") {
            modulesGiven = true;
            options.modules.clear();
            if (value != "none") {
                for (const auto& part : split(value, ',')) {
                    ModuleSpec setup;
                    if (!toModule(part, setup)) {
                        return bad();
                    }
                    options.modules.push_back(setup);
                }
            }
        } else if (option == "--frequency") {
            if (!toNumber(value, 65535, defaultFrequency)) {
                return bad();
            }
        } else if (option == "--frames-per-datagram") {
            if (!toNumber(value, 1000, number)) {
                return bad();
            }
            options.framesPerDatagram = static_cast<uint32_t>(number);
        } else if (option == "--max-datagram-bytes") {
            // A sample frame is 89 bytes; the receive buffer of the host holds 4096.
            if (!toNumber(value, 65000, number) || number < 89) {
                return bad();
            }
            options.maxDatagramBytes = static_cast<uint32_t>(number);
        } else if (option == "--bus-load-ms") {
            if (!toNumber(value, 3600000, number)) {
                return bad();
            }
            options.busLoadIntervalMs = static_cast<uint32_t>(number);
        } else if (option == "--clock-offset") {
            if (!toNumber(value, UINT64_MAX, number)) {
                return bad();
            }
            options.clockOffsetTicks = number;
        } else if (option == "--rate") {
            if (!toDouble(value, options.rate.framesPerSecond)) {
                return bad();
            }
            options.rate.enabled = true;
        } else if (option == "--rate-count") {
            if (!toNumber(value, UINT64_MAX, number)) {
                return bad();
            }
            options.rate.frameCount = number;
        } else if (option == "--drop") {
            const auto parts = split(value, ':');
            uint64_t type = 0;
            uint64_t command = 0;
            uint64_t nth = 0;
            if (parts.size() < 2 || parts.size() > 3 || !toNumber("0x" + parts[0], 255, type) ||
                !toNumber("0x" + parts[1], 255, command) ||
                (parts.size() == 3 && !toNumber(parts[2], UINT32_MAX, nth))) {
                return bad();
            }
            options.misbehaviour.dropReplies.push_back(
                {static_cast<uint8_t>(type), static_cast<uint8_t>(command), static_cast<uint32_t>(nth)});
        } else if (option == "--delay-ms") {
            if (!toNumber(value, 600000, number)) {
                return bad();
            }
            options.misbehaviour.replyDelayMs = static_cast<uint32_t>(number);
        } else if (option == "--garbage") {
            if (!toNumber(value, 1000, number)) {
                return bad();
            }
            options.misbehaviour.garbageBytesBetweenFrames = static_cast<uint32_t>(number);
        } else if (option == "--restart-pause-ms") {
            if (!toNumber(value, 600000, number)) {
                return bad();
            }
            restartPauseMs = static_cast<uint32_t>(number);
        } else if (option == "--duration") {
            if (!toDouble(value, durationSeconds)) {
                return bad();
            }
        } else {
            return "unknown option " + option;
        }
    }
    if (defaultFrequency != 0 && !modulesGiven) {
        for (auto& setup : options.modules) {
            setup.frequencyHz = static_cast<uint16_t>(defaultFrequency);
        }
    }
    return {};
}

} // namespace vcisim
