// Everything a test or the vci-sim program can choose about the simulated boxes,
// plus the plain records the simulator hands back (received datagrams, state copies).
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vcisim {

// Kinds of measurement module; each kind's default identifier is kind * 512 - 255.
enum class ModuleKind : uint8_t { Temperature = 1, Voltage = 2, Current = 3, Frequency = 4 };

struct ModuleSpec {
    ModuleKind kind = ModuleKind::Temperature;
    uint32_t identifier = 0x101;
    uint16_t frequencyHz = 100;
    // Bit k set: value k (k = 0..6) is a measured signal; clear: the no-value marker.
    uint8_t channelMask = 0x3F;
    // A silent module streams samples but never answers module commands.
    bool silent = false;
};

// The four kinds with their default identifiers at 100 Hz; voltage and frequency
// modules measure fewer channels so the no-value marker shows up in the stream.
std::vector<ModuleSpec> defaultModules();

// Drop the replies to requests of this type and command: every one (nth 0) or only
// the nth such request (1-based, counted per box since start).
struct DropRule {
    uint8_t type = 0;
    uint8_t command = 0;
    uint32_t nth = 0;
};

struct Misbehaviour {
    std::vector<DropRule> dropReplies;
    // No replies and no data at all; requests are still recorded.
    bool silent = false;
    // Replies carry channel + 1 instead of the request's channel.
    bool wrongChannelReplies = false;
};

// Benchmark streaming: each open channel sends frameCount frames (0: no end) of its
// modules in turn, at framesPerSecond per channel (0: as fast as the socket takes them).
struct RateMode {
    bool enabled = false;
    double framesPerSecond = 0.0;
    uint64_t frameCount = 0;
};

struct VciSimulatorOptions {
    // Box i binds 192.168.201.(130 + i):port.
    std::vector<uint32_t> deviceIndices{0};
    uint16_t port = 8000;
    std::array<uint8_t, 4> firmware{1, 2, 3, 4};
    uint32_t canChannelCount = 8;
    // The module set of every channel.
    std::vector<ModuleSpec> modules = defaultModules();
    bool uniqueValues = false;
    // Outgoing datagrams are filled up to this many bytes.
    uint32_t maxDatagramBytes = 1400;
    // Bus-load report period per open channel (0: none).
    uint32_t busLoadIntervalMs = 1000;
    // Added to the box clock (0.1 us ticks since start).
    uint64_t clockOffsetTicks = 0;
    RateMode rate;
    Misbehaviour misbehaviour;
};

// One datagram the box received (heartbeats are counted, not recorded).
struct ReceivedDatagram {
    std::vector<uint8_t> bytes;
    std::string sourceAddress;
    uint16_t sourcePort = 0;
};

struct ModuleSnapshot {
    ModuleSpec setup;
    bool configuring = false;
    uint64_t framesSent = 0;
    uint32_t commandsAnswered = 0;
};

struct ChannelSnapshot {
    bool open = false;
    uint32_t bitRate = 0;
    // Parameter code -> value, as last set; applyCount counts apply requests.
    std::map<uint8_t, uint32_t> canFdParameters;
    uint32_t applyCount = 0;
    bool terminalResistor = false;
    uint64_t framesSent = 0;
    // Transmit frames the host sent while the channel was open.
    uint64_t transmitted = 0;
    std::vector<ModuleSnapshot> modules;
};

} // namespace vcisim
