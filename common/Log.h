// The log of the library: levels 0 (debug detail) to 3 (error), one rotating file.
// Lines logged before the log starts are kept in a bounded memory backlog and
// written first when it starts, so a user sees the library's load in the file.
// Line: "2026-03-14 09:30:05.123456 [I] [<thread id>] text" (D, I, W, E), flushed at once.
// The backlog keeps the first 1000 lines (256 KiB at most; minLevel applies to them too);
// a line after them says how many later ones were dropped.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace Common {

// Configures the log file. minLevel: lowest level written (0..3; below 0 counts as 0,
// above 3 as 3). fileSizeMB: size of one file in MiB before it rotates (0 or less: 10).
// fileCount: rotated files kept besides the current one, path.1 .. path.N (0 or less: 5).
// Takes effect at the next logStart. Throws std::invalid_argument for an empty path.
void logInit(const std::string& path, int minLevel, int fileSizeMB, int fileCount);

// Opens the configured file (appending) and writes the backlog to it; echoToStderr
// copies every line to standard error too. Throws std::runtime_error when the file
// cannot be opened. A second start reopens the file with the newest configuration.
// Missing parent folders are created. When the open fails a running log is off; before
// the first start the backlog keeps collecting for a later start.
void logStart(bool echoToStderr);

// Flushes and closes the file; nothing is kept (or formatted) until the next start.
// Harmless before any start (a backlog collected so far waits for the start) and when
// called twice.
void logStop();

// Writes one line naming the software, its version, author and platform, at level 1
// whatever the minimum level (it says what wrote the file); nothing when the log is off.
void logSoftwareInfo(const std::string& name, const std::string& version, const std::string& author,
                     const std::string& platform);

// True when a message of this level would be kept. Lock-free: one atomic load.
// Before the first start: levels 1 and up (for the backlog); after a start: minLevel
// and up; after a stop: none; and the line hook's level and up while one is set.
bool shouldLogLevel(int level);

// Logs one finished message at the given level (time, level and thread are added).
// Never throws: a line that cannot be written is dropped.
void logRawString(int level, std::string&& text);

// Dumps raw traffic at level 0 as "label AA 55 ..." (the first 4096 bytes, then the
// length). Costs one branch when level 0 is off, since it is called for every datagram.
void logDebugHex(std::string&& label, const void* data, std::uint64_t length);

// Receives every line the log keeps at minLevel and up, as written to the file
// ("... [W] [<thread id>] text\n"), whether a file is open or not; lines before the
// first start reach it as they are logged. Called under the log's lock, so it must not
// log itself. An empty hook removes it; once this returns, no call of the old hook runs.
// The tests read the log through it.
using LogLineHook = std::function<void(std::string_view line)>;
void setLogLineHook(LogLineHook hook, int minLevel = 0);

} // namespace Common
