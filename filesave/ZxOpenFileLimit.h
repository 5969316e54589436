// How many files saving may hold open at once in this process: a quarter of what the
// process may open, so that the host (its own files, sockets, libraries) keeps the rest.
#pragma once

#include <cstddef>

class ZxOpenFileLimit {
public:
    // Never fewer than this, even under a tiny limit: each saving thread needs a file.
    static constexpr std::size_t kMinFiles = 8;
    // Never more: beyond this, keeping files open saves nothing measurable.
    static constexpr std::size_t kMaxFiles = 4096;

    // What the process may open now: the soft RLIMIT_NOFILE on POSIX, the C runtime's
    // stream limit (_getmaxstdio, 512 unless the host raised it) on Windows.
    static std::size_t processLimit();
    // The files saving may hold open for a process limit: a quarter, within
    // kMinFiles..kMaxFiles.
    static std::size_t savingFiles(std::size_t processLimit);
};
