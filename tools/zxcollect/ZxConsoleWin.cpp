#include "ZxConsole.h"

#include <csignal>
#include <cstdio>
#include <io.h>

namespace {

// The runtime calls this on its own console-control thread and puts the default
// action back before it does, so a second Ctrl-C ends the program.
void onStopSignal(int) {
    ZxConsole::requestStop();
}

} // namespace

bool ZxConsole::outputIsTerminal() {
    return _isatty(_fileno(stdout)) != 0;
}

void ZxConsole::installStopHandler() {
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
    std::signal(SIGBREAK, onStopSignal);
}
