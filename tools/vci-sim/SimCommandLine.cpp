#include "tools/vci-sim/SimCommandLine.h"

#include "tools/common/OptionTable.h"

#include <cstdint>
#include <vector>

namespace vcisim {

namespace {

using zxtools::ArgumentText;
using zxtools::OptionTable;

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
    const auto fields = ArgumentText::split(text, ':');
    if (fields.empty() || fields.size() > 5 || !toKind(fields[0], setup.kind)) {
        return false;
    }
    setup.identifier = static_cast<uint32_t>(setup.kind) * 512 - 255;
    setup.channelMask = 0x3F;
    const OptionTable::Setter numbers[] = {OptionTable::number(setup.identifier, 0, 0x1FFFFFFF),
                                           OptionTable::number(setup.frequencyHz, 0, 65535),
                                           OptionTable::number(setup.channelMask, 0, 0x7F)};
    for (size_t k = 1; k < fields.size() && k < 4; ++k) {
        if (!numbers[k - 1](fields[k])) {
            return false;
        }
    }
    setup.silent = fields.size() == 5;
    return !setup.silent || fields[4] == "silent";
}

OptionTable::Setter devices(std::vector<uint32_t>& indices) {
    return [&indices](const std::string& value) {
        indices.clear();
        for (const auto& part : ArgumentText::split(value, ',')) {
            indices.emplace_back();
            if (!OptionTable::number(indices.back(), 0, 15)(part)) {
                return false;
            }
        }
        return !indices.empty();
    };
}

OptionTable::Setter firmware(std::array<uint8_t, 4>& bytes) {
    return [&bytes](const std::string& value) {
        const auto parts = ArgumentText::split(value, '.');
        for (size_t k = 0; k < parts.size() && parts.size() == bytes.size(); ++k) {
            if (!OptionTable::number(bytes[k], 0, 255)(parts[k])) {
                return false;
            }
        }
        return parts.size() == bytes.size();
    };
}

OptionTable::Setter modules(std::vector<ModuleSpec>& list, bool& given) {
    return [&list, &given](const std::string& value) {
        given = true;
        list.clear();
        for (const auto& part :
             value == "none" ? std::vector<std::string>{} : ArgumentText::split(value, ',')) {
            list.emplace_back();
            if (!toModule(part, list.back())) {
                return false;
            }
        }
        return true;
    };
}

OptionTable::Setter flag(bool& field) {
    return [&field](const std::string&) { return field = true; };
}

OptionTable::Setter notNegative(double& field) {
    return [&field](const std::string& value) { return ArgumentText::toReal(value, field) && field >= 0; };
}

OptionTable::Setter rate(RateMode& mode) {
    return [&mode](const std::string& value) {
        mode.enabled = true;
        return ArgumentText::toReal(value, mode.framesPerSecond) && mode.framesPerSecond >= 0;
    };
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
           "  --max-datagram-bytes N  datagram fill limit (default 1400)\n"
           "  --bus-load-ms N         bus-load report period per open channel, 0 = none (default 1000)\n"
           "  --clock-offset TICKS    added to the box clock (0.1 us ticks)\n"
           "  --rate FPS              rate mode: frames per second per channel, 0 = as fast as possible\n"
           "  --rate-count N          rate mode: frames per channel, 0 = no end (default 0)\n"
           "  --duration SECONDS      stop after this time (default: run until signalled)\n"
           "  --restart-pause-ms N    SIGUSR1 restarts every box: its address is unbound for\n"
           "                          N ms, then it goes on where it was (default 2000)\n"
           "  --version               print the version and exit\n"
           "  --help                  this text\n";
}

std::string SimCommandLine::parse(int argc, const char* const* argv) {
    bool modulesGiven = false;
    uint16_t defaultFrequency = 0;
    constexpr auto kNone = OptionTable::Argument::None;
    constexpr auto kValue = OptionTable::Argument::Value;
    const OptionTable table({
        {"--help", kNone, flag(help)},
        {"-h", kNone, flag(help)},
        {"--version", kNone, flag(version)},
        {"--unique-values", kNone, flag(options.uniqueValues)},
        {"--devices", kValue, devices(options.deviceIndices)},
        {"--port", kValue, OptionTable::number(options.port, 1, 65535)},
        {"--firmware", kValue, firmware(options.firmware)},
        {"--channels", kValue, OptionTable::number(options.canChannelCount, 1, 255)},
        {"--modules", kValue, modules(options.modules, modulesGiven)},
        {"--frequency", kValue, OptionTable::number(defaultFrequency, 0, 65535)},
        // A sample frame is 89 bytes; the receive buffer of the host holds 4096.
        {"--max-datagram-bytes", kValue, OptionTable::number(options.maxDatagramBytes, 89, 65000)},
        {"--bus-load-ms", kValue, OptionTable::number(options.busLoadIntervalMs, 0, 3600000)},
        {"--clock-offset", kValue, OptionTable::number(options.clockOffsetTicks, 0, UINT64_MAX)},
        {"--rate", kValue, rate(options.rate)},
        {"--rate-count", kValue, OptionTable::number(options.rate.frameCount, 0, UINT64_MAX)},
        {"--duration", kValue, notNegative(durationSeconds)},
        {"--restart-pause-ms", kValue, OptionTable::number(restartPauseMs, 0, 600000)},
    });
    const OptionTable::Outcome outcome = table.parse(argc, argv);
    switch (outcome.problem) {
    case OptionTable::Problem::None:
        break;
    case OptionTable::Problem::NotAnOption:
        return "unknown argument " + outcome.argument;
    case OptionTable::Problem::UnknownOption:
        return "unknown option " + outcome.argument;
    case OptionTable::Problem::MissingValue:
    case OptionTable::Problem::BadValue:
        return "invalid or missing value for " + outcome.argument;
    }
    if (defaultFrequency != 0 && !modulesGiven) {
        for (auto& setup : options.modules) {
            setup.frequencyHz = defaultFrequency;
        }
    }
    return {};
}

} // namespace vcisim
