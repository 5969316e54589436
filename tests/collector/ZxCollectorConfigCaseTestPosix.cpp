// Group names of the settings file are matched exactly where Qt's INI files are case
// sensitive (everywhere but Windows).
#include "collector/ZxCollectorConfig.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <fstream>

namespace {

TEST(CollectorConfigGroupCase, LowerCaseGroupIsNotTheCurrentModule) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("collector_config.ini"));
    std::ofstream(path.toStdString()) << "[current]\nstartMessageId=9\n";

    const ZxCollectorConfig config(path);
    EXPECT_EQ(config.modules.at(ZxModuleType::Current).startMessageId, 0x501u);
}

} // namespace
