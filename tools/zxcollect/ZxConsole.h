// What differs between the platforms' consoles: whether standard output is a terminal
// (live progress line) and how Ctrl-C and termination requests reach the program.
#pragma once

class ZxConsole {
public:
    static bool outputIsTerminal();

    // The first Ctrl-C (or termination request) only sets the stop flag, so the main
    // loop can close files and the device; a second one ends the program at once.
    static void installStopHandler();
    static bool stopRequested();
    // Called from the signal handler: only a lock-free store.
    static void requestStop();
};
