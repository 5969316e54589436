// The collector's process-wide settings: the module kinds with their default message
// identifiers and sampling frequency. Read once from an INI file at first use.
#pragma once

#include <QString>

#include <cstdint>
#include <map>

enum class ZxModuleType : std::uint8_t {
    Temperature = 1,
    Voltage = 2,
    Current = 3,
    Frequency = 4,
};

// The group name of a kind in the settings file; "Unknown" for any other value.
QString moduleTypeName(ZxModuleType type);

struct ZxModuleConfig {
    std::uint32_t startMessageId = 0;
    std::uint16_t frequency = 0;
    double startX = 0.0;
    double startY = 0.0;
    double endX = 0.0;
    double endY = 0.0;
};

class ZxCollectorConfig {
public:
    // Relative to the process's current directory when the library loads.
    static constexpr const char* kDefaultSettingsPath = "config/collector/collector_config.ini";

    // The one object, loaded from kDefaultSettingsPath on the first call.
    static ZxCollectorConfig& instance();

    // Loads from the given INI file (a missing file gives every default).
    explicit ZxCollectorConfig(const QString& path);

    ZxCollectorConfig(const ZxCollectorConfig&) = delete;
    ZxCollectorConfig& operator=(const ZxCollectorConfig&) = delete;

    // Loaded values, read directly.
    QString settingsPath;
    QString dbcFileEncoding;
    std::uint32_t assignId = 0;
    std::uint8_t canType = 0;
    std::map<ZxModuleType, ZxModuleConfig> modules;
    std::uint32_t discoveryTimeout = 3000;

private:
    void load();
};
