#include "vci/transport/KvVciSocketClient.h"

#include "api/common/ZxLog.h"
#include "common/ThreadJoin.h"
#include "common/Utils.h"
#include "vci/transport/KvVciFrameScanner.h"
#include "vci/transport/KvVciHeartbeat.h"
#include "vci/transport/UdpSocket.h"
#include "zxcollector_api.h"

#include <array>
#include <chrono>
#include <exception>
#include <mutex>
#include <system_error>

namespace {

constexpr unsigned kHeartbeatCheckMs = 1000;
constexpr unsigned kHeartbeatIdleMs = 2000; // the box forgets a host silent for longer
constexpr int kSendBufferBytes = 1024 * 1024;
constexpr int kReceiveBufferBytes = 8 * 1024 * 1024; // room for a burst of several thousand frames
constexpr int kReceiveTimeoutMs = 30;                // bounds how long the thread misses a stop
constexpr std::size_t kReceiveBufferSize = 4096;

enum ReadLoopExit : int {
    kExitStopped = 0,
    kExitClosedByServer = -1,
    kExitReconnectFailed = -2,
    kExitReadError = -3,
    kExitFailed = -4,
};

constexpr std::int64_t kReceiveErrorLogIntervalNs = 1000000000; // one line per second at most

const char* linkEndText(int exitCode) {
    switch (exitCode) {
    case kExitClosedByServer:
        return "the box closed the connection";
    case kExitReconnectFailed:
        return "reopening the socket failed";
    case kExitReadError:
        return "the socket failed";
    default:
        return "the receive thread failed";
    }
}

std::int64_t steadyNowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

KvVciSocketClient::KvVciSocketClient(ZxIndex deviceIndex)
    : heartbeat_(std::make_unique<Common::HeartbeatManager>(kHeartbeatCheckMs)),
      deviceTag_(std::to_string(deviceIndex)) {
    // The heartbeat keeps its own copy: it may still beat while the library unloads.
    heartbeat_->setCallback([this, payload = kHeartbeatPayload] { sendData(payload); });
    socketLayerStarted_ = UdpSocket::startup();
}

KvVciSocketClient::~KvVciSocketClient() {
    disconnectFromServer();
    if (socketLayerStarted_) {
        UdpSocket::cleanup();
    }
}

bool KvVciSocketClient::connectToServer(const KvVciSocketSettings& settings) {
    disconnectFromServer();
    autoReconnect_.store(settings.autoReconnect);
    serverIp_ = settings.serverIp;
    serverPort_ = settings.serverPort;
    localIp_ = settings.localIp;

    std::unique_ptr<UdpSocket> socket = openSocket();
    if (!socket) {
        return false;
    }
    {
        std::unique_lock lock(socketMutex_);
        socket_ = std::move(socket);
    }
    running_.store(true);
    receiveBodyDone_.store(false);
    linkEndCode_.store(kExitStopped);
    try {
        receiveThread_ = std::thread(&KvVciSocketClient::readLoop, this);
    } catch (const std::system_error& error) {
        zxLog(ZxLevel::Error, "Failed to start read thread: {}", error.what());
        running_.store(false);
        // Without a thread nothing reads the socket; leaving it open would only make
        // isConnected() claim a link that receives nothing.
        std::unique_lock lock(socketMutex_);
        socket_.reset();
        return false;
    }
    heartbeat_->start(kHeartbeatIdleMs);
    zxLog(ZxLevel::Info, "Connected to server: {}", serverIp_);
    return true;
}

std::unique_ptr<UdpSocket> KvVciSocketClient::openSocket() {
    auto socket = std::make_unique<UdpSocket>();
    if (!socket->isOpen()) {
        zxLog(ZxLevel::Error, "Failed to create socket. Error: {}", UdpSocket::lastError());
        return nullptr;
    }
    if (!localIp_.empty()) {
        if (!socket->bind(localIp_, 0)) {
            zxLog(ZxLevel::Error, "Failed to bind to local IP: {}. Error: {}", localIp_,
                  UdpSocket::lastError());
            zxLog(ZxLevel::Error,
                  "Check: {} is not an address of any network interface of this computer. Give the "
                  "adapter that faces the box this static address, or pass ZxOpenDev the host octet of "
                  "an address it has",
                  localIp_);
            return nullptr;
        }
        zxLog(ZxLevel::Info, "Bind to local IP: {}", localIp_);
    }
    if (!socket->setSendBufferBytes(kSendBufferBytes)) {
        zxLog(ZxLevel::Warning, "Failed to set UDP send buffer sizes, using system default");
    }
    if (!socket->setReceiveBufferBytes(kReceiveBufferBytes)) {
        zxLog(ZxLevel::Warning, "Failed to set UDP receive buffer size, using system default");
    }
    const int granted = socket->grantedReceiveBufferBytes();
    if (granted >= 0 && granted < kReceiveBufferBytes) {
        // A burst longer than this is dropped by the system (and counted).
        zxLog(ZxLevel::Warning, "UDP receive buffer is {} bytes instead of the {} asked for; {} limits it",
              granted, kReceiveBufferBytes, UdpSocket::receiveBufferLimitSetting());
    }
    socket->enableDropCounter();
    zxLog(ZxLevel::Info, "Current network card send and receive buffer: {}/{}", socket->sendBufferBytes(),
          socket->receiveBufferBytes());
    if (!socket->connect(serverIp_, serverPort_)) {
        zxLog(ZxLevel::Error, "Failed to connect to server IP: {}. Error: {}", serverIp_,
              UdpSocket::lastError());
        return nullptr;
    }
    // Bounds how long the receive thread misses a stop; without it a stop would have
    // to rely on the shutdown alone.
    if (!socket->setReceiveTimeout(kReceiveTimeoutMs)) {
        zxLog(ZxLevel::Warning, "Failed to set receive timeout.");
    }
    return socket;
}

void KvVciSocketClient::disconnectFromServer() {
    if (receiveThread_.joinable() && receiveThread_.get_id() == std::this_thread::get_id()) {
        // The receive thread cannot wait for itself; nothing is changed.
        throw std::system_error(std::make_error_code(std::errc::resource_deadlock_would_occur));
    }
    autoReconnect_.store(false);
    if (!running_.exchange(false)) {
        return;
    }
    heartbeat_->stop();
    {
        std::shared_lock lock(socketMutex_);
        if (socket_) {
            socket_->shutdown();
        }
    }
    // The descriptor is closed only after the thread is gone, so it never reads a
    // descriptor number that the system already gave to someone else.
    Common::joinThread(receiveThread_, receiveBodyDone_);
    closeSocket();
}

void KvVciSocketClient::closeSocket() {
    bool closed = false;
    {
        std::unique_lock lock(socketMutex_);
        closed = socket_ != nullptr;
        socket_.reset();
    }
    if (closed) {
        zxLog(ZxLevel::Info, "Disconnected from server: {}", serverIp_);
    }
}

int KvVciSocketClient::sendData(const std::vector<std::uint8_t>& bytes) {
    const std::uint8_t* data = bytes.data();
    const std::size_t length = bytes.size();
    int error = 0;
    {
        std::shared_lock lock(socketMutex_);
        if (length == 0 || !socket_) {
            error = ZX_ERR_SEND_REFUSED;
        } else if (socket_->send(data, length) < 0) {
            error = UdpSocket::lastError();
            // A "port unreachable" of an earlier datagram (the box restarted) is
            // reported by whichever call comes next and this datagram was not sent:
            // the error is spent, so the send is tried once more.
            if (!UdpSocket::socketIsGone(error) && socket_->send(data, length) >= 0) {
                error = 0;
            }
        }
    }
    if (error == ZX_ERR_SEND_REFUSED) {
        zxLog(ZxLevel::Error, "Failed to send data: invalid socket or data");
        return ZX_ERR_SEND_REFUSED;
    }
    if (error != 0) {
        zxLog(ZxLevel::Error, "Failed to send data. Error: {}", error);
        return ZX_ERR_SEND_FAILED;
    }
    UdpSocket::setLastError(0);
    heartbeat_->updateTimestamp();
    if (Common::shouldLogLevel(ZxLevel::Debug)) {
        Common::logDebugHex(deviceTag_ + " SD:", data, length);
    }
    return ZX_OK;
}

bool KvVciSocketClient::isConnected() const {
    std::shared_lock lock(socketMutex_);
    return socket_ != nullptr && linkEndCode_.load() == kExitStopped;
}

void KvVciSocketClient::reportSummary() const {
    lossCounters_.reportSummary(deviceTag_);
    const int code = linkEndCode_.load();
    if (code != kExitStopped) {
        zxLog(ZxLevel::Error, "Device{} stopped receiving before it was closed: {} (exit code {})",
              deviceTag_, linkEndText(code), code);
    }
}

void KvVciSocketClient::setDataCallback(DataCallback callback) {
    // The receive thread calls the callback without a lock, so it may change only
    // while no thread exists (a finished thread stays until the next disconnect).
    {
        std::shared_lock lock(socketMutex_);
        if (socket_ || receiveThread_.joinable()) {
            return;
        }
    }
    dataCallback_ = std::move(callback);
}

void KvVciSocketClient::readLoop() {
    const Common::ThreadBodyDone bodyDone(receiveBodyDone_);
    int exitCode = kExitFailed;
    try {
        exitCode = receiveUntilStopped();
    } catch (const std::exception& error) {
        zxLog(ZxLevel::Error, "Device{} receive thread failed: {}", deviceTag_, error.what());
    } catch (...) {
        zxLog(ZxLevel::Error, "Device{} receive thread failed", deviceTag_);
    }
    if (exitCode != kExitStopped && running_.load()) {
        // Nothing reads the socket any more: requests must fail at once instead of
        // waiting for replies, and reads must not look like a quiet bus.
        linkEndCode_.store(exitCode);
        zxLog(ZxLevel::Error, "Device{} stopped receiving: {}", deviceTag_, linkEndText(exitCode));
    }
}

void KvVciSocketClient::noteReceiveError(int error) {
    lossCounters_.addReceiveError();
    const std::int64_t now = steadyNowNs();
    if (lastReceiveErrorLogNs_ == 0 || now - lastReceiveErrorLogNs_ >= kReceiveErrorLogIntervalNs) {
        lastReceiveErrorLogNs_ = now;
        zxLog(ZxLevel::Error, "Failed to read data. Error: {} ({} receive errors so far; receiving goes on)",
              error, lossCounters_.snapshot().receiveErrors);
    }
}

bool KvVciSocketClient::reopenSocket() {
    closeSocket();
    std::unique_ptr<UdpSocket> fresh = openSocket();
    if (!fresh) {
        zxLog(ZxLevel::Error, "Failed to reconnect to server: {}", serverIp_);
        return false;
    }
    {
        std::unique_lock lock(socketMutex_);
        socket_ = std::move(fresh);
    }
    zxLog(ZxLevel::Info, "Reconnected to server: {}", serverIp_);
    return true;
}

bool KvVciSocketClient::recoverFromReceiveError(int error, KvVciFrameScanner& scanner,
                                                std::uint32_t& kernelDropsSeen, int& exitCode) {
    if (UdpSocket::isTimeOut(error) || !running_.load()) {
        lossCounters_.reportIfDue(deviceTag_);
        return true;
    }
    // Whatever caused the error, the stream has a gap: a half frame carried over must
    // not be completed by bytes of another frame.
    scanner.discardCarried();
    if (!UdpSocket::socketIsGone(error)) {
        noteReceiveError(error);
        return true;
    }
    zxLog(ZxLevel::Error, "Failed to read data. Error: {}", error);
    if (!autoReconnect_.load()) {
        exitCode = kExitReadError;
        return false;
    }
    if (!reopenSocket()) {
        exitCode = kExitReconnectFailed;
        return false;
    }
    kernelDropsSeen = 0; // the system counts per socket, from 0
    return true;
}

int KvVciSocketClient::receiveUntilStopped() {
    const std::string threadId = Common::Utils::getThreadIdString();
    zxLog(ZxLevel::Info, "Start read message thread {}", threadId);

    std::array<std::uint8_t, kReceiveBufferSize> receiveBuffer;
    KvVciFrameScanner scanner(deviceTag_, lossCounters_);
    std::uint32_t kernelDropsSeen = 0; // the system counts per socket, from 0
    int exitCode = kExitStopped;

    while (running_.load()) {
        // Only this thread replaces or closes the socket while it runs.
        UdpSocket* const socket = socket_.get();
        if (socket == nullptr) {
            exitCode = kExitStopped;
            break;
        }
        std::uint32_t kernelDrops = kernelDropsSeen;
        bool truncated = false;
        const long received =
            socket->receive(receiveBuffer.data(), receiveBuffer.size(), kernelDrops, truncated);
        if (received < 0) {
            if (!recoverFromReceiveError(UdpSocket::lastError(), scanner, kernelDropsSeen, exitCode)) {
                break;
            }
            continue;
        }
        if (received == 0) {
            if (!running_.load()) {
                break; // our own shutdown woke the receive
            }
            zxLog(ZxLevel::Info, "Connection closed by server: {}", serverIp_);
            exitCode = kExitClosedByServer;
            break;
        }
        if (kernelDrops != kernelDropsSeen) {
            lossCounters_.addKernelDrops(static_cast<std::uint32_t>(kernelDrops - kernelDropsSeen));
            kernelDropsSeen = kernelDrops;
            // The datagrams that would have completed the carried bytes may be among them.
            scanner.discardCarried();
        }
        if (Common::shouldLogLevel(ZxLevel::Debug)) {
            Common::logDebugHex(deviceTag_ + " RD:", receiveBuffer.data(),
                                static_cast<std::uint64_t>(received));
        }
        scanner.feed(receiveBuffer.data(), static_cast<std::size_t>(received), dataCallback_);
        if (truncated) {
            // Complete frames before the cut are good; the cut one cannot be finished.
            lossCounters_.addTruncatedDatagram();
            scanner.discardCarried();
        }
        lossCounters_.reportIfDue(deviceTag_);
    }

    zxLog(ZxLevel::Info, "Stopped read message thread {}, exit code {}", threadId, exitCode);
    return exitCode;
}
