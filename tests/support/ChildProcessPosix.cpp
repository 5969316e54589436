#include "tests/support/ChildProcess.h"

#include "tests/support/FileText.h"
#include "tests/support/PollUntil.h"

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace zxtest {

using std::chrono::milliseconds;

ChildProcess::~ChildProcess() {
    sendSignal(SIGKILL);
    waitForExit(milliseconds(5000));
}

bool ChildProcess::start(const std::string& program, const std::vector<std::string>& arguments) {
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    const std::string out = (folder_ / "stdout.txt").string();
    const std::string err = (folder_ / "stderr.txt").string();
    // posix_spawn rather than fork: the test process has threads of its own.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    pid_t child = -1;
    const int spawned = posix_spawnp(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    pid_ = spawned == 0 ? child : -1;
    exitCode_ = -1;
    return spawned == 0;
}

bool ChildProcess::startSimulator(const std::vector<std::string>& arguments) {
    return start(ZX_VCI_SIM_PROGRAM, arguments) && waitForOutput("vci-sim ready\n", milliseconds(5000));
}

int ChildProcess::run(const std::string& program, const std::vector<std::string>& arguments,
                      milliseconds timeout) {
    return start(program, arguments) ? waitForExit(timeout) : -1;
}

bool ChildProcess::ended() {
    int status = 0;
    if (pid_ > 0 && waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        exitCode_ = WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
    }
    return pid_ <= 0;
}

bool ChildProcess::waitForOutput(const std::string& text, milliseconds timeout) {
    bool found = false;
    const auto seenOrEnded = [&] {
        // Ended is asked first, so that the output read after it is complete.
        const bool gone = ended();
        found = output().find(text) != std::string::npos;
        return found || gone;
    };
    pollUntil(timeout, seenOrEnded, milliseconds(10));
    return found;
}

int ChildProcess::waitForExit(milliseconds timeout) {
    return pollUntil(
               timeout, [&] { return ended(); }, milliseconds(10))
               ? exitCode_
               : -1;
}

void ChildProcess::sendSignal(int signal) {
    if (pid_ > 0) {
        kill(pid_, signal);
    }
}

int ChildProcess::stop(milliseconds timeout) {
    sendSignal(SIGTERM);
    if (waitForExit(timeout) == -1) {
        sendSignal(SIGKILL);
        waitForExit(milliseconds(5000));
    }
    return exitCode_;
}

std::string ChildProcess::output() const {
    return readFile(folder_ / "stdout.txt");
}

std::string ChildProcess::errors() const {
    return readFile(folder_ / "stderr.txt");
}

} // namespace zxtest
