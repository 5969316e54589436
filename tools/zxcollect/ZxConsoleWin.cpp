#include "ZxConsole.h"

#include <windows.h>

#include <cstdio>
#include <io.h>

namespace {

// Windows ends the process when the handler returns from a close, logoff or shutdown
// event (5 s after a closed console window at the latest): meanwhile the collector stops
// saving and closes the box in its main loop, and its exit ends this thread too.
constexpr DWORD kClosingGraceMs = 4500;

// Runs on a thread of its own that the system starts for each console event.
BOOL WINAPI onConsoleEvent(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        if (ZxConsole::stopRequested()) {
            return FALSE; // a second Ctrl-C ends the program at once
        }
        ZxConsole::requestStop();
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        ZxConsole::requestStop();
        ::Sleep(kClosingGraceMs);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

bool ZxConsole::outputIsTerminal() {
    return _isatty(_fileno(stdout)) != 0;
}

void ZxConsole::installStopHandler() {
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}
