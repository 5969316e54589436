#include "collector/KvCollectorDevice.h"

#include "api/common/ZxLog.h"
#include "common/ExitSafeSingleton.h"
#include "vci/device/KvVciChannelBufferManager.h"
#include "vci/device/KvVciDevice.h"
#include "vci/device/KvVciProtocol.h"
#include "vci/manager/KvVciDeviceManager.h"
#include "zxcollector_api.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

// A request's data bytes: command, module id (32 bits, low byte first), sub-command
// and, in the longer form, a 16-bit value.
enum RequestByte : std::uint8_t { kCommandByte = 0, kModuleIdByte = 1, kSubCommandByte = 5, kValueByte = 6 };
enum RequestLength : std::uint8_t { kShortRequestLength = 6, kValueRequestLength = 8 };
constexpr std::uint8_t kMaxAnswerLength = 8; // module answers are classic CAN frames

// The sub-commands whose value the module reads low byte first (among them the
// sampling frequency); the value of every other sub-command goes high byte first.
constexpr std::uint8_t kLittleEndianSubCommands[] = {1, KvCollectorDevice::kSubSamplingFrequency, 5};

bool takesLittleEndianValue(std::uint8_t subCommand) {
    return std::find(std::begin(kLittleEndianSubCommands), std::end(kLittleEndianSubCommands), subCommand) !=
           std::end(kLittleEndianSubCommands);
}

// "10 01 01 00 00 03": the data bytes of a request for the failure message.
std::string dataBytesText(const _KvVciCanDataType& frame) {
    std::string text;
    const std::size_t length = std::min<std::size_t>(frame.dataLength, sizeof(frame.data));
    for (std::size_t i = 0; i < length; ++i) {
        if (i > 0) {
            text += ' ';
        }
        text += fmt::format("{:02x}", frame.data[i]);
    }
    return text;
}

} // namespace

KvCollectorDevice& KvCollectorDevice::instance() {
    static Common::ExitSafeSingleton<KvCollectorDevice> device(KvVciDeviceManager::instance());
    return device.get();
}

KvCollectorDevice::KvCollectorDevice(KvVciDeviceManager& deviceManager)
    : QObject(nullptr), deviceManager_(deviceManager) {}

KvCollectorDevice::~KvCollectorDevice() = default;

std::int32_t KvCollectorDevice::setModuleSamplingFrequency(Target target, std::uint32_t moduleId,
                                                           std::uint16_t frequency) {
    std::int32_t result = ZX_OK;
    if (sendModuleCommand(target, moduleId, kCommandSession, kSubEnterConfig, 0) != ZX_OK) {
        zxLog(ZxLevel::Error, "Failed to enter configuration mode for Module 0x{:X}", moduleId);
        result = ZX_ERR_MODULE_ENTER;
    } else {
        // The closing write goes out whatever the frequency write returned.
        result = sendModuleCommand(target, moduleId, kCommandWrite, kSubSamplingFrequency, frequency);
        result |= sendModuleCommand(target, moduleId, kCommandWrite, kSubClosingWrite, 0);
    }
    // Always leave configuration mode, also after a failed enter.
    if (sendModuleCommand(target, moduleId, kCommandSession, kSubCompleteConfig, 0) != ZX_OK) {
        zxLog(ZxLevel::Error, "Failed to complete configuration mode for Module 0x{:X}", moduleId);
        result |= ZX_ERR_MODULE_COMPLETE;
    }
    return result;
}

std::int32_t KvCollectorDevice::sendModuleCommand(Target target, std::uint32_t moduleId, std::uint8_t command,
                                                  std::uint8_t subCommand, std::uint16_t value) {
    _KvVciCanDataType frame;
    buildModuleFrame(frame, moduleId, command, subCommand, value);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        expectedResponse_ = static_cast<std::uint8_t>(command + kResponseOffset);
    }
    const std::int32_t result = requestModule(target, frame, kRequestTimeoutMs);
    if (result != ZX_OK) {
        zxLog(ZxLevel::Error, "Module 0x{:X} configuration failed for command {:X}x, sub command {:X}x",
              moduleId, command, subCommand);
        return result;
    }
    return ZX_OK;
}

std::int32_t KvCollectorDevice::requestModule(Target target, const _KvVciCanDataType& frame,
                                              std::int32_t timeoutMs) {
    // Held for the whole request: a concurrent close may close the device but not free it.
    const std::shared_ptr<KvVciDevice> device = getDevice(target.device);
    if (!device) {
        zxLog(ZxLevel::Error, "Get Device{} handle failed!", target.device);
        return ZX_ERR_DEVICE_NOT_OPEN;
    }
    // Every open device owns its channel buffers, so this path always has them.
    KvVciChannelBufferManager& buffers = device->channelBufferManager();
    const ZxIndex channel = target.channel;

    // Answers to earlier, timed-out requests must not complete this one.
    buffers.resetCanBuffer(channel);

    const std::int32_t sent = device->sendRaw(KvVciProtocol::buildCanTransmitFrame(channel, frame));
    if (sent != ZX_OK) {
        zxLog(ZxLevel::Error, "Request module failed: id 0x{:X}, {}", frame.id, dataBytesText(frame));
        return sent;
    }

    const int passes = std::max(1, timeoutMs / kPollIntervalMs);
    std::vector<_KvVciCanDataType> received(kPollBatch);
    for (int pass = 0; pass < passes; ++pass) {
        std::uint32_t count = kPollBatch;
        if (buffers.readCanRecords(channel, received.data(), count) == 0) {
            for (std::uint32_t i = 0; i < count; ++i) {
                if (isModuleReply(received[i])) {
                    return ZX_OK;
                }
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollIntervalMs));
    }
    return ZX_ERR_MODULE_TIMEOUT;
}

void KvCollectorDevice::buildModuleFrame(_KvVciCanDataType& frame, std::uint32_t moduleId,
                                         std::uint8_t command, std::uint8_t subCommand, std::uint16_t value) {
    std::memset(&frame, 0, sizeof(frame));
    frame.id = kRequestId;
    frame.dataLength = command == kCommandSession ? kShortRequestLength : kValueRequestLength;
    frame.flags = kRequestFlags;
    frame.data[kCommandByte] = command;
    for (std::size_t i = 0; i < sizeof(moduleId); ++i) {
        frame.data[kModuleIdByte + i] = static_cast<std::uint8_t>(moduleId >> (8 * i));
    }
    frame.data[kSubCommandByte] = subCommand;
    if (frame.dataLength != kValueRequestLength) {
        return;
    }
    std::uint8_t* const valueBytes = frame.data + kValueByte;
    if (takesLittleEndianValue(subCommand)) {
        valueBytes[0] = static_cast<std::uint8_t>(value);
        valueBytes[1] = static_cast<std::uint8_t>(value >> 8);
    } else {
        valueBytes[0] = static_cast<std::uint8_t>(value >> 8);
        valueBytes[1] = static_cast<std::uint8_t>(value);
        zxLog(ZxLevel::Info, "SD: CH{} VAL:{}", valueBytes[0], valueBytes[1]);
    }
}

bool KvCollectorDevice::isModuleReply(const _KvVciCanDataType& record) {
    constexpr std::uint8_t kSessionResponse = kCommandSession + kResponseOffset; // 0x50
    constexpr std::uint8_t kWriteResponse = kCommandWrite + kResponseOffset;     // 0x6E
    // A module answers in a classic CAN frame of at most 8 bytes. Sample frames carry
    // 32 or 64 bytes, and their first byte takes every value sooner or later: taking
    // one for an answer would report a silent module as configured.
    if (record.dataLength > kMaxAnswerLength) {
        return false;
    }
    const std::uint8_t code = record.data[kCommandByte];
    std::lock_guard<std::mutex> lock(mutex_);
    return code == expectedResponse_ && (code == kSessionResponse || code == kWriteResponse);
}

std::shared_ptr<KvVciDevice> KvCollectorDevice::getDevice(ZxIndex device) {
    return deviceManager_.findDevice(device);
}
