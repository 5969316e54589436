#include "vci/transport/KvVciHeartbeat.h"

const std::vector<std::uint8_t> kHeartbeatPayload{0xFF};
