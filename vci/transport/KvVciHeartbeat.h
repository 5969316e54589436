// The heartbeat datagram: the single byte 0xFF, sent on its own whenever the link
// was idle, so the box keeps the host's address.
#pragma once

#include <cstdint>
#include <vector>

extern const std::vector<std::uint8_t> kHeartbeatPayload;
