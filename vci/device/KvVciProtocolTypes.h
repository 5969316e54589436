// Records of the VCI wire protocol: one frame as a record, and the CAN and LIN frame
// records that CAN/LIN data frames carry as payload. Multi-byte fields are
// little-endian on the wire; the records are copied byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>

// Frame type codes (byte 2 of a frame).
enum class KvVciFrameType : std::uint8_t {
    Can = 0x01,
    Lin = 0x05,
    Device = 0x0F,
};

// Frame command codes (byte 3 of a frame); the same code means different things for
// different frame types.
enum class KvVciCommand : std::uint8_t {
    BaseTime = 0x40,         // type Device: read the box's base time
    ChannelData = 0x40,      // type Can/Lin, box to host: one received frame
    OpenChannel = 0x10,      // type Can
    CloseChannel = 0x20,     // type Can or Lin
    TerminalResistor = 0x30, // type Device
    Transmit = 0x30,         // type Can, host to box: send one CAN frame
    FirmwareVersion = 0x60,  // type Device
    CanFdParameter = 0x60,   // type Can; sub-code 2 sets one parameter, 5 applies them
    BusLoad = 0x70,          // type Can, box to host
};

constexpr std::uint8_t kVciHostSync1 = 0xAA; // host to box: AA 55
constexpr std::uint8_t kVciHostSync2 = 0x55;
constexpr std::uint8_t kVciBoxSync1 = 0x55; // box to host: 55 AA
constexpr std::uint8_t kVciBoxSync2 = 0xAA;
constexpr std::size_t kVciFrameOverhead = 9;   // sync 2, header 4, length 2, trailer 1
constexpr std::size_t kVciMaxPayload = 122;    // payload bytes a record holds
constexpr std::uint16_t kVciServerPort = 8000; // every box listens here
constexpr int kVciRequestTimeoutMs = 500;      // the box answers within 500 ms

#pragma pack(push, 1)
// One VCI frame from its type byte up to, not including, its trailer.
struct _KvVciProtocolData {
    std::uint8_t type;
    std::uint8_t command;
    std::uint8_t channel;
    std::uint8_t subCode;
    std::uint16_t length;
    std::uint8_t payload[kVciMaxPayload];
};

// One CAN or CAN FD frame; also the payload of CAN data frames in both directions.
struct _KvVciCanDataType {
    std::uint32_t id;
    std::uint8_t dataLength; // 0..64
    std::uint8_t flags;      // bit 0 set in frames the collector transmits
    std::uint8_t reserved;
    std::uint8_t frameKind;  // only kind 2 (a received bus frame) reaches the channel buffers
    std::uint64_t timestamp; // box clock, 0.1 us ticks
    std::uint8_t data[64];
};

// One LIN frame: byte 0 the identifier, bytes 16..23 up to 8 data bytes.
struct _KvVciLinDataType {
    std::uint8_t id;
    std::uint8_t header[15];
    std::uint8_t data[8];
};
#pragma pack(pop)

static_assert(sizeof(_KvVciProtocolData) == 128, "frame record is 6 header bytes and 122 payload bytes");
static_assert(offsetof(_KvVciProtocolData, length) == 4, "length follows the four code bytes");
static_assert(offsetof(_KvVciProtocolData, payload) == 6, "payload follows the length");
static_assert(sizeof(_KvVciCanDataType) == 80, "CAN record is 80 bytes on the wire");
static_assert(offsetof(_KvVciCanDataType, dataLength) == 4, "CAN record layout");
static_assert(offsetof(_KvVciCanDataType, frameKind) == 7, "CAN record layout");
static_assert(offsetof(_KvVciCanDataType, timestamp) == 8, "CAN record layout");
static_assert(offsetof(_KvVciCanDataType, data) == 16, "CAN record layout");
static_assert(sizeof(_KvVciLinDataType) == 24, "LIN record is 24 bytes on the wire");

constexpr std::uint8_t kVciCanFrameKindReceived = 2;
constexpr std::size_t kVciCanHeaderBytes = 16; // CAN record bytes before the data

// Sub-codes of the CAN FD parameter command (type Can, command CanFdParameter).
constexpr std::uint8_t kVciSubCodeNone = 0x00;
constexpr std::uint8_t kVciSubCodeSetParameter = 0x02;
constexpr std::uint8_t kVciSubCodeApplyParameters = 0x05;

// CAN FD parameter codes, the first payload byte of a set-parameter request.
enum class KvVciCanFdParameter : std::uint8_t {
    NominalBitRate = 0x01,
    DataBitRate = 0x26,
    NominalTiming0 = 0x27,
    NominalTiming1 = 0x28,
    DataTiming0 = 0x29,
    DataTiming1 = 0x2A,
};

// Payload of the version and base-time requests: "read".
constexpr std::uint8_t kVciReadRequestPayload = 0x01;
// Payload lengths of the device replies the library reads.
constexpr std::uint16_t kVciFirmwareReplyLength = 4;
constexpr std::uint16_t kVciBaseTimeReplyLength = 8;

// Payload sizes the box may send for received bus frames and bus-load reports.
constexpr std::uint16_t kVciCanDataMinLength = 16;
constexpr std::uint16_t kVciCanDataMaxLength = 80;
constexpr std::uint16_t kVciLinDataMinLength = 16;
constexpr std::uint16_t kVciLinDataMaxLength = 24;
constexpr std::uint16_t kVciBusLoadMinLength = 12;
constexpr std::uint8_t kVciCanMaxDataLength = 64; // data bytes of a CAN FD frame

// Channel family selectors of store lookups and periodic-sender clears; the same
// values as the frame types.
constexpr std::uint32_t kVciProtocolIdCan = 1;
constexpr std::uint32_t kVciProtocolIdLin = 5;
