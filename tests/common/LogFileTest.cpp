// The log's file: a rotation whose rename fails (a viewer holding the file without
// delete sharing; here a folder in the way of path.1) never empties the log.
#include "common/LogFile.h"
#include "tests/support/FileText.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

TEST(LogFileRotation, FailedRenameGoesOnInTheSameFileAndSaysSoOnce) {
    zxtest::TempDir folder;
    const std::string path = (folder / "zx.log").string();
    // path.1 cannot be removed or replaced: a folder with a file inside.
    std::filesystem::create_directories(folder / "zx.log.1");
    std::ofstream(folder / "zx.log.1" / "keep") << "x";

    Common::LogFile file;
    file.open(path, 100, 1);
    const std::string line(40, 'a');
    std::vector<std::string> written;
    for (int i = 0; i < 10; ++i) { // 10 lines of 44 bytes: several failed rotations
        written.push_back(line + std::to_string(1000 + i));
        const std::string text = written.back() + "\n";
        ASSERT_TRUE(file.write(text.data(), text.size()));
    }
    file.close();

    std::vector<std::string> kept;
    int notes = 0;
    for (const std::string& got : zxtest::readLines(path)) {
        if (got.rfind("Log rotation failed: ", 0) == 0) {
            ++notes;
        } else {
            kept.push_back(got);
        }
    }
    EXPECT_EQ(kept, written);
    EXPECT_EQ(notes, 1);
}

} // namespace
