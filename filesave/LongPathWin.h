// A file path as the wide file API takes it beyond Windows' 260-character limit: a full
// path of MAX_PATH characters or more gets the \\?\ prefix (\\?\UNC\ for a share), after
// the system has made it absolute and normal, since no normalising happens behind that
// prefix. Shorter paths stay as they are.
#pragma once

#include <string>

class LongPathWin {
public:
    // The path to open; the path unchanged when the system cannot make it full.
    static std::wstring forFileApi(const std::wstring& path);
};
