// A log path outside ASCII, given in the active code page as every narrow text of a
// Windows host: the folder and the file get exactly that name.
#include "common/LeanWindowsWin.h"
#include "common/LogFile.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

std::string toActiveCodePage(const std::wstring& wide) {
    const int length = ::WideCharToMultiByte(CP_ACP, 0, wide.c_str(), static_cast<int>(wide.size()), nullptr,
                                             0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, wide.c_str(), static_cast<int>(wide.size()), &narrow[0], length, nullptr,
                          nullptr);
    return narrow;
}

TEST(LogFileWin, FolderOutsideAsciiInTheActiveCodePage) {
    zxtest::TempDir folder;
    const std::wstring name = L"Logs \u20ac"; // the euro sign: 0x80 in code page 1252, not Latin-1
    const std::wstring widePath = (folder.path() / name / L"zx.log").wstring();
    const std::string narrow = toActiveCodePage(widePath);
    ASSERT_EQ(narrow.find('?'), std::string::npos) << "the active code page has no such characters";

    Common::LogFile file;
    ASSERT_NO_THROW(file.open(narrow, 1024, 1));
    const std::string line = "one line\n";
    EXPECT_TRUE(file.write(line.data(), line.size()));
    file.close();
    EXPECT_EQ(std::filesystem::file_size(folder.path() / name / L"zx.log"), line.size());
}

} // namespace
