// One simulated VCI box: its UDP endpoint 192.168.201.(130 + index):port, its
// channels and modules, and the one thread that answers requests and streams frames.
#pragma once

#include "tools/vci-sim/SimChannel.h"
#include "tools/vci-sim/SimDatagramWriter.h"
#include "tools/vci-sim/SimUdpSocket.h"
#include "tools/vci-sim/VciSimulatorOptions.h"

#include <atomic>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vcisim {

class SimBox {
public:
    SimBox(uint32_t deviceIndex, const VciSimulatorOptions& options);
    ~SimBox();
    SimBox(const SimBox&) = delete;
    SimBox& operator=(const SimBox&) = delete;

    uint32_t deviceIndex() const { return deviceIndex_; }
    std::string address() const;

    // Binds and starts the box thread; empty on success, otherwise why not.
    std::string start();
    void stop();

    // Run-time control; callable from any thread.
    void setMisbehaviour(const Misbehaviour& misbehaviour);
    void setSilent(bool silent);
    // Sent unchanged to the host that talked to the box last (dropped before that).
    void injectDatagram(std::vector<uint8_t> bytes);

    std::vector<ReceivedDatagram> receivedDatagrams() const;
    void clearReceivedDatagrams();
    uint64_t heartbeatCount() const { return heartbeats_.load(); }
    // Request datagrams received, including those beyond the recording limit.
    uint64_t requestDatagramCount() const { return requestDatagrams_.load(); }
    // Data frames sent on all channels (samples, module answers).
    uint64_t framesSent() const { return framesSent_.load(); }
    uint64_t datagramsSent() const { return datagramsSent_.load(); }
    ChannelSnapshot channel(uint8_t channel) const;
    // True once every open channel has sent its rate-mode frame count.
    bool rateFinished() const;

private:
    // A reply's payload: the status byte (0, accepted, unless set), or the version or the
    // base time.
    struct Answer {
        uint8_t bytes[8] = {};
        size_t length = 1;
    };

    void run();
    int64_t nowNs() const;
    uint64_t clockTicks(int64_t ns) const;
    void receiveAll(int64_t nowNs);
    void handleDatagram(const uint8_t* data, size_t length, const SimPeer& from, int64_t nowNs);
    void handleRequest(const uint8_t* frame, const SimPeer& from, int64_t nowNs);
    Answer answerDeviceRequest(uint8_t command, SimChannel* channel, const uint8_t* payload, size_t length,
                               int64_t nowNs);
    Answer answerChannelRequest(SimChannel& channel, uint8_t command, uint8_t sub, const uint8_t* payload,
                                size_t length, int64_t nowNs);
    void handleTransmit(uint8_t channel, const uint8_t* record, size_t length, int64_t nowNs);
    bool replyDropped(uint8_t type, uint8_t command);
    void reply(const uint8_t* request, const Answer& answer, const SimPeer& to);
    void sendInjected();
    void streamModules(int64_t nowNs);
    void streamRate(int64_t nowNs);
    void sendBusLoad(int64_t nowNs);
    void openChannel(SimChannel& channel, uint32_t bitRate, int64_t nowNs);
    // Flushes the datagram under construction when the next frame would not fit.
    void makeRoom(size_t payloadLength);
    uint8_t* appendCanFrame(uint8_t channel, uint32_t id, uint64_t ticks, uint8_t dataLength);
    void flush();
    void sendDatagram(const SimPeer& to, const uint8_t* data, size_t length);
    int64_t nextWakeNs(int64_t nowNs) const;

    const uint32_t deviceIndex_;
    const int64_t startNs_;
    SimUdpSocket socket_;
    std::thread thread_;
    std::atomic<bool> running_{false};

    std::atomic<uint64_t> heartbeats_{0};
    std::atomic<uint64_t> requestDatagrams_{0};
    std::atomic<uint64_t> framesSent_{0};
    std::atomic<uint64_t> datagramsSent_{0};

    // Guards everything below: options, channels, the host address, recorded requests,
    // injected datagrams and the writers (used by the box thread and control calls).
    mutable std::mutex mutex_;
    VciSimulatorOptions options_;
    std::vector<SimChannel> channels_;
    SimPeer host_;
    std::vector<ReceivedDatagram> received_;
    std::map<uint16_t, uint32_t> requestCounts_;
    std::deque<std::vector<uint8_t>> injected_;
    SimDatagramWriter writer_;
    SimDatagramWriter replyWriter_;
    std::vector<uint8_t> receiveBuffer_;
};

} // namespace vcisim
