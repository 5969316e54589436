#include "ZxCollectSession.h"

#include "ZxConsole.h"
#include "ZxCsvListing.h"
#include "ZxProgressLine.h"
#include "ZxResultText.h"
#include "tools/common/ProcessFigures.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// One ZxReadBuffer call hands over at most this many records.
constexpr std::int32_t kReadCapacity = 10000;
// Exit status when the live page cannot listen.
constexpr int kLivePageFailed = 3;
// Exit status when the MQTT broker refuses the connection or cannot be reached at the start.
constexpr int kMqttFailed = 4;
// The box delivers datagrams every few milliseconds; polling faster only burns a core.
constexpr std::chrono::milliseconds kIdleWait{1};
// Size and count of rotated log files.
constexpr std::int32_t kLogFileMB = 10;
constexpr std::int32_t kLogFiles = 5;

std::vector<ZxSlot> slotsOf(const ZxCollectOptions& options) {
    std::vector<ZxSlot> slots;
    for (const ZxChannelRequest& request : options.channels) {
        slots.push_back({request.device, request.channel});
    }
    return slots;
}

std::string hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(value));
    return text;
}

long long millisecondsSince(Clock::time_point start) {
    return static_cast<long long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

} // namespace

ZxCollectSession::ZxCollectSession(const ZxCollectOptions& options, std::FILE* out, std::FILE* err)
    : options_(options), out_(out), err_(err), slots_(slotsOf(options)),
      severalDevices_(options.devices.size() > 1), statistics_(options.mapping, slots_),
      records_(kReadCapacity) {}

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

std::string ZxCollectSession::labelOf(std::uint32_t device, std::uint32_t channel) const {
    const std::string label = "CAN" + std::to_string(channel);
    return severalDevices_ ? "DEV" + std::to_string(device) + " " + label : label;
}

// Channels saving into one folder would write files of the same names, so each
// channel of each box gets a folder of its own.
std::string ZxCollectSession::saveFolderOf(const ZxSlot& slot) const {
    std::filesystem::path folder(options_.saveRoot);
    if (severalDevices_) {
        folder /= "dev" + std::to_string(slot.device);
    }
    if (severalDevices_ || slots_.size() > 1) {
        folder /= "can" + std::to_string(slot.channel);
    }
    return folder.string();
}

void ZxCollectSession::printProcessFigures(const char* when) {
    const std::int64_t resident = zxtools::ProcessFigures::residentBytes();
    std::fprintf(out_, "%s: %.1f MB resident, %d threads\n", when,
                 resident < 0 ? -1.0 : static_cast<double>(resident) / 1e6,
                 zxtools::ProcessFigures::threads());
    std::fflush(out_);
}

bool ZxCollectSession::startLivePage() {
    liveFeed_ = std::make_unique<ZxLiveFeed>(slots_.size());
    liveMessages_ = std::make_unique<ZxLiveMessages>(options_.mapping, slots_, !options_.saveRoot.empty());
    liveServer_ = std::make_unique<ZxLiveServer>(*liveFeed_, *liveMessages_, slots_, options_.logPath);
    std::string error;
    if (!liveServer_->bind(options_.liveAddress, options_.livePort, error)) {
        std::fprintf(err_, "zxcollect: --live: %s\n", error.c_str());
        std::fflush(err_);
        liveServer_.reset();
        return false;
    }
    if (options_.liveAddress != "127.0.0.1" && options_.liveAddress != "localhost" &&
        options_.liveAddress != "::1") {
        std::fprintf(err_,
                     "zxcollect: warning: the live page has no authentication; everyone who reaches %s "
                     "can see this measurement\n",
                     options_.liveAddress.c_str());
    }
    liveServer_->start();
    const bool v6 = options_.liveAddress.find(':') != std::string::npos;
    std::fprintf(out_, "Live page: http://%s%s%s:%d/\n", v6 ? "[" : "", options_.liveAddress.c_str(),
                 v6 ? "]" : "", liveServer_->port());
    std::fflush(out_);
    return true;
}

bool ZxCollectSession::startMqtt() {
    mqtt_ = std::make_unique<ZxMqttPublisher>(options_.mqtt, options_.mapping, slots_,
                                              !options_.saveRoot.empty(), options_.logPath, err_);
    std::string error;
    if (!mqtt_->connect(error)) {
        std::fprintf(err_, "zxcollect: --mqtt: %s\n", error.c_str());
        std::fflush(err_);
        mqtt_.reset();
        return false;
    }
    mqtt_->start();
    std::fprintf(out_, "Publishing to MQTT broker %s\n", options_.mqtt.host.c_str());
    std::fflush(out_);
    return true;
}

int ZxCollectSession::run() {
    ZxConsole::installStopHandler();
    if (!options_.mqtt.host.empty() && !startMqtt()) {
        return kMqttFailed;
    }
    if (options_.livePort >= 0 && !startLivePage()) {
        return kLivePageFailed;
    }
    ZxCsvListing listing(options_.saveRoot);
    if (!options_.saveRoot.empty()) {
        listing.takeSnapshot();
    }
    const auto started = std::chrono::steady_clock::now();
    if (setUp()) {
        readUntilStopped();
    }
    shutDown();
    if (liveServer_) {
        liveServer_->stop();
    }
    if (mqtt_) {
        mqtt_->stop();
    }
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
    return openLog() && openDevices() && initialiseChannels() && setTerminalResistors() &&
           configureModules() && startSaving() && !ZxConsole::stopRequested();
}

bool ZxCollectSession::openLog() {
    if (options_.logPath.empty()) {
        return true;
    }
    logOpen_ = check("ZxOpenLog", options_.logPath,
                     ZxOpenLog(options_.logPath.c_str(), options_.logLevel, kLogFileMB, kLogFiles));
    return logOpen_;
}

bool ZxCollectSession::openDevices() {
    setUpStarted_ = Clock::now();
    for (std::uint32_t device : options_.devices) {
        std::fprintf(out_, "Opening device %u (box 192.168.201.%u, host 192.168.201.%d)\n",
                     static_cast<unsigned>(device), static_cast<unsigned>(130 + device),
                     static_cast<int>(options_.hostOctet));
        std::fflush(out_);
        if (!check("ZxOpenDev", "0, " + std::to_string(device) + ", " + std::to_string(options_.hostOctet),
                   ZxOpenDev(0, device, options_.hostOctet))) {
            return false;
        }
        openDevices_.push_back(device);
    }
    return true;
}

bool ZxCollectSession::initialiseChannels() {
    for (const ZxChannelRequest& request : options_.channels) {
        const std::string where = std::to_string(request.device) + ", " + std::to_string(request.channel);
        const std::string rate = std::to_string(request.bitRate);
        const bool opened =
            request.canFd
                ? check("ZxInitCANFD", where + ", " + rate + ", " + std::to_string(request.dataBitRate),
                        ZxInitCANFD(request.device, request.channel, request.bitRate, request.dataBitRate))
                : check("ZxInitCAN", where + ", " + rate,
                        ZxInitCAN(request.device, request.channel, request.bitRate));
        if (!opened) {
            return false;
        }
        initialisedSlots_.push_back({request.device, request.channel});
    }
    std::fprintf(out_, "Opened %zu device(s) and initialised %zu channel(s) in %lld ms\n",
                 openDevices_.size(), initialisedSlots_.size(), millisecondsSince(setUpStarted_));
    std::fflush(out_);
    return true;
}

bool ZxCollectSession::setTerminalResistors() {
    for (const ZxTerminalResistorRequest& request : options_.terminalResistors) {
        if (!check("ZxSetTerminalResistorCAN",
                   std::to_string(request.device) + ", " + std::to_string(request.channel) +
                       (request.on ? ", 1" : ", 0"),
                   ZxSetTerminalResistorCAN(request.device, request.channel, request.on ? 1 : 0))) {
            return false;
        }
    }
    return true;
}

bool ZxCollectSession::configureModules() {
    for (const ZxFrequencyRequest& request : options_.frequencies) {
        for (const ZxSlot& slot : slots_) {
            if (ZxConsole::stopRequested()) {
                return false;
            }
            std::fprintf(out_, "Setting module %s on %s to %d Hz\n", hex(request.moduleId).c_str(),
                         labelOf(slot.device, slot.channel).c_str(), static_cast<int>(request.hertz));
            std::fflush(out_);
            if (!check("ZxSetModuleSamplingFrequency",
                       std::to_string(slot.device) + ", " + std::to_string(slot.channel) + ", " +
                           hex(request.moduleId) + ", " + std::to_string(request.hertz),
                       ZxSetModuleSamplingFrequency(slot.device, slot.channel, request.moduleId,
                                                    request.hertz))) {
                return false;
            }
        }
    }
    return true;
}

bool ZxCollectSession::startSaving() {
    if (options_.saveRoot.empty()) {
        return true;
    }
    printProcessFigures("Before saving");
    const Clock::time_point started = Clock::now();
    for (const ZxSlot& slot : slots_) {
        const std::string folder = saveFolderOf(slot);
        if (!check("ZxStartSaveFile",
                   std::to_string(slot.device) + ", " + std::to_string(slot.channel) + ", " + folder,
                   ZxStartSaveFile(slot.device, slot.channel, folder.c_str(), options_.mapping.text().c_str(),
                                   options_.fileSizeMB))) {
            return false;
        }
        savingSlots_.push_back(slot);
    }
    const long long milliseconds = millisecondsSince(started);
    printProcessFigures(("After starting saving on " + std::to_string(savingSlots_.size()) +
                         " channel(s) in " + std::to_string(milliseconds) + " ms")
                            .c_str());
    return true;
}

void ZxCollectSession::readUntilStopped() {
    const bool saving = !savingSlots_.empty();
    ZxProgressLine progress(out_, ZxConsole::outputIsTerminal(), slots_, severalDevices_, saving);
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
        for (std::size_t slot = 0; slot < slots_.size() && !failed; ++slot) {
            const ZxSlot& where = slots_[slot];
            const std::int32_t count =
                ZxReadBuffer(where.device, where.channel, records_.data(), kReadCapacity);
            if (count > 0) {
                statistics_.add(slot, records_.data(), count, saving);
                if (liveFeed_) {
                    liveFeed_->add(slot, records_.data(), count);
                }
                if (mqtt_) {
                    mqtt_->feed().add(slot, records_.data(), count);
                    if (ZxMqttRecordTap* tap = mqtt_->recordTap()) {
                        tap->add(slot, records_.data(), count);
                    }
                }
                gotRecords = true;
            } else if (count != ZX_ERR_NO_DATA) {
                progress.finish();
                failed = !check("ZxReadBuffer",
                                std::to_string(where.device) + ", " + std::to_string(where.channel) + ", " +
                                    std::to_string(kReadCapacity),
                                count);
            }
        }
        // Shown before the time check, so a run whose first reads outlast it (a backlog
        // after a slow start) still shows a line.
        const Clock::time_point now = Clock::now();
        progress.update(now, statistics_);
        if (liveFeed_) {
            liveFeed_->offer(now, statistics_);
        }
        if (mqtt_) {
            mqtt_->feed().offer(now, statistics_);
            if (ZxMqttRecordTap* tap = mqtt_->recordTap()) {
                tap->offer();
            }
        }
        if (timed && now >= end) {
            break;
        }
        if (!gotRecords) {
            std::this_thread::sleep_for(kIdleWait);
        }
    }
    progress.finish();
    if (mqtt_) {
        mqtt_->feed().offerLast(statistics_);
        if (ZxMqttRecordTap* tap = mqtt_->recordTap()) {
            tap->offerLast();
        }
    }
    if (ZxConsole::stopRequested()) {
        std::fprintf(out_, "Stopping\n");
        std::fflush(out_);
    }
}

void ZxCollectSession::shutDown() {
    const Clock::time_point started = Clock::now();
    const bool anything = !savingSlots_.empty() || !initialisedSlots_.empty() || !openDevices_.empty();
    for (const ZxSlot& slot : savingSlots_) {
        check("ZxStopSaveFile", std::to_string(slot.device) + ", " + std::to_string(slot.channel),
              ZxStopSaveFile(slot.device, slot.channel));
    }
    savingSlots_.clear();
    for (const ZxSlot& slot : initialisedSlots_) {
        check("ZxResetCAN", std::to_string(slot.device) + ", " + std::to_string(slot.channel),
              ZxResetCAN(slot.device, slot.channel));
    }
    initialisedSlots_.clear();
    for (std::uint32_t device : openDevices_) {
        check("ZxCloseDev", std::to_string(device), ZxCloseDev(device));
    }
    openDevices_.clear();
    if (anything) {
        std::fprintf(out_, "Stopped saving, reset the channels and closed the device(s) in %lld ms\n",
                     millisecondsSince(started));
    }
    if (logOpen_) {
        check("ZxCloseLog", "", ZxCloseLog());
        logOpen_ = false;
    }
}

void ZxCollectSession::printSummary(double seconds) {
    const bool saving = !options_.saveRoot.empty();
    std::fprintf(out_, "Summary after %.1f s\nRecords read: %llu\n", seconds,
                 static_cast<unsigned long long>(statistics_.totalRecords()));
    if (slots_.size() > 1) {
        std::fprintf(out_, "Records per %s:\n", severalDevices_ ? "device and channel" : "channel");
        std::uint64_t deviceRecords = 0;
        std::uint64_t deviceSamples = 0;
        for (std::size_t slot = 0; slot < slots_.size(); ++slot) {
            const ZxSlot& where = slots_[slot];
            std::fprintf(out_, "  %s: %llu records", labelOf(where.device, where.channel).c_str(),
                         static_cast<unsigned long long>(statistics_.recordsOf(slot)));
            if (saving) {
                std::fprintf(out_, ", %llu samples saved",
                             static_cast<unsigned long long>(statistics_.samplesSavedOf(slot)));
            }
            std::fputc('\n', out_);
            deviceRecords += statistics_.recordsOf(slot);
            deviceSamples += statistics_.samplesSavedOf(slot);
            const bool lastOfDevice = slot + 1 == slots_.size() || slots_[slot + 1].device != where.device;
            if (severalDevices_ && lastOfDevice) {
                std::fprintf(out_, "  DEV%u total: %llu records", static_cast<unsigned>(where.device),
                             static_cast<unsigned long long>(deviceRecords));
                if (saving) {
                    std::fprintf(out_, ", %llu samples saved",
                                 static_cast<unsigned long long>(deviceSamples));
                }
                std::fputc('\n', out_);
                deviceRecords = 0;
                deviceSamples = 0;
            }
        }
    }
    std::fprintf(out_, "Records per CAN identifier:\n");
    for (const auto& [slotAndId, records] : statistics_.perIdentifier()) {
        const auto& [device, channel, canId] = slotAndId;
        const std::string name = options_.mapping.nameOf(canId);
        std::fprintf(out_, "  %s %s %s: %llu\n", labelOf(device, channel).c_str(), hex(canId).c_str(),
                     name.empty() ? "(not mapped)" : name.c_str(), static_cast<unsigned long long>(records));
    }
    if (saving) {
        std::fprintf(out_, "Samples saved: %llu\n",
                     static_cast<unsigned long long>(statistics_.samplesSaved()));
    }
}
