// The UDP link to one VCI box: binds, connects, sends datagrams, runs the receive
// thread that turns datagrams into frame records, and keeps the link alive with a
// heartbeat.
#pragma once

#include "common/HeartbeatManager.h"
#include "vci/config/ZxIndex.h"
#include "vci/device/KvVciProtocolTypes.h"
#include "vci/transport/KvVciLossCounters.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

struct KvVciSocketSettings {
    bool autoReconnect = false;
    std::string serverIp;
    std::uint16_t serverPort = 0;
    std::string localIp; // empty: no bind
};

class KvVciFrameScanner;
class UdpSocket;

class KvVciSocketClient {
public:
    using DataCallback = std::function<void(const std::vector<_KvVciProtocolData>&)>;

    explicit KvVciSocketClient(ZxIndex deviceIndex);
    ~KvVciSocketClient();
    KvVciSocketClient(const KvVciSocketClient&) = delete;
    KvVciSocketClient& operator=(const KvVciSocketClient&) = delete;

    bool connectToServer(const KvVciSocketSettings& settings);
    void disconnectFromServer();
    // ZX_OK, ZX_ERR_SEND_REFUSED (empty data or no socket) or ZX_ERR_SEND_FAILED.
    int sendData(const std::vector<std::uint8_t>& bytes);
    // True while the socket is open and the receive thread still reads it; false once
    // the thread ended on its own (the socket is then unusable or the box closed it).
    bool isConnected() const;
    // The code the receive thread ended with on its own (see linkEndText), 0 while it
    // runs or after a stop the owner asked for.
    int linkEndCode() const { return linkEndCode_.load(); }
    // Logs the link's loss totals, and at level 3 why receiving ended early if it did.
    void reportSummary() const;
    // Installed only while no socket is open; while connected the callback is discarded.
    void setDataCallback(DataCallback callback);

    KvVciLossCounters& lossCounters() { return lossCounters_; }
    const std::string& deviceTag() const { return deviceTag_; }

private:
    // Creates, binds, sizes and connects a socket from the stored settings; null on
    // failure (logged).
    std::unique_ptr<UdpSocket> openSocket();
    // Closes the current socket exactly once, whoever calls it first.
    void closeSocket();
    void readLoop();
    int receiveUntilStopped();
    // After a failed receive: true to go on (a time-out, an error of one datagram, or a
    // socket reopened in place of one that became unusable), false with exitCode set
    // when receiving ends.
    bool recoverFromReceiveError(int error, KvVciFrameScanner& scanner, std::uint32_t& kernelDropsSeen,
                                 int& exitCode);
    // Replaces a socket that became unusable by a fresh one; false when none opens.
    bool reopenSocket();
    // Counts a failed receive that leaves the socket usable; logs at most once a second.
    void noteReceiveError(int error);

    std::unique_ptr<Common::HeartbeatManager> heartbeat_;
    std::string deviceTag_;
    std::atomic<bool> running_{false};
    // Guards socket_ (the pointer and the socket's lifetime): it is used under a shared
    // lock (send, shutdown, isConnected) and replaced or closed only under the exclusive
    // lock, so no call ever meets a descriptor number the system has handed out again.
    // The receive thread reads it without the lock: while it runs it is the only one
    // that replaces or closes it.
    mutable std::shared_mutex socketMutex_;
    std::unique_ptr<UdpSocket> socket_;
    std::atomic<bool> autoReconnect_{false};
    std::string serverIp_;
    std::uint16_t serverPort_ = 0;
    std::string localIp_;
    DataCallback dataCallback_;
    KvVciLossCounters lossCounters_;
    bool socketLayerStarted_ = false;
    std::thread receiveThread_;
    std::atomic<bool> receiveBodyDone_{false}; // see Common::joinThread
    std::atomic<int> linkEndCode_{0};
    std::int64_t lastReceiveErrorLogNs_ = 0; // receive thread only
};
