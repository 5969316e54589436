// The settings file on disk. None of its values changes how records are read or saved
// (docs/settings.md), so what a host can see of it is that any file, or none, is read
// while the library loads without harm and is left as it was.
#include "collector/ZxCollectorConfig.h"

#include "tests/support/FileText.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

TEST(CollectorConfigFile, AnyFileOrNoneIsReadAndLeftAsItWas) {
    for (const char* ini :
         {static_cast<const char*>(nullptr), "[Settings]\ndbcFileEncoding=UTF-8\nassignId=4660\n",
          "[Voltage]\nfrequency=fast\nstartY=-2.25\n[Unknown]\nstartMessageId=0x201\n"}) {
        SCOPED_TRACE(ini ? ini : "(no file)");
        zxtest::TempDir dir;
        const std::filesystem::path file = dir / "collector_config.ini";
        if (ini != nullptr) {
            zxtest::writeFile(file, ini);
        }
        const ZxCollectorConfig config(QString::fromStdString(file.string()));
        EXPECT_EQ(std::filesystem::exists(file), ini != nullptr);
        if (ini != nullptr) {
            EXPECT_EQ(zxtest::readFile(file), ini);
        }
    }
}

} // namespace
