#include "tests/support/SimulatorProcess.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace zxtest {

namespace {
constexpr const char* kReadyLine = "vci-sim ready\n";
}

SimulatorProcess::~SimulatorProcess() {
    stop();
}

std::string SimulatorProcess::programPath() {
    return ZX_VCI_SIM_PROGRAM;
}

bool SimulatorProcess::start(const std::vector<std::string>& arguments, std::chrono::milliseconds timeout) {
    stop();
    output_.clear();
    exitCode_ = -1;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        return false;
    }
    const std::string program = programPath();
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);

    // posix_spawn rather than fork: test processes have threads of their own.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    pid_t child = -1;
    const int spawned = posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (spawned != 0) {
        close(fds[0]);
        output_ = "cannot start " + program;
        return false;
    }
    pid_ = child;
    outputFd_ = fds[0];

    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (output_.find(kReadyLine) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !readOutput(static_cast<int>(left.count()))) {
            stop();
            return false;
        }
    }
    return true;
}

bool SimulatorProcess::readOutput(int timeoutMs) {
    pollfd readable{outputFd_, POLLIN, 0};
    const int ready = poll(&readable, 1, timeoutMs);
    if (ready < 0 && errno == EINTR) {
        return true;
    }
    if (ready <= 0) {
        return false;
    }
    char buffer[4096];
    const ssize_t n = read(outputFd_, buffer, sizeof buffer);
    if (n <= 0) {
        return false; // the program closed its output: it has ended
    }
    output_.append(buffer, static_cast<size_t>(n));
    return true;
}

int SimulatorProcess::stop(std::chrono::milliseconds timeout) {
    if (pid_ <= 0) {
        return exitCode_;
    }
    kill(pid_, SIGTERM);
    int result = reap(timeout);
    if (result == -1) {
        kill(pid_, SIGKILL);
        result = reap(std::chrono::milliseconds(5000));
    }
    finish(result);
    return result;
}

bool SimulatorProcess::waitForExit(std::chrono::milliseconds timeout) {
    if (pid_ <= 0) {
        return exitCode_ != -1;
    }
    const int result = reap(timeout);
    if (result == -1) {
        return false;
    }
    finish(result);
    return true;
}

void SimulatorProcess::finish(int exitCode) {
    // Whatever the program printed on its way out.
    while (outputFd_ >= 0 && readOutput(0)) {
    }
    if (outputFd_ >= 0) {
        close(outputFd_);
        outputFd_ = -1;
    }
    pid_ = -1;
    exitCode_ = exitCode;
}

int SimulatorProcess::reap(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (done < 0 || std::chrono::steady_clock::now() >= deadline) {
            return -1;
        }
        // Also keeps the pipe drained so the program never blocks on a full stdout.
        if (outputFd_ < 0 || !readOutput(5)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
}

} // namespace zxtest
