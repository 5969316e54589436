// Device and channel indices inside the library. The exported functions check the
// host's 32-bit values once, at full width; from there every layer takes this one type
// and narrows only where a frame on the wire holds 8 bits.
#pragma once

#include <cstdint>

using ZxIndex = std::uint32_t;

// An operation that takes one index or all of them: 0xFFFFFFFF, as a host passes it
// to ZxCloseDev for all devices.
constexpr ZxIndex kZxAllIndices = 0xFFFFFFFFu;
