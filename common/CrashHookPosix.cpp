#include "common/CrashHook.h"

#include <atomic>
#include <csignal>
#include <cstdint>
#include <mutex>

#include <link.h>
#include <pthread.h>
#include <ucontext.h>
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

// The executable segments of the object this hook is built into (the library), found
// at install: the handler must not ask the loader, whose lock the failing thread may hold.
struct CodeRange {
    std::uintptr_t begin;
    std::uintptr_t end;
};
constexpr int kMaxCodeRanges = 4;
CodeRange ownCode[kMaxCodeRanges];
int ownCodeCount = 0;

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

// A handler of the host's own: SIG_DFL and SIG_IGN are the kernel's, and a fatal signal
// ignored or left to its default ends the process.
bool isHostHandler(const struct sigaction& action) {
    if (action.sa_flags & SA_SIGINFO) {
        return action.sa_sigaction != nullptr;
    }
    return action.sa_handler != SIG_DFL && action.sa_handler != SIG_IGN;
}

int collectOwnCode(dl_phdr_info* object, std::size_t, void* inside) {
    const auto address = reinterpret_cast<std::uintptr_t>(inside);
    CodeRange ranges[kMaxCodeRanges];
    int count = 0;
    bool found = false;
    for (int i = 0; i < object->dlpi_phnum; ++i) {
        const ElfW(Phdr)& segment = object->dlpi_phdr[i];
        if (segment.p_type != PT_LOAD || !(segment.p_flags & PF_X) || count == kMaxCodeRanges) {
            continue;
        }
        const std::uintptr_t begin = object->dlpi_addr + segment.p_vaddr;
        ranges[count++] = {begin, begin + segment.p_memsz};
        found = found || (address >= begin && address < begin + segment.p_memsz);
    }
    if (!found) {
        return 0;
    }
    for (int i = 0; i < count; ++i) {
        ownCode[i] = ranges[i];
    }
    ownCodeCount = count;
    return 1;
}

// The instruction that faulted, 0 where this platform's context is not known here.
std::uintptr_t faultingInstruction(void* context) {
    const auto* machine = &static_cast<ucontext_t*>(context)->uc_mcontext;
#if defined(__x86_64__)
    return static_cast<std::uintptr_t>(machine->gregs[REG_RIP]);
#elif defined(__i386__)
    return static_cast<std::uintptr_t>(machine->gregs[REG_EIP]);
#elif defined(__aarch64__)
    return static_cast<std::uintptr_t>(machine->pc);
#else
    (void)machine;
    return 0;
#endif
}

// Whether the process ends whatever a host's handler does: an abort, or a fault in the
// library's own code (runtimes recover only from faults in their own code).
bool endsTheProcess(int signal, const siginfo_t* info, void* context) {
    if (signal == SIGABRT) {
        return true;
    }
    if (info == nullptr || info->si_code <= 0 || context == nullptr) {
        return false; // sent by kill or raise: the sender knows who handles it
    }
    const std::uintptr_t instruction = faultingInstruction(context);
    for (int i = 0; i < ownCodeCount; ++i) {
        if (instruction >= ownCode[i].begin && instruction < ownCode[i].end) {
            return true;
        }
    }
    return false;
}

void runShutdown(int signal) {
    if (const CrashHook::Callback run = callback.load()) {
        armHandlerBound(signal);
        run();
        alarm(0);
    }
}

// Runs the host's handler as the kernel would have run it in our place: with its
// arguments, its mask added and, if it asked for it, reset to the default afterwards.
// Whatever it changes in the context (a runtime moving the faulting thread on to its
// exception code) is what the kernel resumes when our handler returns.
void handOn(int index, int signal, siginfo_t* info, void* context) {
    const struct sigaction previous = previousActions[index];
    if (previous.sa_flags & SA_RESETHAND) {
        previousActions[index].sa_handler = SIG_DFL;
        previousActions[index].sa_flags = 0;
    }
    // The signal itself is blocked already, as it is in every handler not asking otherwise.
    sigset_t before;
    pthread_sigmask(SIG_BLOCK, &previous.sa_mask, &before);
    if (previous.sa_flags & SA_NODEFER) {
        sigset_t unblock;
        sigemptyset(&unblock);
        sigaddset(&unblock, signal);
        pthread_sigmask(SIG_UNBLOCK, &unblock, nullptr);
    }
    if (previous.sa_flags & SA_SIGINFO) {
        previous.sa_sigaction(signal, info, context);
    } else {
        previous.sa_handler(signal);
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

// Runs the shutdown, then lets the process end by the signal: the default action is
// put back and the signal sent again. It stays blocked until this handler returns; a
// fault caused by an instruction repeats on return anyway.
void shutDownAndEnd(int signal) {
    runShutdown(signal);
    struct sigaction restore {};
    restore.sa_handler = SIG_DFL;
    sigemptyset(&restore.sa_mask);
    sigaction(signal, &restore, nullptr);
    raise(signal);
}

// The JVM, .NET/mono and Go install handlers before the library loads and use them for
// ordinary null references: a fault in their code is theirs to judge. Such a handler
// recovers (the process goes on, and so does the library) or ends the process, mostly
// by aborting, which comes back here as SIGABRT. The shutdown runs only when the signal
// ends the process; the host's handler then still reports it its own way.
void onFatalSignal(int signal, siginfo_t* info, void* context) {
    const int index = indexOf(signal);
    if (index >= 0 && isHostHandler(previousActions[index])) {
        if (endsTheProcess(signal, info, context)) {
            runShutdown(signal);
        }
        handOn(index, signal, info, context);
        return;
    }
    shutDownAndEnd(signal);
}

bool isOurs(const struct sigaction& action) {
    return (action.sa_flags & SA_SIGINFO) && action.sa_sigaction == onFatalSignal;
}

} // namespace

void CrashHook::install(Callback onCrash) {
    std::lock_guard<std::mutex> lock(hookMutex);
    callback.store(onCrash);
    if (installed) {
        return;
    }
    dl_iterate_phdr(collectOwnCode, reinterpret_cast<void*>(&onFatalSignal));
    for (int i = 0; i < kSignalCount; ++i) {
        sigaction(kFatalSignals[i], nullptr, &previousActions[i]);
        struct sigaction action {};
        action.sa_sigaction = onFatalSignal;
        // A runtime handling stack overflows needs its handler on its alternate stack;
        // the shutdown needs a full one, so only a host that asked for it gets it.
        action.sa_flags = SA_SIGINFO | (previousActions[i].sa_flags & (SA_ONSTACK | SA_RESTART));
        sigemptyset(&action.sa_mask);
        sigaction(kFatalSignals[i], &action, nullptr);
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
        if (isOurs(current)) {
            sigaction(kFatalSignals[i], &previousActions[i], nullptr);
        }
    }
    installed = false;
    callback.store(nullptr);
}

} // namespace Common
