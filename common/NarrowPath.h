// The narrow texts a host passes (a log path, a save root folder, names) as a file-system path.
// Hosts write them in the platform's narrow encoding: the active code page on Windows
// (NarrowPathWin.cpp), plain bytes on POSIX (NarrowPathPosix.cpp).
#pragma once

#include <filesystem>
#include <string>

class NarrowPath {
public:
    // Never throws: a text that cannot be converted gives an empty path, which no
    // directory or file can be created under, so the writer reports it as a failed
    // directory or open instead of ending on an exception.
    static std::filesystem::path toFileSystemPath(const std::string& narrow) noexcept;
};
