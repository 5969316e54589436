// Paths of 260 characters and more reach the wide file API with the long-path prefix,
// made absolute and normal first; shorter ones stay as they are.
#include "filesave/LongPathWin.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::wstring kLongName(240, L'n'); // a long name with the writer's suffix

TEST(LongPathWin, OnlyPathsPastTheLimitGetThePrefixAfterNormalising) {
    struct Case {
        std::wstring given;
        std::wstring expected;
    };
    const Case cases[] = {
        {L"C:\\data\\CH1\\short.csv", L"C:\\data\\CH1\\short.csv"},
        {L"C:\\measurements\\2026\\run\\CH1\\" + kLongName,
         L"\\\\?\\C:\\measurements\\2026\\run\\CH1\\" + kLongName},
        {L"C:/measurements/2026/x/../run/./CH1/" + kLongName,
         L"\\\\?\\C:\\measurements\\2026\\run\\CH1\\" + kLongName},
        {L"\\\\server\\share\\measurements\\CH1\\" + kLongName,
         L"\\\\?\\UNC\\server\\share\\measurements\\CH1\\" + kLongName},
        {L"\\\\?\\C:\\already\\" + kLongName, L"\\\\?\\C:\\already\\" + kLongName},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LongPathWin::forFileApi(c.given), c.expected);
    }
}

TEST(LongPathWin, RelativePathsAreMadeAbsoluteFirst) {
    const std::wstring relative = L"CH1\\" + kLongName;
    const std::wstring path = LongPathWin::forFileApi(relative);
    EXPECT_EQ(path.compare(0, 4, L"\\\\?\\"), 0);
    EXPECT_EQ(path.substr(path.size() - relative.size()), relative);
}

} // namespace
