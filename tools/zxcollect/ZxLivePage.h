// The live page's files, embedded into the program at build time (the generated
// ZxLivePageFiles.cpp): the page, its script and stylesheet, and the charting library.
#pragma once

#include <cstddef>
#include <string>

struct ZxLivePageFile {
    const char* path;        // "/index.html"
    const char* contentType; // text types are UTF-8
    const unsigned char* data;
    std::size_t size;
};

// The file served at path, or nullptr: nothing outside the embedded files is ever served.
const ZxLivePageFile* zxLivePageFile(const std::string& path);
