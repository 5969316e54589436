// Publishes a run to an MQTT broker (--mqtt) through libmosquitto: every interval a
// summary per identifier (from its own ZxLiveFeed), with --mqtt-records the records
// (from a ZxMqttRecordTap), and a retained status whose last will is "offline". The
// reading loop only meets it through those two hand-overs. Messages the broker has not
// taken yet are bounded: beyond kMaxPendingMessages or kMaxPendingBytes, and while the
// broker is away, new messages are dropped and counted. The client reconnects with
// backoff and says once per outage what was dropped.
#pragma once

#include "ZxCollectOptions.h"
#include "ZxLiveFeed.h"
#include "ZxLiveLogWatch.h"
#include "ZxMqttMessages.h"
#include "ZxMqttRecordTap.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

struct mosquitto;

class ZxMqttPublisher {
public:
    static constexpr std::size_t kMaxPendingMessages = 4096;
    static constexpr std::size_t kMaxPendingBytes = 16u << 20;
    // Records of one identifier in one message of --mqtt-records.
    static constexpr std::size_t kRecordsPerMessage = 1000;

    ZxMqttPublisher(const ZxMqttRequest& request, const ZxIdMapping& mapping,
                    const std::vector<ZxSlot>& slots, bool saving, const std::string& logPath,
                    std::FILE* err);
    ~ZxMqttPublisher();

    ZxLiveFeed& feed() { return feed_; }
    // Null without --mqtt-records.
    ZxMqttRecordTap* recordTap() { return recordTap_.get(); }

    // Connects and logs in, waiting for the broker's answer; false with the reason in error.
    bool connect(std::string& error);
    void start();
    // Publishes the last interval and the final status, then disconnects.
    void stop();

private:
    void publishUntilStopped();
    void publishInterval(bool last);
    void publish(const std::string& topic, const std::string& text, bool retain);
    void onConnect(int result);
    void onDisconnect(int result);
    void onPublish(int messageId);
    ZxMqttMessages::Link link();

    const ZxMqttRequest& request_;
    std::vector<std::uint32_t> devices_;
    bool saving_;
    std::FILE* err_;
    std::string where_;
    ZxLiveFeed feed_;
    std::unique_ptr<ZxMqttRecordTap> recordTap_;
    ZxMqttMessages messages_;
    ZxLiveLogWatch logWatch_;
    mosquitto* client_ = nullptr;
    std::string lastLibraryError_;

    std::mutex stateMutex_; // guards what follows
    std::condition_variable stateChanged_;
    int connackResult_ = -1;
    bool connected_ = false;
    bool stopping_ = false;
    std::unordered_map<int, std::size_t> pending_; // message id -> bytes
    std::set<int> confirmedEarly_;
    std::size_t pendingBytes_ = 0;
    std::uint64_t dropped_ = 0;
    std::uint64_t droppedAtOutage_ = 0;
    std::uint64_t outages_ = 0;
    double lastOutageSeconds_ = 0.0;
    std::chrono::steady_clock::time_point lostAt_;

    std::thread thread_;
    // The publisher thread's own.
    ZxLiveFeed::Snapshot snapshot_;
    std::vector<ZxMqttRecordTap::Entry> entries_;
    std::uint64_t unpublishedRecords_ = 0;
};
