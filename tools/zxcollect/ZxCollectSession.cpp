#include "ZxCollectSession.h"

#include "ZxConsole.h"
#include "ZxCsvListing.h"
#include "ZxProgressLine.h"
#include "ZxResultText.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

namespace {

// One ZxReadBuffer call hands over at most this many records.
constexpr std::int32_t kReadCapacity = 10000;
// The box delivers datagrams every few milliseconds; polling faster only burns a core.
constexpr std::chrono::milliseconds kIdleWait{1};
// Size and count of rotated log files.
constexpr std::int32_t kLogFileMB = 10;
constexpr std::int32_t kLogFiles = 5;

std::vector<std::uint32_t> channelNumbers(const ZxCollectOptions& options) {
    std::vector<std::uint32_t> channels;
    for (const ZxChannelRequest& request : options.channels) {
        channels.push_back(request.channel);
    }
    return channels;
}

std::string hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(value));
    return text;
}

} // namespace

ZxCollectSession::ZxCollectSession(const ZxCollectOptions& options, std::FILE* out, std::FILE* err)
    : options_(options), out_(out), err_(err), channels_(channelNumbers(options)),
      statistics_(options.mapping, channels_), records_(kReadCapacity) {}

bool ZxCollectSession::check(const char* call, const std::string& arguments, std::int32_t result) {
    if (result == ZX_OK) {
        return true;
    }
    ++failures_[{call, result}];
    std::fprintf(err_, "zxcollect: %s(%s) failed with %d: %s\n", call, arguments.c_str(),
                 static_cast<int>(result), ZxResultText::meaning(call, result).c_str());
    std::fflush(err_);
    return false;
}

std::string ZxCollectSession::saveFolderOf(std::uint32_t channel) const {
    if (channels_.size() == 1) {
        return options_.saveRoot;
    }
    // Channels saving into one folder would write files of the same names.
    return (std::filesystem::path(options_.saveRoot) / ("can" + std::to_string(channel))).string();
}

int ZxCollectSession::run() {
    ZxConsole::installStopHandler();
    ZxCsvListing listing(options_.saveRoot);
    if (!options_.saveRoot.empty()) {
        listing.takeSnapshot();
    }
    const auto started = std::chrono::steady_clock::now();
    if (setUp()) {
        readUntilStopped();
    }
    shutDown();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    printSummary(seconds);
    if (!options_.saveRoot.empty()) {
        const std::vector<ZxCsvListing::File> files = listing.newFiles();
        std::fprintf(out_, "CSV files written below %s: %zu\n", options_.saveRoot.c_str(), files.size());
        for (const ZxCsvListing::File& file : files) {
            std::fprintf(out_, "  %s  %llu lines\n", file.path.c_str(),
                         static_cast<unsigned long long>(file.dataLines));
        }
    }
    if (failures_.empty()) {
        std::fprintf(out_, "Failures: none\n");
    } else {
        std::fprintf(out_, "Failures:\n");
        for (const auto& [callAndCode, count] : failures_) {
            std::fprintf(out_, "  %s returned %d (%dx): %s\n", callAndCode.first.c_str(),
                         static_cast<int>(callAndCode.second), count,
                         ZxResultText::meaning(callAndCode.first, callAndCode.second).c_str());
        }
    }
    std::fflush(out_);
    return failures_.empty() ? 0 : 1;
}

bool ZxCollectSession::setUp() {
    const std::string device = std::to_string(options_.device);
    if (!options_.logPath.empty()) {
        logOpen_ = check("ZxOpenLog", options_.logPath,
                         ZxOpenLog(options_.logPath.c_str(), options_.logLevel, kLogFileMB, kLogFiles));
        if (!logOpen_) {
            return false;
        }
    }
    std::fprintf(out_, "Opening device %u (box 192.168.201.%u, host 192.168.201.%d)\n",
                 static_cast<unsigned>(options_.device), static_cast<unsigned>(130 + options_.device),
                 static_cast<int>(options_.hostOctet));
    std::fflush(out_);
    deviceOpen_ = check("ZxOpenDev", "0, " + device + ", " + std::to_string(options_.hostOctet),
                        ZxOpenDev(0, options_.device, options_.hostOctet));
    if (!deviceOpen_) {
        return false;
    }
    for (const ZxChannelRequest& request : options_.channels) {
        const std::string channel = std::to_string(request.channel);
        const std::string rate = std::to_string(request.bitRate);
        const bool opened =
            request.canFd
                ? check("ZxInitCANFD",
                        device + ", " + channel + ", " + rate + ", " + std::to_string(request.dataBitRate),
                        ZxInitCANFD(options_.device, request.channel, request.bitRate, request.dataBitRate))
                : check("ZxInitCAN", device + ", " + channel + ", " + rate,
                        ZxInitCAN(options_.device, request.channel, request.bitRate));
        if (!opened) {
            return false;
        }
        initialisedChannels_.push_back(request.channel);
    }
    for (const ZxTerminalResistorRequest& request : options_.terminalResistors) {
        if (!check("ZxSetTerminalResistorCAN",
                   device + ", " + std::to_string(request.channel) + (request.on ? ", 1" : ", 0"),
                   ZxSetTerminalResistorCAN(options_.device, request.channel, request.on ? 1 : 0))) {
            return false;
        }
    }
    for (const ZxFrequencyRequest& request : options_.frequencies) {
        for (std::uint32_t channel : channels_) {
            if (ZxConsole::stopRequested()) {
                return false;
            }
            std::fprintf(out_, "Setting module %s on CAN%u to %d Hz\n", hex(request.moduleId).c_str(),
                         static_cast<unsigned>(channel), static_cast<int>(request.hertz));
            std::fflush(out_);
            if (!check("ZxSetModuleSamplingFrequency",
                       device + ", " + std::to_string(channel) + ", " + hex(request.moduleId) + ", " +
                           std::to_string(request.hertz),
                       ZxSetModuleSamplingFrequency(options_.device, channel, request.moduleId,
                                                    request.hertz))) {
                return false;
            }
        }
    }
    if (!options_.saveRoot.empty()) {
        for (std::uint32_t channel : channels_) {
            const std::string folder = saveFolderOf(channel);
            if (!check("ZxStartSaveFile", device + ", " + std::to_string(channel) + ", " + folder,
                       ZxStartSaveFile(options_.device, channel, folder.c_str(),
                                       options_.mapping.text().c_str(), options_.fileSizeMB))) {
                return false;
            }
            savingChannels_.push_back(channel);
        }
    }
    return !ZxConsole::stopRequested();
}

void ZxCollectSession::readUntilStopped() {
    using Clock = ZxProgressLine::Clock;
    const bool saving = !savingChannels_.empty();
    ZxProgressLine progress(out_, ZxConsole::outputIsTerminal(), channels_, saving);
    const Clock::time_point start = Clock::now();
    const bool timed = options_.durationSeconds > 0.0;
    const Clock::time_point end = start + std::chrono::duration_cast<Clock::duration>(
                                              std::chrono::duration<double>(options_.durationSeconds));
    std::fprintf(out_, "Reading%s; Ctrl-C stops\n", saving ? " and saving" : "");
    std::fflush(out_);
    progress.start(start);

    bool failed = false;
    while (!failed && !ZxConsole::stopRequested()) {
        bool gotRecords = false;
        for (std::size_t slot = 0; slot < channels_.size() && !failed; ++slot) {
            const std::int32_t count =
                ZxReadBuffer(options_.device, channels_[slot], records_.data(), kReadCapacity);
            if (count > 0) {
                statistics_.add(slot, records_.data(), count, saving);
                gotRecords = true;
            } else if (count != ZX_ERR_NO_DATA) {
                progress.finish();
                failed = !check("ZxReadBuffer",
                                std::to_string(options_.device) + ", " + std::to_string(channels_[slot]) +
                                    ", " + std::to_string(kReadCapacity),
                                count);
            }
        }
        const Clock::time_point now = Clock::now();
        if (timed && now >= end) {
            break;
        }
        progress.update(now, statistics_);
        if (!gotRecords) {
            std::this_thread::sleep_for(kIdleWait);
        }
    }
    progress.finish();
    if (ZxConsole::stopRequested()) {
        std::fprintf(out_, "Stopping\n");
        std::fflush(out_);
    }
}

void ZxCollectSession::shutDown() {
    const std::string device = std::to_string(options_.device);
    for (std::uint32_t channel : savingChannels_) {
        check("ZxStopSaveFile", device + ", " + std::to_string(channel),
              ZxStopSaveFile(options_.device, channel));
    }
    savingChannels_.clear();
    for (std::uint32_t channel : initialisedChannels_) {
        check("ZxResetCAN", device + ", " + std::to_string(channel), ZxResetCAN(options_.device, channel));
    }
    initialisedChannels_.clear();
    if (deviceOpen_) {
        check("ZxCloseDev", device, ZxCloseDev(options_.device));
        deviceOpen_ = false;
    }
    if (logOpen_) {
        check("ZxCloseLog", "", ZxCloseLog());
        logOpen_ = false;
    }
}

void ZxCollectSession::printSummary(double seconds) {
    std::fprintf(out_, "Summary after %.1f s\nRecords read: %llu\n", seconds,
                 static_cast<unsigned long long>(statistics_.totalRecords()));
    std::fprintf(out_, "Records per CAN identifier:\n");
    for (const auto& [channelAndId, records] : statistics_.perIdentifier()) {
        const std::string name = options_.mapping.nameOf(channelAndId.second);
        std::fprintf(out_, "  CAN%u %s %s: %llu\n", static_cast<unsigned>(channelAndId.first),
                     hex(channelAndId.second).c_str(), name.empty() ? "(not mapped)" : name.c_str(),
                     static_cast<unsigned long long>(records));
    }
    if (!options_.saveRoot.empty()) {
        std::fprintf(out_, "Samples saved: %llu\n",
                     static_cast<unsigned long long>(statistics_.samplesSaved()));
    }
}
