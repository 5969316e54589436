#include "ZxConsole.h"

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

void onStopSignal(int) {
    ZxConsole::requestStop();
}

} // namespace

bool ZxConsole::outputIsTerminal() {
    return isatty(fileno(stdout)) != 0;
}

void ZxConsole::installStopHandler() {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    // The default action comes back after the first signal: a second Ctrl-C ends a
    // program that hangs in its shutdown.
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A live page closed in the middle of a write must not end the collection.
    std::signal(SIGPIPE, SIG_IGN);
}
