// Settings loading from real INI files on disk.
#include "collector/ZxCollectorConfig.h"

#include "tests/support/FileText.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

using Module = ZxModuleType;

// Every loaded value under "<group>/<key>", as the settings file names it.
std::map<std::string, double> settingsOf(const ZxCollectorConfig& config) {
    std::map<std::string, double> all = {{"Settings/assignId", config.assignId},
                                         {"Settings/canType", config.canType},
                                         {"Settings/discoveryTimeout", config.discoveryTimeout}};
    for (const auto& [type, module] : config.modules) {
        const std::string group = moduleTypeName(type).toStdString() + "/";
        all[group + "startMessageId"] = module.startMessageId;
        all[group + "frequency"] = module.frequency;
        all[group + "startX"] = module.startX;
        all[group + "startY"] = module.startY;
        all[group + "endX"] = module.endX;
        all[group + "endY"] = module.endY;
    }
    return all;
}

// Absent keys give defaults, values are read as decimal (other text gives 0), narrow
// fields keep their low bits, and groups are found by exact name.
TEST(CollectorConfigFile, EachSettingFromTheFileOrItsDefault) {
    struct Case {
        const char* ini; // nullptr: no file
        const char* key;
        double expected;
    };
    const Case cases[] = {
        {nullptr, "Settings/assignId", 291},
        {"[Settings]\nassignId=4660\n", "Settings/assignId", 4660},
        {"[Settings]\ncanType=257\n", "Settings/canType", 1},
        {"[Settings]\ndiscoveryTimeout=1500\n", "Settings/discoveryTimeout", 1500},
        {"[Temperature]\nstartMessageId=513\n", "Temperature/startMessageId", 0x201},
        {"[Temperature]\nstartMessageId=0x201\n", "Temperature/startMessageId", 0},
        {"[Temperature]\nstartMessageId=513\n", "Voltage/startMessageId", 0x301},
        {"[Voltage]\nfrequency=70000\n", "Voltage/frequency", 4464},
        {"[Voltage]\nfrequency=fast\n", "Voltage/frequency", 0},
        {"[Current]\nstartY=-2.25\n", "Current/startY", -2.25},
        {"[Current]\nendX=far\n", "Current/endX", 0.0},
        {"[Unknown]\nstartMessageId=9\n[Frequency]\nstartMessageId=1000\n", "Frequency/startMessageId", 1000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.ini ? c.ini : "(no file)") + c.key);
        zxtest::TempDir dir;
        if (c.ini != nullptr) {
            zxtest::writeFile(dir / "collector_config.ini", c.ini);
        }
        const ZxCollectorConfig config(QString::fromStdString((dir / "collector_config.ini").string()));
        EXPECT_EQ(settingsOf(config).at(c.key), c.expected);
        EXPECT_EQ(settingsOf(config).size(), 27u); // the four kinds, whatever the file holds
        EXPECT_EQ(config.dbcFileEncoding, QStringLiteral("ASCII"));
    }
    zxtest::TempDir dir;
    zxtest::writeFile(dir / "collector_config.ini", "[Settings]\ndbcFileEncoding=UTF-8\n");
    EXPECT_EQ(
        ZxCollectorConfig(QString::fromStdString((dir / "collector_config.ini").string())).dbcFileEncoding,
        QStringLiteral("UTF-8"));
    EXPECT_EQ(zxtest::readFile(dir / "collector_config.ini"), "[Settings]\ndbcFileEncoding=UTF-8\n");
}

} // namespace
