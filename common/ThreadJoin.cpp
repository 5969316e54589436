#include "common/ThreadJoin.h"

#include "common/ThreadExit.h"

#include <chrono>

namespace Common {

namespace {

enum class JoinMode { Join, WaitForBody, LetGo };

std::atomic<JoinMode> joinMode{JoinMode::Join};

// How long an unload waits for a thread that has returned from its body to leave our
// code: a handful of instructions, unless the system does not schedule it.
constexpr std::chrono::seconds kLeaveOurCodeLimit{1};

} // namespace

ThreadBodyDone::~ThreadBodyDone() {
    const bool unloading = joinMode.load() == JoinMode::WaitForBody;
    done_.store(true, std::memory_order_release);
    if (unloading) {
        ThreadExit::endHereWhileUnloading();
    }
}

void setUnloadingUnderLoaderLock(bool unloading, bool processExiting) {
    JoinMode mode = JoinMode::Join;
    if (unloading) {
        mode = processExiting ? JoinMode::LetGo : JoinMode::WaitForBody;
    }
    joinMode.store(mode);
}

bool unloadingUnderLoaderLock() {
    return joinMode.load() != JoinMode::Join;
}

bool processExiting() {
    return joinMode.load() == JoinMode::LetGo;
}

void joinThread(std::thread& thread, const std::atomic<bool>& bodyDone) {
    if (!thread.joinable()) {
        return;
    }
    // The crash path may stop the very thread it runs on (a writer that faulted): a
    // thread cannot wait for itself, so it is let go; the process is ending anyway.
    if (thread.get_id() == std::this_thread::get_id()) {
        thread.detach();
        return;
    }
    switch (joinMode.load()) {
    case JoinMode::Join:
        thread.join();
        return;
    case JoinMode::WaitForBody:
        // The thread's exit needs the loader lock this thread holds. Its body's end sends
        // it into the system's thread exit (ThreadBodyDone); once it is out of our code
        // it never comes back, so it may finish after the unload.
        while (!bodyDone.load(std::memory_order_acquire)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        for (const auto limit = std::chrono::steady_clock::now() + kLeaveOurCodeLimit;
             !ThreadExit::leftOurCode(thread) && std::chrono::steady_clock::now() < limit;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        thread.detach();
        return;
    case JoinMode::LetGo:
        // The system has already ended every other thread of the exiting process.
        thread.detach();
        return;
    }
}

} // namespace Common
