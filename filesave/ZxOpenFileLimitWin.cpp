#include "filesave/ZxOpenFileLimit.h"

#include <stdio.h>

// Every saved file is a C runtime stream (SharedOutputFile), so the stream limit is
// the one that counts; the host shares it.
std::size_t ZxOpenFileLimit::processLimit() {
    const int streams = ::_getmaxstdio();
    return streams > 0 ? static_cast<std::size_t>(streams) : 512;
}
