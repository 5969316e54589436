#include "common/Utils.h"

#include "common/CrashHook.h"
#include "common/SocketOptions.h"
#include "common/ThreadIdentity.h"

#include <array>
#include <atomic>
#include <limits>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace Common {

namespace {

constexpr int kBytesPerKiB = 1024;

// Registered handlers live in fixed slots, never on the heap: a crash on another
// thread may be running an earlier one, and nothing of them may outlive an unload.
constexpr std::size_t kHandlerSlots = 8;
std::mutex handlerMutex; // guards the handler slots and nextHandlerSlot
using HandlerSlots = std::array<std::function<void()>, kHandlerSlots>;
// Built on first registration, not by this file's initialiser: a library may register
// from its load notification before that initialiser has run, and the slots must then
// outlive that library's unload notification (destroyed in reverse order of creation).
HandlerSlots& handlerSlots() {
    static HandlerSlots slots;
    return slots;
}
std::size_t nextHandlerSlot = 0;
// What the crash path calls; a plain atomic pointer because it is read inside a signal handler.
std::atomic<std::function<void()>*> crashHandler{nullptr};
// The handler runs once, even when it faults itself or two threads fail together.
std::atomic<bool> crashHandlerRan{false};

void runCrashHandlerOnce() {
    if (crashHandlerRan.exchange(true)) {
        return;
    }
    std::function<void()>* handler = crashHandler.load();
    if (handler == nullptr || !*handler) {
        return;
    }
    try {
        (*handler)();
    } catch (...) {
        // the process is ending anyway; the original failure decides how
    }
}

bool validSocket(SocketHandle socket) {
    return socket >= 0;
}

// KiB to bytes; 0 when the size is not positive or does not fit an int.
int kibToBytes(int sizeKiB) {
    if (sizeKiB <= 0 || sizeKiB > std::numeric_limits<int>::max() / kBytesPerKiB) {
        return 0;
    }
    return sizeKiB * kBytesPerKiB;
}

std::uint64_t lowBits(std::uint64_t value, unsigned count) {
    return count >= 64 ? value : value & ((std::uint64_t{1} << count) - 1);
}

} // namespace

void Utils::registerCrashHandler(std::function<void()> handler) {
    std::lock_guard<std::mutex> lock(handlerMutex);
    std::function<void()>& slot = handlerSlots()[nextHandlerSlot];
    nextHandlerSlot = (nextHandlerSlot + 1) % kHandlerSlots;
    crashHandler.store(nullptr);
    slot = std::move(handler);
    crashHandler.store(&slot);
    crashHandlerRan.store(false);
}

void Utils::setupCrashHandler() {
    CrashHook::install(runCrashHandlerOnce);
}

void Utils::removeCrashHandler() {
    CrashHook::uninstall();
    std::lock_guard<std::mutex> lock(handlerMutex);
    crashHandler.store(nullptr);
    // The hook is gone, so no crash path can reach these any more; the library is
    // about to be unloaded together with the code they point into.
    for (auto& slot : handlerSlots()) {
        slot = nullptr;
    }
}

std::string Utils::getThreadIdString() {
    return std::to_string(ThreadIdentity::current());
}

int Utils::setReceiveTimeout(SocketHandle socket, int timeoutMs) {
    if (!validSocket(socket) || timeoutMs < 0) {
        return -1;
    }
    return SocketOptions::setReceiveTimeout(socket, timeoutMs) ? 0 : -1;
}

int Utils::setSocketSendBufferSize(SocketHandle socket, int sizeKiB) {
    const int bytes = kibToBytes(sizeKiB);
    if (!validSocket(socket) || bytes == 0) {
        return 0;
    }
    return SocketOptions::setSendBufferBytes(socket, bytes) ? 1 : 0;
}

int Utils::setSocketReceiveBufferSize(SocketHandle socket, int sizeKiB) {
    const int bytes = kibToBytes(sizeKiB);
    if (!validSocket(socket) || bytes == 0) {
        return 0;
    }
    return SocketOptions::setReceiveBufferBytes(socket, bytes) ? 1 : 0;
}

int Utils::getSocketReceiveBufferSize(SocketHandle socket) {
    return validSocket(socket) ? SocketOptions::receiveBufferBytes(socket) : -1;
}

int Utils::getSocketSendBufferSize(SocketHandle socket) {
    return validSocket(socket) ? SocketOptions::sendBufferBytes(socket) : -1;
}

std::int64_t Utils::getSignedSignalValueByLSB(const std::uint8_t* data, std::uint8_t dataLength,
                                              std::uint16_t startBit, std::uint16_t bitLength) {
    if (bitLength == 0 || bitLength > 64 || data == nullptr) {
        return 0;
    }
    const unsigned firstByte = startBit / 8u;
    const unsigned shift = startBit % 8u;

    // The reader's case, eight times per record: an aligned 32-bit value inside the data.
    if (shift == 0 && bitLength == 32 && firstByte + 4u <= dataLength) {
        const std::uint8_t* p = data + firstByte;
        const std::uint32_t value = static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                                    static_cast<std::uint32_t>(p[2]) << 16 |
                                    static_cast<std::uint32_t>(p[3]) << 24;
        return static_cast<std::int32_t>(value);
    }

    // Up to nine bytes hold the signal; bytes past the data read as 0.
    std::uint64_t raw = 0;
    for (unsigned i = 0; i < 8u; ++i) {
        if (firstByte + i < dataLength) {
            raw |= static_cast<std::uint64_t>(data[firstByte + i]) << (8u * i);
        }
    }
    std::uint64_t value = raw >> shift;
    if (shift != 0 && firstByte + 8u < dataLength) {
        value |= static_cast<std::uint64_t>(data[firstByte + 8u]) << (64u - shift);
    }
    value = lowBits(value, bitLength);
    if (bitLength < 64) {
        const std::uint64_t signBit = std::uint64_t{1} << (bitLength - 1u);
        value = (value ^ signBit) - signBit;
    }
    return static_cast<std::int64_t>(value);
}

} // namespace Common
