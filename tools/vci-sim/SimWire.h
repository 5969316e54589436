// The box's side of the VCI wire format: frame layout, codes and little-endian
// helpers. Written independently of the library's own protocol headers, so a
// misreading on either side shows up as a failing exchange instead of cancelling out.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vcisim {

// Frames from the host start AA 55, frames from the box start 55 AA.
constexpr uint8_t kHostSync1 = 0xAA;
constexpr uint8_t kHostSync2 = 0x55;
constexpr uint8_t kBoxSync1 = 0x55;
constexpr uint8_t kBoxSync2 = 0xAA;

// sync(2) type command channel sub length(u16 LE) | payload | trailer 0x00
constexpr size_t kFrameHeaderBytes = 8;
constexpr size_t kFrameOverheadBytes = 9;
constexpr size_t kTypeOffset = 2;
constexpr size_t kCommandOffset = 3;
constexpr size_t kChannelOffset = 4;
constexpr size_t kSubOffset = 5;
constexpr size_t kLengthOffset = 6;
// The host's frame record holds at most this many payload bytes.
constexpr size_t kMaxPayloadBytes = 122;

// The heartbeat is this single byte alone in a datagram, not a frame.
constexpr uint8_t kHeartbeatByte = 0xFF;

enum class FrameType : uint8_t { Can = 0x01, Lin = 0x05, Device = 0x0F };

enum class DeviceCommand : uint8_t { BaseTime = 0x40, TerminalResistor = 0x30, Version = 0x60 };

enum class ChannelCommand : uint8_t {
    Open = 0x10,
    Close = 0x20,
    Transmit = 0x30,
    Data = 0x40,
    CanFdParameter = 0x60,
    BusLoad = 0x70,
};

enum class CanFdSub : uint8_t { SetParameter = 2, Apply = 5 };

constexpr uint8_t kStatusOk = 0;
constexpr uint8_t kStatusRefused = 1;

// CAN record (the payload of CAN data and transmit frames): id u32, dataLength u8,
// flags u8, reserved u8, frameKind u8, timestamp u64, data[dataLength].
constexpr size_t kCanIdOffset = 0;
constexpr size_t kCanDataLengthOffset = 4;
constexpr size_t kCanFlagsOffset = 5;
constexpr size_t kCanKindOffset = 7;
constexpr size_t kCanTimestampOffset = 8;
constexpr size_t kCanHeaderBytes = 16;
constexpr size_t kCanMaxDataBytes = 64;
// Frames the box saw on the bus carry kind 2; the host queues no other kind.
constexpr uint8_t kFrameKindReceived = 2;

// Bus-load report payload: load in 0.01 %, frames in the last period, error count.
constexpr size_t kBusLoadPayloadBytes = 12;

// Module protocol carried in CAN frames: requests use id 0x001 with
// data[0]=command, data[1..4]=module id LE, data[5]=sub-command, data[6..7]=value;
// the answer's data[0] is command + 0x40.
constexpr uint32_t kModuleRequestId = 0x001;
constexpr uint8_t kModuleAnswerOffset = 0x40;
constexpr uint8_t kModuleCommandSession = 0x10;
constexpr uint8_t kModuleCommandWrite = 0x2E;
constexpr uint8_t kModuleSubEnterConfig = 3;
constexpr uint8_t kModuleSubCompleteConfig = 1;
constexpr uint8_t kModuleSubSamplingFrequency = 2;
constexpr uint8_t kModuleSubClosingWrite = 0xFF;
// A refused module command is answered 7F <command> <reason>.
constexpr uint8_t kModuleNegativeAnswer = 0x7F;
constexpr uint8_t kModuleReasonNotSupported = 0x11;
constexpr uint8_t kModuleReasonWrongMode = 0x22;
constexpr uint8_t kModuleReasonOutOfRange = 0x31;

// Sample frames: eight signed 32-bit LE values in the first 32 of 64 data bytes.
constexpr size_t kSampleDataBytes = 64;
constexpr size_t kSampleValueCount = 8;
constexpr size_t kSampleCounterIndex = 7;
constexpr int32_t kNoValue = -2147483647;

inline uint16_t readU16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t readU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t readU64(const uint8_t* p) {
    return static_cast<uint64_t>(readU32(p)) | (static_cast<uint64_t>(readU32(p + 4)) << 32);
}
inline void writeU16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void writeU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<uint8_t>(v >> (8 * i));
    }
}
inline void writeU64(uint8_t* p, uint64_t v) {
    writeU32(p, static_cast<uint32_t>(v));
    writeU32(p + 4, static_cast<uint32_t>(v >> 32));
}

} // namespace vcisim
