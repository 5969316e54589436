// Group names of the settings file are matched exactly where Qt's INI files are case
// sensitive (everywhere but Windows).
#include "collector/ZxCollectorConfig.h"

#include "tests/support/FileText.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

namespace {

TEST(CollectorConfigGroupCase, LowerCaseGroupIsNotTheCurrentModule) {
    zxtest::TempDir dir;
    zxtest::writeFile(dir / "collector_config.ini", "[current]\nstartMessageId=9\n");
    const ZxCollectorConfig config(QString::fromStdString((dir / "collector_config.ini").string()));
    EXPECT_EQ(config.modules.at(ZxModuleType::Current).startMessageId, 0x501u);
}

} // namespace
