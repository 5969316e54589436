// The live page of a run (--live): serves the embedded page and streams the feed's
// figures to at most kMaxClients browsers. Two threads of its own (the HTTP server and
// the publisher that formats the feed ten times a second); the reading loop only meets it
// through ZxLiveFeed.
#pragma once

#include "ZxLiveFeed.h"
#include "ZxLiveLogWatch.h"
#include "ZxLiveMessages.h"
#include "ZxLiveStream.h"

#include <atomic>
#include <memory>
#include <string>
#include <thread>

namespace httplib {
class Server;
}

class ZxLiveServer {
public:
    static constexpr int kMaxClients = 8;

    // logPath: the library's log (--log), where the link's loss counters are; may be empty.
    ZxLiveServer(ZxLiveFeed& feed, const ZxLiveMessages& messages, const std::vector<ZxSlot>& slots,
                 const std::string& logPath);
    ~ZxLiveServer();

    // Binds address:port (port 0: any free port); false with the reason in error.
    bool bind(const std::string& address, int port, std::string& error);
    int port() const { return port_; }
    void start();
    // Ends the streams, then both threads; idempotent.
    void stop();

private:
    void addRoutes();
    void publishUntilStopped();
    void publishOnce(bool withStatus);

    ZxLiveFeed& feed_;
    const ZxLiveMessages& messages_;
    const std::vector<ZxSlot>& slots_;
    std::vector<std::uint32_t> devices_;
    std::unique_ptr<httplib::Server> server_;
    ZxLiveStream stream_;
    int port_ = 0;
    std::atomic<int> clients_{0};
    std::atomic<bool> stopping_{false};
    std::thread httpThread_;
    std::thread publisherThread_;

    // The publisher's own state.
    ZxLiveFeed::Snapshot snapshot_;
    ZxLiveLogWatch logWatch_;
    std::vector<std::vector<std::uint64_t>> lastRecords_;
    std::vector<std::vector<double>> rates_;
    std::chrono::steady_clock::time_point started_;
    std::chrono::steady_clock::time_point lastStatus_;
};
