// Configures the measurement modules on a CAN channel: sends module command frames
// (identifier 0x001) through a VCI device and waits for the module's answer in the
// channel's receive buffer.
#pragma once

#include "vci/config/ZxIndex.h"
#include "vci/device/KvVciProtocolTypes.h"

#include <QObject>

#include <cstdint>
#include <memory>
#include <mutex>

class KvVciDevice;
class KvVciDeviceManager;

class KvCollectorDevice : public QObject {
    Q_OBJECT

public:
    // Module protocol numbers.
    static constexpr std::uint32_t kRequestId = 0x001;
    static constexpr std::uint8_t kCommandSession = 0x10;    // enter / complete configuration mode
    static constexpr std::uint8_t kCommandWrite = 0x2E;      // write one parameter
    static constexpr std::uint8_t kResponseOffset = 0x40;    // an answer carries command + 0x40
    static constexpr std::uint8_t kSubEnterConfig = 3;       // of kCommandSession
    static constexpr std::uint8_t kSubCompleteConfig = 1;    // of kCommandSession
    static constexpr std::uint8_t kSubSamplingFrequency = 2; // of kCommandWrite
    static constexpr std::uint8_t kSubClosingWrite = 0xFF;   // of kCommandWrite
    static constexpr std::uint8_t kRequestFlags = 0x01;
    static constexpr int kRequestTimeoutMs = 2000; // a module answers within 2 s
    static constexpr int kPollIntervalMs = 100;
    static constexpr std::uint32_t kPollBatch = 1000; // records taken per polling pass

    // The one object, tied to the process-wide device manager.
    static KvCollectorDevice& instance();

    explicit KvCollectorDevice(KvVciDeviceManager& deviceManager);
    ~KvCollectorDevice() override;

    // Where the module requests go: a CAN channel of an open VCI device.
    struct Target {
        ZxIndex device;
        ZxIndex channel;
    };

    // Enter configuration mode, write the frequency, the closing write, complete
    // configuration mode (always, even after a failed enter). 0, or the codes ORed.
    std::int32_t setModuleSamplingFrequency(Target target, std::uint32_t moduleId, std::uint16_t frequency);

    // One request with the 2 s time-out; 0 or the request's failure code.
    std::int32_t sendModuleCommand(Target target, std::uint32_t moduleId, std::uint8_t command,
                                   std::uint8_t subCommand, std::uint16_t value);
    // Sends a prepared frame on the target's channel and polls for its answer in
    // passes of 100 ms (timeoutMs / 100 passes, at least one).
    std::int32_t requestModule(Target target, const _KvVciCanDataType& frame, std::int32_t timeoutMs);

    static void buildModuleFrame(_KvVciCanDataType& frame, std::uint32_t moduleId, std::uint8_t command,
                                 std::uint8_t subCommand, std::uint16_t value);
    // True when the record's first data byte is the expected response (0x50 or 0x6E).
    bool isModuleReply(const _KvVciCanDataType& record);
    // The target device, or null when it is not open.
    std::shared_ptr<KvVciDevice> getDevice(ZxIndex device);

private:
    KvVciDeviceManager& deviceManager_;
    std::mutex mutex_; // guards expectedResponse_
    std::uint8_t expectedResponse_ = 0;
};
