#include "collector/ZxCollectorConfig.h"

#include <QObject>
#include <QSettings>
#include <QVariant>

namespace {

constexpr std::uint32_t kDefaultAssignId = 291; // 0x123
constexpr std::uint32_t kDefaultDiscoveryTimeoutMs = 3000;
constexpr std::uint16_t kDefaultFrequencyHz = 100;
constexpr double kDefaultStart = 0.0;
constexpr double kDefaultEnd = 100.0;

// Temperature modules start at 0x101, voltage 0x301, current 0x501, frequency 0x701.
std::uint32_t defaultStartMessageId(ZxModuleType type) {
    return static_cast<std::uint32_t>(type) * 512u - 255u;
}

} // namespace

QString moduleTypeName(ZxModuleType type) {
    switch (type) {
    case ZxModuleType::Temperature:
        return QStringLiteral("Temperature");
    case ZxModuleType::Voltage:
        return QStringLiteral("Voltage");
    case ZxModuleType::Current:
        return QStringLiteral("Current");
    case ZxModuleType::Frequency:
        return QStringLiteral("Frequency");
    }
    return QStringLiteral("Unknown");
}

ZxCollectorConfig& ZxCollectorConfig::instance() {
    static ZxCollectorConfig config(QString::fromLatin1(kDefaultSettingsPath));
    return config;
}

ZxCollectorConfig::ZxCollectorConfig(const QString& path) : settingsPath(path) {
    for (auto type :
         {ZxModuleType::Temperature, ZxModuleType::Voltage, ZxModuleType::Current, ZxModuleType::Frequency}) {
        modules.emplace(type, ZxModuleConfig{});
    }
    load();
}

void ZxCollectorConfig::load() {
    // Read only: QSettings writes nothing back unless a value is set.
    QSettings settings(settingsPath, QSettings::IniFormat);

    // Values that do not convert (hexadecimal text, words) become 0, as Qt's
    // conversions give; narrow fields keep the low bits.
    settings.beginGroup(QStringLiteral("Settings"));
    dbcFileEncoding = settings.value(QStringLiteral("dbcFileEncoding"), QStringLiteral("ASCII")).toString();
    assignId = settings.value(QStringLiteral("assignId"), kDefaultAssignId).toUInt();
    canType = static_cast<std::uint8_t>(settings.value(QStringLiteral("canType"), 0u).toUInt());
    discoveryTimeout =
        settings.value(QStringLiteral("discoveryTimeout"), kDefaultDiscoveryTimeoutMs).toUInt();
    settings.endGroup();

    for (auto& [type, module] : modules) {
        settings.beginGroup(QObject::tr(moduleTypeName(type).toLatin1().constData()));
        module.startMessageId =
            settings.value(QStringLiteral("startMessageId"), defaultStartMessageId(type)).toUInt();
        module.frequency = static_cast<std::uint16_t>(
            settings.value(QStringLiteral("frequency"), static_cast<unsigned>(kDefaultFrequencyHz)).toUInt());
        module.startY = settings.value(QStringLiteral("startY"), kDefaultStart).toDouble();
        module.startX = settings.value(QStringLiteral("startX"), kDefaultStart).toDouble();
        module.endY = settings.value(QStringLiteral("endY"), kDefaultEnd).toDouble();
        module.endX = settings.value(QStringLiteral("endX"), kDefaultEnd).toDouble();
        settings.endGroup();
    }
}
