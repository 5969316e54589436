#include "common/CrashHook.h"

#include <atomic>
#include <csignal>
#include <mutex>

#include <pthread.h>
#include <unistd.h>

namespace Common {

namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr int kSignalCount = sizeof(kFatalSignals) / sizeof(kFatalSignals[0]);

std::mutex hookMutex; // guards previousActions and installed against concurrent install/uninstall
struct sigaction previousActions[kSignalCount];
bool installed = false;
// Read by the signal handler, so it is an atomic rather than under hookMutex.
std::atomic<CrashHook::Callback> callback{nullptr};

// The shutdown run by the handler may wait for a lock the failing thread holds; after
// this long the process ends by its signal all the same.
constexpr unsigned kHandlerBoundSeconds = 2;
std::atomic<int> failingSignal{0};

// Makes handler (or SIG_DFL) take signal and lets the signal through on this thread,
// wherever its signal mask stood.
void handleAndUnblock(int signal, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    sigset_t unblock;
    sigemptyset(&unblock);
    sigaddset(&unblock, signal);
    pthread_sigmask(SIG_UNBLOCK, &unblock, nullptr);
}

void endByDefaultAction(int signal) {
    handleAndUnblock(signal, SIG_DFL);
    raise(signal);
    _exit(128 + signal); // not reached: the default action of every fatal signal ends the process
}

void onHandlerTooLong(int) {
    endByDefaultAction(failingSignal.load());
}

// SIGALRM after the bound.
void armHandlerBound(int signal) {
    failingSignal.store(signal);
    handleAndUnblock(SIGALRM, onHandlerTooLong);
    alarm(kHandlerBoundSeconds);
}

int indexOf(int signal) {
    for (int i = 0; i < kSignalCount; ++i) {
        if (kFatalSignals[i] == signal) {
            return i;
        }
    }
    return -1;
}

void onFatalSignal(int signal) {
    if (const CrashHook::Callback run = callback.load()) {
        armHandlerBound(signal);
        run();
        alarm(0);
    }
    // Put back what was there before (a previous handler is chained this way) and
    // send the signal again. It stays blocked until this handler returns; then it ends
    // the process. A fault caused by an instruction repeats on return anyway.
    const int index = indexOf(signal);
    struct sigaction restore {};
    if (index >= 0 && previousActions[index].sa_handler != SIG_IGN) {
        restore = previousActions[index];
    } else {
        // An ignored fatal signal would return to the faulting instruction forever.
        restore.sa_handler = SIG_DFL;
        sigemptyset(&restore.sa_mask);
    }
    sigaction(signal, &restore, nullptr);
    raise(signal);
}

} // namespace

void CrashHook::install(Callback onCrash) {
    std::lock_guard<std::mutex> lock(hookMutex);
    callback.store(onCrash);
    if (installed) {
        return;
    }
    struct sigaction action {};
    action.sa_handler = onFatalSignal;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < kSignalCount; ++i) {
        sigaction(kFatalSignals[i], &action, &previousActions[i]);
    }
    installed = true;
}

void CrashHook::uninstall() {
    std::lock_guard<std::mutex> lock(hookMutex);
    if (!installed) {
        return;
    }
    for (int i = 0; i < kSignalCount; ++i) {
        struct sigaction current {};
        sigaction(kFatalSignals[i], nullptr, &current);
        // Someone who replaced our handler since keeps theirs.
        if (!(current.sa_flags & SA_SIGINFO) && current.sa_handler == onFatalSignal) {
            sigaction(kFatalSignals[i], &previousActions[i], nullptr);
        }
    }
    installed = false;
    callback.store(nullptr);
}

} // namespace Common
