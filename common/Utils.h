// Small helpers shared by the library: crash hook, thread ids, socket options and
// signal extraction from CAN data.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace Common {

// A socket as the platform knows it: a descriptor on POSIX, a SOCKET on Windows.
// -1 stands for no socket.
using SocketHandle = std::intptr_t;

class Utils {
public:
    // The handler runs once when the process fails abnormally (a fatal signal here,
    // an unhandled exception on Windows); afterwards the process ends as it would have.
    static void registerCrashHandler(std::function<void()> handler);
    static void setupCrashHandler();
    // Removes the hook again (the library calls this when it is unloaded).
    static void removeCrashHandler();

    // The calling thread's id as decimal text.
    static std::string getThreadIdString();

    // Receive time-out in milliseconds; 0 on success, non-zero on failure.
    static int setReceiveTimeout(SocketHandle socket, int timeoutMs);
    // Send buffer in KiB; non-zero on success, zero on failure.
    static int setSocketSendBufferSize(SocketHandle socket, int sizeKiB);
    // Receive buffer in KiB (forced beyond the system maximum where the process may);
    // non-zero on success, zero on failure.
    static int setSocketReceiveBufferSize(SocketHandle socket, int sizeKiB);
    // Current buffer sizes in bytes as the system reports them; -1 on failure.
    static int getSocketReceiveBufferSize(SocketHandle socket);
    static int getSocketSendBufferSize(SocketHandle socket);

    // The signed little-endian signal of bitLength bits (1..64) starting at bit
    // startBit (bit 0 is the lowest bit of data[0]). Bits beyond dataLength bytes read
    // as 0; bitLength 0 or above 64 gives 0.
    static std::int64_t getSignedSignalValueByLSB(const std::uint8_t* data, std::uint8_t dataLength,
                                                  std::uint16_t startBit, std::uint16_t bitLength);
};

} // namespace Common
