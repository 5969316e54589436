// One VCI box as the library sees it: its link, requests with their replies, channel
// open and close, and the dispatcher that sorts received frames into channel buffers.
#pragma once

#include "vci/config/ZxIndex.h"
#include "vci/device/KvVciChannelBufferManager.h"
#include "vci/device/KvVciDeviceBusLoad.h"
#include "vci/device/KvVciProtocolTypes.h"
#include "vci/transport/KvVciSocketClient.h"

#include "common/PeriodSender.h"

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

class KvVciConfigStore;

class KvVciDevice : public QObject {
    Q_OBJECT
public:
    explicit KvVciDevice(ZxIndex deviceIndex, QObject* parent = nullptr);
    ~KvVciDevice() override; // closes first
    KvVciDevice(const KvVciDevice&) = delete;
    KvVciDevice& operator=(const KvVciDevice&) = delete;

    // Connects and reads the firmware version: ZX_OK, ZX_ERR_DEVICE_CLOSED or
    // ZX_ERR_OPEN_DEVICE.
    int open();
    // Closes every channel and the link; ZX_OK, ZX_ERR_DEVICE_CLOSED or the OR of the
    // CAN and LIN close results. A closed device stays closed (open gives ZX_ERR_DEVICE_CLOSED).
    int close();
    // channel KvVciConfigStore::kAllChannels: all. ZX_OK, ZX_ERR_NOT_CONNECTED, ZX_ERR_UNKNOWN_CHANNEL,
    // ZX_ERR_OPEN_CAN or ZX_ERR_CANFD_PARAM.
    int openCan(ZxIndex channel);
    // ZX_OK, ZX_ERR_UNKNOWN_CHANNEL or ZX_ERR_CLOSE_CAN.
    int closeCan(ZxIndex channel);
    // ZX_OK, ZX_ERR_UNKNOWN_CHANNEL or ZX_ERR_CLOSE_LIN.
    int closeLin(ZxIndex channel);
    // ZX_OK or ZX_ERR_TERMINAL_RESISTOR.
    int setTerminalResistor(ZxIndex channel, bool enable);
    // Asks the box for its base time and returns the latest one known (0 until read).
    std::uint64_t readBaseTime();
    // Sends bytes as they are: ZX_OK, ZX_ERR_SEND_REFUSED or ZX_ERR_SEND_FAILED.
    int sendRaw(const std::vector<std::uint8_t>& bytes);
    // Sends the request and waits up to timeoutMs for its reply: ZX_OK or
    // ZX_ERR_REQUEST_TIMEOUT. One request at a time per device.
    int request(const _KvVciProtocolData& record, int timeoutMs);

    KvVciChannelBufferManager& channelBufferManager() { return *channelBuffers_; }
    KvVciDeviceBusLoad& busLoad() { return *busLoad_; }
    KvVciLossCounters& lossCounters() { return socketClient_->lossCounters(); }
    bool isConnected() const { return socketClient_->isConnected(); }
    // The index it was built with, -1 once closed.
    int deviceIndex() const { return isClosed() ? -1 : static_cast<int>(index_); }
    std::uint32_t firmwareVersion() const { return firmwareVersion_.load(std::memory_order_acquire); }
    std::uint64_t baseTime() const { return baseTime_.load(std::memory_order_acquire); }

    // The dispatcher, called on the receive thread with each batch of frames.
    void onProtocolData(const std::vector<_KvVciProtocolData>& records);

private:
    bool isClosed() const { return closed_.load(std::memory_order_acquire); }
    int closeChannels(KvVciFrameType type, ZxIndex channel);
    void dispatchCanData(const _KvVciProtocolData& record);
    void dispatchLinData(const _KvVciProtocolData& record);
    void dispatchReply(const _KvVciProtocolData& record);

    KvVciConfigStore* store_;
    std::mutex deviceMutex_; // serialises open and close
    // Its link and buffers stay those of this box after close; a closed device stays closed.
    const ZxIndex index_;
    std::atomic<bool> closed_{false};
    std::unique_ptr<KvVciSocketClient> socketClient_;
    std::unique_ptr<Common::PeriodSender> periodSender_;
    std::unique_ptr<KvVciDeviceBusLoad> busLoad_;
    std::unique_ptr<KvVciChannelBufferManager> channelBuffers_;
    // One request at a time: held across the whole send-and-wait, so a second request
    // never replaces the key of one still waiting for its reply.
    std::mutex requestMutex_;
    // Guards requestPending_, replyReceived_ and pendingKey_: taken by the waiting
    // request and by the receive thread delivering a reply.
    std::mutex replyMutex_;
    std::condition_variable replyCondition_;
    bool requestPending_ = false; // an all-zero record must not answer "no request"
    bool replyReceived_ = false;
    _KvVciProtocolData pendingKey_{};
    std::atomic<std::uint32_t> firmwareVersion_{0};
    std::atomic<std::uint64_t> baseTime_{0};
};
