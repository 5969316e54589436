// The UDP link to one VCI box: binds, connects, sends datagrams, runs the receive
// thread that turns datagrams into frame records, and keeps the link alive with a
// heartbeat.
#pragma once

#include "common/HeartbeatManager.h"
#include "common/Utils.h"
#include "vci/device/KvVciProtocolTypes.h"
#include "vci/transport/KvVciLossCounters.h"

#include <QByteArray>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

struct KvVciSocketSettings {
    bool autoReconnect = false;
    std::string serverIp;
    std::uint16_t serverPort = 0;
    std::string localIp; // empty: no bind
};

class KvVciSocketClient {
public:
    using DataCallback = std::function<void(const std::vector<_KvVciProtocolData>&)>;

    explicit KvVciSocketClient(int deviceIndex);
    ~KvVciSocketClient();
    KvVciSocketClient(const KvVciSocketClient&) = delete;
    KvVciSocketClient& operator=(const KvVciSocketClient&) = delete;

    bool connectToServer(const KvVciSocketSettings& settings);
    void disconnectFromServer();
    // 0, -103 (empty data or no socket) or -411 (send failed).
    int sendData(const std::vector<std::uint8_t>& bytes);
    int sendData(const QByteArray& bytes);
    bool isConnected() const;
    // Installed only while no socket is open; while connected the callback is discarded.
    void setDataCallback(DataCallback callback);

    KvVciLossCounters& lossCounters() { return lossCounters_; }
    const std::string& deviceTag() const { return deviceTag_; }

private:
    // implementation-defined members
};
