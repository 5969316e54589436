// Ends our threads safely even while the library is being unloaded under the loader
// lock, where a Windows thread cannot finish exiting and a join would never return.
#pragma once

#include <atomic>
#include <thread>

namespace Common {

// The first object of a thread's body: its destructor, the body's last act, tells
// joinThread that the body has returned and only the thread's exit remains. While the
// library is being unloaded it also ends the thread there (Common::ThreadExit).
class ThreadBodyDone {
public:
    explicit ThreadBodyDone(std::atomic<bool>& done) : done_(done) {}
    ~ThreadBodyDone();
    ThreadBodyDone(const ThreadBodyDone&) = delete;
    ThreadBodyDone& operator=(const ThreadBodyDone&) = delete;

private:
    std::atomic<bool>& done_;
};

// Set only by the Windows library entry around the unload notification. processExiting:
// the process is ending and every other thread is already gone.
void setUnloadingUnderLoaderLock(bool unloading, bool processExiting = false);
// True between those calls: the loader lock is held, so no network layer teardown.
bool unloadingUnderLoaderLock();
// True while the process is exiting: no reply can come and no other thread runs.
bool processExiting();

// A join. While unloading under the loader lock it waits until the body has returned
// (bodyDone, reset to false before the thread was started) and the thread has left our
// code for the system's thread exit (at most a second), and lets the thread go; when
// the process is exiting it lets it go at once. The calling thread itself (the crash path
// running on a thread being stopped) is let go too. Afterwards the thread is not joinable.
void joinThread(std::thread& thread, const std::atomic<bool>& bodyDone);

} // namespace Common
