#include "vci/device/KvVciDevice.h"

#include "api/common/ZxLog.h"
#include "common/ThreadJoin.h"
#include "vci/config/KvVciConfigStore.h"
#include "vci/device/KvVciProtocol.h"
#include "zxcollector_api.h"

#include <chrono>
#include <cstring>
#include <string>

namespace {

const char* familyName(KvVciFrameType type) {
    return type == KvVciFrameType::Lin ? "LIN" : "CAN";
}

} // namespace

KvVciDevice::KvVciDevice(ZxIndex deviceIndex, QObject* parent)
    : QObject(parent), store_(&KvVciConfigStore::instance()), index_(deviceIndex),
      socketClient_(std::make_unique<KvVciSocketClient>(deviceIndex)),
      periodSender_(std::make_unique<Common::PeriodSender>()),
      busLoad_(std::make_unique<KvVciDeviceBusLoad>(store_->getCanChannelCount(deviceIndex), this)),
      channelBuffers_(std::make_unique<KvVciChannelBufferManager>(store_->getCanChannelCount(deviceIndex))) {
    socketClient_->setDataCallback(
        [this](const std::vector<_KvVciProtocolData>& records) { onProtocolData(records); });
    KvVciSocketClient* client = socketClient_.get();
    periodSender_->setSendCallback(
        [client](const std::vector<std::uint8_t>& bytes) { return client->sendData(bytes); });
}

KvVciDevice::~KvVciDevice() {
    close();
    // The receive thread calls into this object; it must be gone before the buffers go.
    socketClient_->disconnectFromServer();
    periodSender_->clear();
}

int KvVciDevice::open() {
    std::lock_guard<std::mutex> lock(deviceMutex_);
    if (isClosed()) {
        return ZX_ERR_DEVICE_CLOSED;
    }
    const ZxIndex index = index_;
    zxLog(ZxLevel::Info, "Opening Device{}", index);

    KvVciSocketSettings settings;
    settings.autoReconnect = false;
    settings.serverIp = KvVciConfigStore::getServerAddress(index).toStdString();
    settings.serverPort = kVciServerPort;
    settings.localIp = store_->getDeviceAddress(index).toStdString();
    if (!socketClient_->connectToServer(settings)) {
        return ZX_ERR_OPEN_DEVICE;
    }

    if (request(KvVciProtocol::firmwareVersionRequest(), kVciRequestTimeoutMs) == ZX_OK) {
        store_->setDeviceOpened(index, true);
        zxLog(ZxLevel::Info, "Opened Device{}", index);
        return ZX_OK;
    }
    socketClient_->disconnectFromServer();
    zxLog(ZxLevel::Error, "Open Device{} failed, Unable to read version information", index);
    zxLog(ZxLevel::Error,
          "Check: no box answered at {}:{}. Is it powered and cabled to the adapter with the "
          "192.168.201.x address, and does no firewall drop UDP port {}?",
          settings.serverIp, settings.serverPort, settings.serverPort);
    return ZX_ERR_OPEN_DEVICE;
}

int KvVciDevice::close() {
    std::lock_guard<std::mutex> lock(deviceMutex_);
    if (isClosed()) {
        return ZX_ERR_DEVICE_CLOSED;
    }
    const ZxIndex index = index_;
    zxLog(ZxLevel::Info, "Closing Device{}", index);
    periodSender_->clear();
    const int canResult = closeCan(KvVciConfigStore::kAllChannels);
    const int linResult = closeLin(KvVciConfigStore::kAllChannels);

    // Whatever the link dropped over its life is told once, before the link goes.
    socketClient_->reportSummary();
    socketClient_->disconnectFromServer();

    store_->setDeviceOpened(index, false);
    zxLog(ZxLevel::Info, "Closed Device{}", index);
    closed_.store(true, std::memory_order_release);
    return linResult | canResult;
}

int KvVciDevice::openCan(ZxIndex channel) {
    if (!socketClient_->isConnected()) {
        return ZX_ERR_NOT_CONNECTED;
    }
    if (isClosed()) {
        return ZX_ERR_NOT_CONNECTED; // closed by another thread since the check above
    }
    const ZxIndex index = index_;
    const std::vector<ZxIndex> channels = store_->getChannelIndices(index, kVciProtocolIdCan, channel);
    if (channels.empty()) {
        return ZX_ERR_UNKNOWN_CHANNEL;
    }
    for (const ZxIndex ch : channels) {
        const auto* stored = dynamic_cast<const KvVciCanChannelConfig*>(
            store_->getChannelConfig(index, kVciProtocolIdCan, ch));
        if (stored == nullptr) {
            continue;
        }
        const KvVciCanChannelConfig config = *stored;
        const auto wireChannel = static_cast<std::uint8_t>(ch);

        if (request(KvVciProtocol::openCanChannelRequest(wireChannel, config.bitRate),
                    kVciRequestTimeoutMs) != ZX_OK) {
            zxLog(ZxLevel::Error, "Open Device{} CAN{} failed, {} baudrate: {}", index, ch + 1,
                  config.mode.toStdString(), config.bitRate);
            return ZX_ERR_OPEN_CAN;
        }
        if (config.mode.startsWith(QLatin1String("CANFD"), Qt::CaseSensitive)) {
            for (const _KvVciProtocolData& parameter : KvVciProtocol::buildCanFdParameterList(ch, config)) {
                if (request(parameter, kVciRequestTimeoutMs) != ZX_OK) {
                    zxLog(ZxLevel::Error, "Configure Device{} CAN{} failed: param 0x{:X} ", index, ch + 1,
                          parameter.payload[0]);
                    return ZX_ERR_CANFD_PARAM;
                }
            }
        }
        store_->setCanChannelOpened(index, ch, true);
        zxLog(ZxLevel::Info, "Opened Device{} CAN{}, {} baudrate: {}", index, ch + 1,
              config.mode.toStdString(), config.bitRate);
    }
    return ZX_OK;
}

int KvVciDevice::closeCan(ZxIndex channel) {
    return closeChannels(KvVciFrameType::Can, channel);
}

int KvVciDevice::closeLin(ZxIndex channel) {
    return closeChannels(KvVciFrameType::Lin, channel);
}

int KvVciDevice::closeChannels(KvVciFrameType type, ZxIndex channel) {
    const bool isCan = type == KvVciFrameType::Can;
    const std::uint32_t protocolId = isCan ? kVciProtocolIdCan : kVciProtocolIdLin;
    const char* family = familyName(type);
    const ZxIndex index = index_;
    // A closed device has no channels left to close.
    const std::vector<ZxIndex> channels =
        isClosed() ? std::vector<ZxIndex>() : store_->getChannelIndices(index, protocolId, channel);
    if (channels.empty()) {
        return ZX_ERR_UNKNOWN_CHANNEL;
    }
    const auto isOpened = [&](ZxIndex ch) {
        return isCan ? store_->isCanChannelOpened(index, ch) : store_->isLinChannelOpened(index, ch);
    };
    const auto markClosed = [&](ZxIndex ch) {
        return isCan ? store_->setCanChannelOpened(index, ch, false)
                     : store_->setLinChannelOpened(index, ch, false);
    };

    if (!socketClient_->isConnected()) {
        for (const ZxIndex ch : channels) {
            if (isOpened(ch)) {
                zxLog(ZxLevel::Info, "The Device{} is not connected and is forced to close {}{}", index,
                      family, ch + 1);
                markClosed(ch);
            }
        }
        return ZX_OK;
    }

    int result = ZX_OK;
    for (const ZxIndex ch : channels) {
        const auto wireChannel = static_cast<std::uint8_t>(ch);
        periodSender_->clear(static_cast<std::uint16_t>(protocolId), static_cast<std::uint16_t>(ch));
        if (isOpened(ch)) {
            if (request(KvVciProtocol::closeChannelRequest(type, wireChannel), kVciRequestTimeoutMs) !=
                ZX_OK) {
                zxLog(ZxLevel::Error, "Close Device{} {}{} failed", index, family, ch + 1);
                result = isCan ? ZX_ERR_CLOSE_CAN : ZX_ERR_CLOSE_LIN;
            } else {
                zxLog(ZxLevel::Info, "Closed Device{} {}{}", index, family, ch + 1);
            }
            markClosed(ch);
        }
        if (isCan) {
            channelBuffers_->resetCanBuffer(ch);
            channelBuffers_->clearCanIdentifierList(ch);
        } else {
            channelBuffers_->resetLinBuffer(ch);
            channelBuffers_->clearLinIdentifierList(ch);
        }
    }
    return result;
}

int KvVciDevice::setTerminalResistor(ZxIndex channel, bool enable) {
    const auto wireChannel = static_cast<std::uint8_t>(channel);
    if (request(KvVciProtocol::terminalResistorRequest(wireChannel, enable), kVciRequestTimeoutMs) != ZX_OK) {
        zxLog(ZxLevel::Error, "set Device{} CAN{} terminal resistor {} failed", deviceIndex(), channel + 1,
              enable ? "enable" : "disable");
        return ZX_ERR_TERMINAL_RESISTOR;
    }
    return ZX_OK;
}

std::uint64_t KvVciDevice::readBaseTime() {
    request(KvVciProtocol::baseTimeRequest(), kVciRequestTimeoutMs);
    return baseTime();
}

int KvVciDevice::sendRaw(const std::vector<std::uint8_t>& bytes) {
    return socketClient_->sendData(bytes);
}

int KvVciDevice::request(const _KvVciProtocolData& record, int timeoutMs) {
    // While the process exits the receive threads are gone, and a host thread killed
    // mid-request may hold requestMutex_: no reply can come, so none is waited for.
    if (Common::processExiting()) {
        return ZX_ERR_REQUEST_TIMEOUT;
    }
    if (socketClient_->linkEndCode() != 0) {
        // Nothing reads replies any more; waiting for one would only hide that.
        zxLog(ZxLevel::Error, "Request Device{} not sent: the device stopped receiving", deviceIndex());
        return ZX_ERR_NOT_CONNECTED;
    }
    bool answered = false;
    {
        std::lock_guard<std::mutex> oneRequest(requestMutex_);
        {
            std::lock_guard<std::mutex> lock(replyMutex_);
            pendingKey_ = record;
            requestPending_ = true;
            replyReceived_ = false;
        }
        // Sent outside replyMutex_: the receive thread must be free to deliver replies.
        socketClient_->sendData(KvVciProtocol::encodeRequest(record));
        std::unique_lock<std::mutex> lock(replyMutex_);
        if (timeoutMs > 0) {
            replyCondition_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                     [this] { return replyReceived_; });
        }
        pendingKey_ = _KvVciProtocolData{};
        requestPending_ = false;
        answered = replyReceived_;
    }
    if (!answered) {
        zxLog(ZxLevel::Error, "Request Device{} timed out after {} ms", deviceIndex(), timeoutMs);
        return ZX_ERR_REQUEST_TIMEOUT;
    }
    return ZX_OK;
}

void KvVciDevice::onProtocolData(const std::vector<_KvVciProtocolData>& records) {
    for (const _KvVciProtocolData& record : records) {
        const auto type = static_cast<KvVciFrameType>(record.type);
        const auto command = static_cast<KvVciCommand>(record.command);
        if (command == KvVciCommand::ChannelData && type == KvVciFrameType::Can) {
            dispatchCanData(record);
        } else if (command == KvVciCommand::ChannelData && type == KvVciFrameType::Lin) {
            dispatchLinData(record);
        } else if (command == KvVciCommand::BusLoad) {
            if (type == KvVciFrameType::Can && record.length >= kVciBusLoadMinLength) {
                busLoad_->storeReport(record);
            }
        } else {
            dispatchReply(record);
        }
    }
}

void KvVciDevice::dispatchCanData(const _KvVciProtocolData& record) {
    const std::uint16_t length = record.length;
    if (length < kVciCanDataMinLength || length > kVciCanDataMaxLength) {
        socketClient_->lossCounters().addAbnormalDataFrame();
        zxLog(ZxLevel::Error, "The size of the received CAN data is abnormal: {}", length);
        return;
    }
    _KvVciCanDataType frame;
    std::memcpy(&frame, record.payload, length);
    std::memset(reinterpret_cast<std::uint8_t*>(&frame) + length, 0, sizeof(frame) - length);
    if (frame.frameKind != kVciCanFrameKindReceived) {
        return;
    }
    if (channelBuffers_->pushCanRecord(record.channel, frame) == ZX_ERR_UNKNOWN_CHANNEL) {
        socketClient_->lossCounters().addUnbufferedFrame();
    }
}

void KvVciDevice::dispatchLinData(const _KvVciProtocolData& record) {
    const std::uint16_t length = record.length;
    if (length < kVciLinDataMinLength || length > kVciLinDataMaxLength) {
        socketClient_->lossCounters().addAbnormalDataFrame();
        zxLog(ZxLevel::Error, "The size of the received LIN data is abnormal: {}", length);
        return;
    }
    _KvVciLinDataType frame;
    std::memcpy(&frame, record.payload, length);
    std::memset(reinterpret_cast<std::uint8_t*>(&frame) + length, 0, sizeof(frame) - length);
    if (channelBuffers_->pushLinRecord(record.channel, frame) == ZX_ERR_UNKNOWN_CHANNEL) {
        socketClient_->lossCounters().addUnbufferedFrame();
    }
}

void KvVciDevice::dispatchReply(const _KvVciProtocolData& record) {
    std::lock_guard<std::mutex> lock(replyMutex_);
    if (!requestPending_ || !KvVciProtocol::answers(record, pendingKey_)) {
        return;
    }
    // The content is stored (and logged, so that the log reads in order) before the
    // flag is raised: the woken request reads it right away (readBaseTime returns it).
    if (record.type == static_cast<std::uint8_t>(KvVciFrameType::Device)) {
        if (record.length == kVciFirmwareReplyLength) {
            const std::uint32_t version = KvVciProtocol::decodeFirmwareVersion(record);
            firmwareVersion_.store(version, std::memory_order_release);
            zxLog(ZxLevel::Info, "Device Firmware version: v{}.{}.{}.{}", record.payload[0],
                  record.payload[1], record.payload[2], record.payload[3]);
        } else if (record.length == kVciBaseTimeReplyLength) {
            const std::uint64_t base = KvVciProtocol::decodeBaseTime(record);
            baseTime_.store(base, std::memory_order_release);
            zxLog(ZxLevel::Info, "Device base time {}(0.1 microsecond)", base);
        }
    }
    replyReceived_ = true;
    replyCondition_.notify_all();
}
