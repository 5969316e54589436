// Channel configuration records held by the configuration store: what the library
// opens a CAN or LIN channel of a box with, and whether it is open.
#pragma once

#include <QString>

#include <array>
#include <cstdint>

struct KvVciChannelConfig {
    virtual ~KvVciChannelConfig() = default;

    bool opened = false;       // set and cleared by the VCI device
    std::uint32_t bitRate = 0; // nominal bit rate in bit/s (LIN: baud rate)
    QString mode;              // "CAN" / "CANFD", or "Master" / "Slave" for LIN
};

struct KvVciCanChannelConfig : KvVciChannelConfig {
    static constexpr std::uint32_t kDefaultBitRate = 500000;
    static constexpr std::uint32_t kDefaultDataBitRate = 2000000;

    KvVciCanChannelConfig();

    std::uint32_t dataBitRate = kDefaultDataBitRate;
    // Sent as CAN FD parameters 0x27, 0x28, 0x29, 0x2A in this order.
    std::array<std::uint8_t, 4> timing{{31, 8, 15, 4}};
    std::uint8_t terminalResistor = 1; // non-zero: on
};

struct KvVciLinChannelConfig : KvVciChannelConfig {
    static constexpr std::uint32_t kDefaultBitRate = 19200;

    KvVciLinChannelConfig();

    QString description; // free text; nothing in the library reads it
};
