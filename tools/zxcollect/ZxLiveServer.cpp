#include "ZxLiveServer.h"

#include "ZxLiveListenSocket.h"
#include "ZxLivePage.h"

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>

namespace {

using Clock = std::chrono::steady_clock;

// Ten ticks a second; every fifth also carries the table and the counters.
constexpr std::chrono::milliseconds kTick{100};
constexpr int kTicksPerStatus = 5;
// Three seconds of the full plan's messages (one per box and tick): a client further
// behind skips what it missed.
constexpr std::size_t kStreamMessages = 16 * 10 * 3;
// A stream with nothing new still writes, so a client that went away is noticed.
constexpr std::chrono::milliseconds kIdleWrite{1000};
// Connections: 8 streams plus room for page files and refusals.
constexpr std::size_t kHttpThreads = ZxLiveServer::kMaxClients + 4;
constexpr time_t kReadTimeoutSeconds = 5;
constexpr time_t kWriteTimeoutSeconds = 5;
constexpr time_t kKeepAliveSeconds = 2;

void sendText(httplib::Response& response, int status, const char* text) {
    response.status = status;
    response.set_content(text, "text/plain; charset=utf-8");
}

} // namespace

ZxLiveServer::ZxLiveServer(ZxLiveFeed& feed, const ZxLiveMessages& messages, const std::vector<ZxSlot>& slots,
                           const std::string& logPath)
    : feed_(feed), messages_(messages), slots_(slots), server_(std::make_unique<httplib::Server>()),
      stream_(kStreamMessages), logWatch_(logPath) {
    for (const ZxSlot& slot : slots_) {
        if (std::find(devices_.begin(), devices_.end(), slot.device) == devices_.end()) {
            devices_.push_back(slot.device);
        }
    }
    lastRecords_.resize(slots_.size());
    rates_.resize(slots_.size());
    addRoutes();
}

ZxLiveServer::~ZxLiveServer() {
    stop();
}

bool ZxLiveServer::bind(const std::string& address, int port, std::string& error) {
    port_ =
        port == 0 ? server_->bind_to_any_port(address) : (server_->bind_to_port(address, port) ? port : -1);
    if (port_ <= 0) {
        error = "cannot listen on " + address + ":" + std::to_string(port) +
                ": the port is in use or the address is not one of this computer's";
        return false;
    }
    return true;
}

void ZxLiveServer::addRoutes() {
    httplib::Server& server = *server_;
    server.new_task_queue = [] { return new httplib::ThreadPool(kHttpThreads); };
    server.set_socket_options(ZxLiveListenSocket::configure);
    server.set_read_timeout(kReadTimeoutSeconds, 0);
    server.set_write_timeout(kWriteTimeoutSeconds, 0);
    server.set_keep_alive_timeout(kKeepAliveSeconds);
    // The page is read-only: no request carries a body worth reading.
    server.set_payload_max_length(0);
    server.set_default_headers({{"X-Content-Type-Options", "nosniff"},
                                {"Content-Security-Policy", "default-src 'self'"},
                                {"Cache-Control", "no-store"}});
    server.set_pre_routing_handler([](const httplib::Request& request, httplib::Response& response) {
        if (request.method == "GET") {
            return httplib::Server::HandlerResponse::Unhandled;
        }
        response.set_header("Allow", "GET");
        sendText(response, 405, "Only GET\n");
        return httplib::Server::HandlerResponse::Handled;
    });
    server.Get("/events", [this](const httplib::Request& request, httplib::Response& response) {
        if (clients_.fetch_add(1) >= kMaxClients) {
            clients_.fetch_sub(1);
            sendText(response, 503, "Too many live pages open\n");
            return;
        }
        std::int64_t device = ZxLiveStream::kEveryDevice;
        if (request.has_param("device")) {
            device = std::strtoll(request.get_param_value("device").c_str(), nullptr, 10);
        }
        auto cursor = std::make_shared<ZxLiveStream::Cursor>(stream_.join(device));
        auto meta = std::make_shared<std::string>(messages_.meta());
        response.set_chunked_content_provider(
            "text/event-stream",
            [this, cursor, meta](std::size_t, httplib::DataSink& sink) {
                std::string out;
                out.swap(*meta);
                if (!stream_.next(*cursor, out, kIdleWrite)) {
                    return false;
                }
                if (out.empty()) {
                    out = ": idle\n\n";
                }
                return sink.write(out.data(), out.size());
            },
            [this](bool) { clients_.fetch_sub(1); });
    });
    server.Get(".*", [](const httplib::Request& request, httplib::Response& response) {
        const ZxLivePageFile* file = zxLivePageFile(request.path == "/" ? "/index.html" : request.path);
        if (file == nullptr) {
            sendText(response, 404, "Not found\n");
            return;
        }
        response.set_content(reinterpret_cast<const char*>(file->data), file->size,
                             std::string(file->contentType) + "; charset=utf-8");
    });
}

void ZxLiveServer::start() {
    started_ = Clock::now();
    lastStatus_ = started_;
    httpThread_ = std::thread([this] { server_->listen_after_bind(); });
    publisherThread_ = std::thread([this] { publishUntilStopped(); });
}

void ZxLiveServer::stop() {
    if (stopping_.exchange(true)) {
        return;
    }
    stream_.close();
    server_->stop();
    if (httpThread_.joinable()) {
        httpThread_.join();
    }
    if (publisherThread_.joinable()) {
        publisherThread_.join();
    }
}

void ZxLiveServer::publishUntilStopped() {
    Clock::time_point next = Clock::now();
    for (int tick = 1; !stopping_.load(); ++tick) {
        next += kTick;
        std::this_thread::sleep_until(next);
        publishOnce(tick % kTicksPerStatus == 0);
    }
}

void ZxLiveServer::publishOnce(bool withStatus) {
    feed_.take(snapshot_);
    if (clients_.load() == 0) {
        return; // nobody looks: the buckets start again and nothing is formatted
    }
    const double unixSeconds =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    if (withStatus) {
        const Clock::time_point now = Clock::now();
        const double seconds = std::chrono::duration<double>(now - lastStatus_).count();
        lastStatus_ = now;
        logWatch_.poll();
        for (std::size_t slot = 0; slot < slots_.size(); ++slot) {
            const std::vector<ZxLiveFeed::Series>& table = snapshot_.series[slot];
            lastRecords_[slot].resize(table.size(), 0);
            rates_[slot].resize(table.size(), 0.0);
            for (std::size_t i = 0; i < table.size(); ++i) {
                rates_[slot][i] =
                    seconds > 0 ? static_cast<double>(table[i].records - lastRecords_[slot][i]) / seconds
                                : 0.0;
                lastRecords_[slot][i] = table[i].records;
            }
        }
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - started_).count();
    for (std::uint32_t device : devices_) {
        std::string text;
        messages_.tick(snapshot_, device, unixSeconds, text);
        if (withStatus) {
            const std::string losses = logWatch_.lossesOf(device);
            messages_.status(snapshot_, device, elapsed, rates_, logWatch_.watching() ? &losses : nullptr,
                             text);
        }
        stream_.publish(device, std::move(text));
    }
}
