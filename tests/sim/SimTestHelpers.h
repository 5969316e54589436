// Shared steps of the simulator tests: a host socket talking to box 0 and
// request/reply exchanges with deadlines.
#pragma once

#include "tests/support/HostUdpSocket.h"
#include "tests/support/WireFrames.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>

namespace zxtest {

constexpr uint8_t kCan = 0x01;
constexpr uint8_t kDevice = 0x0F;
// Generous: the machine running the suite may be heavily loaded; a missing reply
// only costs this time once.
constexpr std::chrono::milliseconds kReplyTimeout(3000);

inline std::vector<uint8_t> openRequest(uint8_t channel, uint32_t bitRate) {
    return hostFrame(kCan, 0x10, channel, 0,
                     {static_cast<uint8_t>(bitRate), static_cast<uint8_t>(bitRate >> 8),
                      static_cast<uint8_t>(bitRate >> 16), static_cast<uint8_t>(bitRate >> 24)});
}

// The first box frame within the time-out that satisfies the predicate, skipping the rest.
inline std::optional<WireFrame> awaitFrame(HostUdpSocket& host,
                                           const std::function<bool(const WireFrame&)>& wanted,
                                           std::chrono::milliseconds timeout = kReplyTimeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return std::nullopt;
        }
        const auto datagram = host.receive(left);
        if (!datagram) {
            return std::nullopt;
        }
        for (const auto& frame : boxFrames(*datagram)) {
            if (wanted(frame)) {
                return frame;
            }
        }
    }
}

// Sends a request and waits for the reply of the same type and command.
inline std::optional<WireFrame> requestReply(HostUdpSocket& host, const std::vector<uint8_t>& request,
                                             std::chrono::milliseconds timeout = kReplyTimeout) {
    if (!host.send(request)) {
        return std::nullopt;
    }
    return awaitFrame(
        host, [&](const WireFrame& f) { return f.type == request[2] && f.command == request[3]; }, timeout);
}

// A CAN transmit frame carrying one module command (id 0x001).
inline std::vector<uint8_t> moduleCommand(uint8_t channel, uint8_t command, uint32_t moduleId, uint8_t sub,
                                          std::optional<uint16_t> value = std::nullopt) {
    std::vector<uint8_t> record(16, 0);
    record[0] = 0x01;
    record[4] = value ? 8 : 6;
    record[5] = 0x01;
    record.push_back(command);
    for (int i = 0; i < 4; ++i) {
        record.push_back(static_cast<uint8_t>(moduleId >> (8 * i)));
    }
    record.push_back(sub);
    if (value) {
        record.push_back(static_cast<uint8_t>(*value));
        record.push_back(static_cast<uint8_t>(*value >> 8));
    }
    return hostFrame(kCan, 0x30, channel, 0, record);
}

} // namespace zxtest
