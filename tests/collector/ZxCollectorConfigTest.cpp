// Settings loading from real INI files on disk.
#include "collector/ZxCollectorConfig.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <fstream>
#include <string>

namespace {

class CollectorConfigFile : public ::testing::Test {
protected:
    QString write(const std::string& text) {
        const QString path = dir_.filePath(QStringLiteral("collector_config.ini"));
        std::ofstream(path.toStdString()) << text;
        return path;
    }

    QTemporaryDir dir_;
};

TEST_F(CollectorConfigFile, MissingFileGivesEveryDefault) {
    const ZxCollectorConfig config(dir_.filePath(QStringLiteral("absent.ini")));

    EXPECT_EQ(config.dbcFileEncoding, QStringLiteral("ASCII"));
    EXPECT_EQ(config.assignId, 291u);
    EXPECT_EQ(config.canType, 0u);
    EXPECT_EQ(config.discoveryTimeout, 3000u);
    ASSERT_EQ(config.modules.size(), 4u);
    const std::uint32_t expectedIds[] = {0x101, 0x301, 0x501, 0x701};
    int kind = 0;
    for (const auto& [type, module] : config.modules) {
        EXPECT_EQ(static_cast<int>(type), kind + 1);
        EXPECT_EQ(module.startMessageId, expectedIds[kind]);
        EXPECT_EQ(module.frequency, 100u);
        EXPECT_EQ(module.startX, 0.0);
        EXPECT_EQ(module.startY, 0.0);
        EXPECT_EQ(module.endX, 100.0);
        EXPECT_EQ(module.endY, 100.0);
        ++kind;
    }
    EXPECT_FALSE(QFile::exists(config.settingsPath)); // loading never writes the file
}

TEST_F(CollectorConfigFile, DecimalValuesAreReadAndNarrowFieldsKeepLowBits) {
    const ZxCollectorConfig config(write("[Settings]\n"
                                         "dbcFileEncoding=UTF-8\n"
                                         "assignId=4660\n"
                                         "canType=257\n"
                                         "discoveryTimeout=1500\n"
                                         "[Temperature]\n"
                                         "startMessageId=513\n"
                                         "frequency=70000\n"
                                         "startX=1.5\n"
                                         "startY=-2.25\n"
                                         "endX=50\n"
                                         "endY=75.5\n"));

    EXPECT_EQ(config.dbcFileEncoding, QStringLiteral("UTF-8"));
    EXPECT_EQ(config.assignId, 4660u);
    EXPECT_EQ(config.canType, 1u); // 257 keeps its low 8 bits
    EXPECT_EQ(config.discoveryTimeout, 1500u);
    const ZxModuleConfig& temperature = config.modules.at(ZxModuleType::Temperature);
    EXPECT_EQ(temperature.startMessageId, 0x201u);
    EXPECT_EQ(temperature.frequency, 4464u); // 70000 keeps its low 16 bits
    EXPECT_EQ(temperature.startX, 1.5);
    EXPECT_EQ(temperature.startY, -2.25);
    EXPECT_EQ(temperature.endX, 50.0);
    EXPECT_EQ(temperature.endY, 75.5);
    // Kinds absent from the file keep their defaults.
    EXPECT_EQ(config.modules.at(ZxModuleType::Voltage).startMessageId, 0x301u);
    EXPECT_EQ(config.modules.at(ZxModuleType::Voltage).frequency, 100u);
}

TEST_F(CollectorConfigFile, TextThatIsNotDecimalGivesZero) {
    const ZxCollectorConfig config(write("[Settings]\n"
                                         "assignId=0x123\n"
                                         "[Voltage]\n"
                                         "startMessageId=0x201\n"
                                         "frequency=fast\n"
                                         "endX=far\n"));

    EXPECT_EQ(config.assignId, 0u);
    const ZxModuleConfig& voltage = config.modules.at(ZxModuleType::Voltage);
    EXPECT_EQ(voltage.startMessageId, 0u);
    EXPECT_EQ(voltage.frequency, 0u);
    EXPECT_EQ(voltage.endX, 0.0);
    EXPECT_EQ(voltage.endY, 100.0);
}

TEST_F(CollectorConfigFile, GroupsAreLookedUpByExactName) {
    // (Group names are case-insensitive in Qt's INI files on Windows; the POSIX
    // tests check that "[current]" is not the Current group.)
    const ZxCollectorConfig config(write("[Unknown]\n"
                                         "startMessageId=9\n"
                                         "[Frequency]\n"
                                         "startMessageId=1000\n"));

    EXPECT_EQ(config.modules.size(), 4u);
    EXPECT_EQ(config.modules.at(ZxModuleType::Frequency).startMessageId, 1000u);
}

TEST(CollectorModuleType, NamesOfTheFourKindsAndOthers) {
    EXPECT_EQ(moduleTypeName(ZxModuleType::Temperature), QStringLiteral("Temperature"));
    EXPECT_EQ(moduleTypeName(ZxModuleType::Frequency), QStringLiteral("Frequency"));
    EXPECT_EQ(moduleTypeName(static_cast<ZxModuleType>(9)), QStringLiteral("Unknown"));
}

} // namespace
