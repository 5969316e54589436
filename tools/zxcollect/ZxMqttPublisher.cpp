#include "ZxMqttPublisher.h"

#include "ZxHostName.h"

#include <mosquitto.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>

namespace {

using Clock = std::chrono::steady_clock;

// How long the broker may take to answer the login at the start.
constexpr std::chrono::seconds kLoginWait{10};
constexpr int kKeepAliveSeconds = 10;
// Reconnect delays: 1 s, doubled up to 30 s.
constexpr unsigned kFirstRetrySeconds = 1;
constexpr unsigned kLastRetrySeconds = 30;
// Records held on each side of the --mqtt-records hand-over (72 bytes each).
constexpr std::size_t kRecordTapCapacity = 200000;

std::string defaultPrefix() {
    return "zxcollect/" + zxHostName();
}

struct LibraryUse {
    LibraryUse() { mosquitto_lib_init(); }
    ~LibraryUse() { mosquitto_lib_cleanup(); }
};

bool readPassword(const std::string& path, std::string& password) {
    std::ifstream file(path, std::ios::binary);
    if (!file || !std::getline(file, password)) {
        return false;
    }
    while (!password.empty() && (password.back() == '\r' || password.back() == '\n')) {
        password.pop_back();
    }
    return true;
}

} // namespace

ZxMqttPublisher::ZxMqttPublisher(const ZxMqttRequest& request, const ZxIdMapping& mapping,
                                 const std::vector<ZxSlot>& slots, bool saving, const std::string& logPath,
                                 std::FILE* err)
    : request_(request), saving_(saving), err_(err), feed_(slots.size()),
      recordTap_(request.records ? std::make_unique<ZxMqttRecordTap>(kRecordTapCapacity) : nullptr),
      messages_(request.topic.empty() ? defaultPrefix() : request.topic, mapping, slots), logWatch_(logPath) {
    static LibraryUse library;
    for (const ZxSlot& slot : slots) {
        if (std::find(devices_.begin(), devices_.end(), slot.device) == devices_.end()) {
            devices_.push_back(slot.device);
        }
    }
    const int port = request.port != 0 ? request.port : request.caFile.empty() ? 1883 : 8883;
    where_ = request.host + ":" + std::to_string(port);
    client_ = mosquitto_new(nullptr, true, this);
    mosquitto_int_option(client_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(client_, [](mosquitto*, void* self, int result) {
        static_cast<ZxMqttPublisher*>(self)->onConnect(result);
    });
    mosquitto_disconnect_callback_set(client_, [](mosquitto*, void* self, int result) {
        static_cast<ZxMqttPublisher*>(self)->onDisconnect(result);
    });
    mosquitto_publish_callback_set(client_, [](mosquitto*, void* self, int messageId) {
        static_cast<ZxMqttPublisher*>(self)->onPublish(messageId);
    });
    // Keeps the library's own reason for a failed TLS handshake for the error message.
    mosquitto_log_callback_set(client_, [](mosquitto*, void* self, int level, const char* text) {
        if ((level & MOSQ_LOG_ERR) != 0 && text != nullptr) {
            static_cast<ZxMqttPublisher*>(self)->lastLibraryError_ = text;
        }
    });
    mosquitto_reconnect_delay_set(client_, kFirstRetrySeconds, kLastRetrySeconds, true);
}

ZxMqttPublisher::~ZxMqttPublisher() {
    stop();
    mosquitto_destroy(client_);
}

bool ZxMqttPublisher::connect(std::string& error) {
    const std::string& host = request_.host;
    const int port = std::stoi(where_.substr(where_.rfind(':') + 1));
    if (!request_.user.empty()) {
        std::string password;
        if (!request_.passwordFile.empty() && !readPassword(request_.passwordFile, password)) {
            error = "cannot read the password file " + request_.passwordFile;
            return false;
        }
        mosquitto_username_pw_set(client_, request_.user.c_str(),
                                  request_.passwordFile.empty() ? nullptr : password.c_str());
    }
    if (!request_.caFile.empty()) {
        const int result =
            mosquitto_tls_set(client_, request_.caFile.c_str(), nullptr,
                              request_.certFile.empty() ? nullptr : request_.certFile.c_str(),
                              request_.keyFile.empty() ? nullptr : request_.keyFile.c_str(), nullptr);
        if (result == MOSQ_ERR_NOT_SUPPORTED) {
            error = "TLS is not available in this build of zxcollect";
            return false;
        }
        if (result != MOSQ_ERR_SUCCESS) {
            error = "TLS files (" + request_.caFile +
                    (request_.certFile.empty() ? "" : ", " + request_.certFile) +
                    (request_.keyFile.empty() ? "" : ", " + request_.keyFile) +
                    ") not usable: " + mosquitto_strerror(result);
            return false;
        }
    }
    const std::string offline = "offline";
    mosquitto_will_set(client_, messages_.statusTopic().c_str(), static_cast<int>(offline.size()),
                       offline.data(), 1, true);
    const int result = mosquitto_connect(client_, host.c_str(), port, kKeepAliveSeconds);
    // The TLS handshake fails in the connect or in the first loops, with OpenSSL's reason logged.
    const auto tlsFailed = [&] {
        error = "TLS with the broker at " + where_ +
                " failed: " + (lastLibraryError_.empty() ? "the handshake failed" : lastLibraryError_) +
                " (the broker's certificate must verify against " + request_.caFile + ")";
        return false;
    };
    if (result == MOSQ_ERR_TLS) {
        return tlsFailed();
    }
    if (result != MOSQ_ERR_SUCCESS) {
        error = "cannot reach the broker at " + where_ + ": " +
                (result == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(result));
        return false;
    }
    const Clock::time_point deadline = Clock::now() + kLoginWait;
    while (Clock::now() < deadline) {
        const int looped = mosquitto_loop(client_, 100, 1);
        std::lock_guard lock(stateMutex_);
        if (connackResult_ >= 0 || looped != MOSQ_ERR_SUCCESS) {
            break;
        }
    }
    std::lock_guard lock(stateMutex_);
    if (connackResult_ == 0) {
        return true;
    }
    if (connackResult_ > 0) {
        error = "the broker at " + where_ + " refused the connection" +
                (request_.user.empty() ? "" : " of user " + request_.user) + ": " +
                mosquitto_connack_string(connackResult_);
    } else if (!request_.caFile.empty() && lastLibraryError_.find("SSL") != std::string::npos) {
        return tlsFailed();
    } else if (!lastLibraryError_.empty()) {
        error = "the connection to the broker at " + where_ + " failed: " + lastLibraryError_;
    } else {
        error = "the broker at " + where_ + " did not answer the login within " +
                std::to_string(kLoginWait.count()) + " s";
    }
    return false;
}

void ZxMqttPublisher::start() {
    mosquitto_loop_start(client_);
    thread_ = std::thread([this] { publishUntilStopped(); });
}

void ZxMqttPublisher::stop() {
    {
        std::lock_guard lock(stateMutex_);
        if (stopping_) {
            return;
        }
        stopping_ = true;
    }
    stateChanged_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
        // The final status is on its way once nothing is pending, or after a short wait.
        const Clock::time_point deadline = Clock::now() + std::chrono::seconds(2);
        std::unique_lock lock(stateMutex_);
        stateChanged_.wait_until(lock, deadline, [this] { return pending_.empty() || !connected_; });
        if (!connected_ && outages_ > 0) {
            std::fprintf(err_,
                         "zxcollect: MQTT: the broker at %s is still away at the end, after %.1f s; %llu "
                         "message(s) dropped meanwhile\n",
                         where_.c_str(), std::chrono::duration<double>(Clock::now() - lostAt_).count(),
                         static_cast<unsigned long long>(dropped_ - droppedAtOutage_));
            std::fflush(err_);
        }
        lock.unlock();
        mosquitto_disconnect(client_);
        mosquitto_loop_stop(client_, false);
    }
}

void ZxMqttPublisher::onConnect(int result) {
    std::lock_guard lock(stateMutex_);
    const bool first = connackResult_ < 0;
    connackResult_ = result;
    if (result != 0) {
        return;
    }
    connected_ = true;
    if (!first) {
        lastOutageSeconds_ = std::chrono::duration<double>(Clock::now() - lostAt_).count();
        std::fprintf(
            err_,
            "zxcollect: MQTT: the broker at %s is back after %.1f s; %llu message(s) dropped meanwhile\n",
            where_.c_str(), lastOutageSeconds_, static_cast<unsigned long long>(dropped_ - droppedAtOutage_));
        std::fflush(err_);
    }
    stateChanged_.notify_all();
}

void ZxMqttPublisher::onDisconnect(int) {
    std::lock_guard lock(stateMutex_);
    if (!connected_) {
        return;
    }
    connected_ = false;
    if (stopping_) {
        return;
    }
    // What was not taken yet is lost with the connection.
    dropped_ += pending_.size();
    pending_.clear();
    confirmedEarly_.clear();
    pendingBytes_ = 0;
    ++outages_;
    droppedAtOutage_ = dropped_;
    lostAt_ = Clock::now();
    stateChanged_.notify_all();
}

void ZxMqttPublisher::onPublish(int messageId) {
    std::lock_guard lock(stateMutex_);
    const auto found = pending_.find(messageId);
    if (found == pending_.end()) {
        confirmedEarly_.insert(messageId); // before publish() noted it
        return;
    }
    pendingBytes_ -= found->second;
    pending_.erase(found);
    stateChanged_.notify_all();
}

void ZxMqttPublisher::publish(const std::string& topic, const std::string& text, bool retain) {
    {
        std::lock_guard lock(stateMutex_);
        if (!connected_ || pending_.size() >= kMaxPendingMessages ||
            pendingBytes_ + text.size() > kMaxPendingBytes) {
            ++dropped_;
            return;
        }
    }
    int messageId = 0;
    const int result = mosquitto_publish(client_, &messageId, topic.c_str(), static_cast<int>(text.size()),
                                         text.data(), request_.qos, retain);
    std::lock_guard lock(stateMutex_);
    if (result != MOSQ_ERR_SUCCESS) {
        ++dropped_;
    } else if (confirmedEarly_.erase(messageId) == 0) {
        pending_[messageId] = text.size();
        pendingBytes_ += text.size();
    }
}

ZxMqttMessages::Link ZxMqttPublisher::link() {
    ZxMqttMessages::Link link;
    link.saving = saving_;
    logWatch_.poll();
    link.watchingLog = logWatch_.watching();
    for (const std::uint32_t device : devices_) {
        link.losses.push_back(logWatch_.lossesOf(device));
    }
    link.unpublishedRecords = unpublishedRecords_;
    std::lock_guard lock(stateMutex_);
    link.running = !stopping_;
    link.outages = outages_;
    link.lastOutageSeconds = lastOutageSeconds_;
    link.droppedMessages = dropped_;
    return link;
}

void ZxMqttPublisher::publishUntilStopped() {
    const auto interval =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(request_.intervalSeconds));
    Clock::time_point next = Clock::now();
    for (;;) {
        next += interval;
        std::unique_lock lock(stateMutex_);
        const bool stopping = stateChanged_.wait_until(lock, next, [this] { return stopping_; });
        lock.unlock();
        publishInterval(stopping);
        if (stopping) {
            return;
        }
    }
}

void ZxMqttPublisher::publishInterval(bool last) {
    feed_.take(snapshot_);
    for (std::size_t slot = 0; slot < snapshot_.series.size(); ++slot) {
        for (const ZxLiveFeed::Series& series : snapshot_.series[slot]) {
            publish(messages_.topicOf(slot, series.canId), messages_.summary(slot, series), false);
        }
    }
    if (recordTap_) {
        recordTap_->take(entries_, unpublishedRecords_);
        // One message per slot and identifier, in chunks, records in the order read.
        std::map<std::pair<std::uint32_t, std::uint32_t>, std::vector<ZxMqttRecordTap::Entry>> groups;
        for (const ZxMqttRecordTap::Entry& entry : entries_) {
            groups[{entry.slot, entry.record.canId}].push_back(entry);
        }
        for (const auto& [key, entries] : groups) {
            const std::string topic = messages_.topicOf(key.first, key.second) + "/records";
            for (std::size_t i = 0; i < entries.size(); i += kRecordsPerMessage) {
                publish(topic,
                        messages_.records(key.first, key.second, entries.data() + i,
                                          std::min(kRecordsPerMessage, entries.size() - i)),
                        false);
            }
        }
    }
    ZxMqttMessages::Link state = link();
    state.running = !last;
    publish(messages_.statusTopic(), messages_.status(snapshot_, devices_, state), true);
}
