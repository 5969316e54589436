// One run of zxcollect: opens the boxes, configures their channels and modules, reads
// and saves until the time is up or Ctrl-C, closes everything and prints a summary.
#pragma once

#include "zxcollector_api.h"

#include "ZxCollectOptions.h"
#include "ZxCollectStatistics.h"
#include "ZxLiveFeed.h"
#include "ZxLiveMessages.h"
#include "ZxLiveServer.h"
#include "ZxMqttPublisher.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class ZxCollectSession {
public:
    ZxCollectSession(const ZxCollectOptions& options, std::FILE* out, std::FILE* err);

    // The exit status: 0 when every call succeeded, 1 when one failed, 3 when the live
    // page could not listen, 4 when the MQTT broker refused or could not be reached
    // (both before anything was opened).
    int run();

private:
    // Records a call's result; false (with a message) for a failure.
    bool check(const char* call, const std::string& arguments, std::int32_t result);
    // The steps before reading, in order; each false (with a message) on a failure.
    bool setUp();
    // --live: binds the page's address and starts serving; false (with a message) when it cannot.
    bool startLivePage();
    // --mqtt: connects and logs in; false (with a message) when the broker refuses.
    bool startMqtt();
    bool openLog();
    bool openDevices();
    bool initialiseChannels();
    bool setTerminalResistors();
    bool configureModules();
    bool startSaving();
    void readUntilStopped();
    void shutDown();
    void printSummary(double seconds);
    void printProcessFigures(const char* when);
    std::string saveFolderOf(const ZxSlot& slot) const;
    // "CAN<ch>" with one box, "DEV<dev> CAN<ch>" with several.
    std::string labelOf(std::uint32_t device, std::uint32_t channel) const;

    const ZxCollectOptions& options_;
    std::FILE* out_;
    std::FILE* err_;
    std::vector<ZxSlot> slots_;
    bool severalDevices_;
    ZxCollectStatistics statistics_;
    // Reused for every read: no allocation per batch.
    std::vector<ZxCollectData> records_;

    bool logOpen_ = false;
    // When opening the devices began, for the set-up time printed once channels are open.
    std::chrono::steady_clock::time_point setUpStarted_;
    std::vector<std::uint32_t> openDevices_;
    std::vector<ZxSlot> initialisedSlots_;
    std::vector<ZxSlot> savingSlots_;
    // Only with --live.
    std::unique_ptr<ZxLiveFeed> liveFeed_;
    std::unique_ptr<ZxLiveMessages> liveMessages_;
    std::unique_ptr<ZxLiveServer> liveServer_;
    // Only with --mqtt.
    std::unique_ptr<ZxMqttPublisher> mqtt_;
    // (call, code) -> how often it failed.
    std::map<std::pair<std::string, std::int32_t>, int> failures_;
};
