#include "tests/zxcollect/ChildProgram.h"

#include "tests/support/PollUntil.h"

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace zxtest {

namespace {

std::string readWhole(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

} // namespace

ChildProgram::ChildProgram(std::string outputFolder) : outputFolder_(std::move(outputFolder)) {}

ChildProgram::~ChildProgram() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

bool ChildProgram::start(const std::string& program, const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    const std::string out = outputFolder_ + "/stdout.txt";
    const std::string err = outputFolder_ + "/stderr.txt";

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
    if (spawned != 0) {
        return false;
    }
    pid_ = child;
    return true;
}

int ChildProgram::waitForExit(std::chrono::milliseconds timeout) {
    int status = 0;
    const bool ended = pollUntil(
        timeout, [&] { return pid_ <= 0 || waitpid(pid_, &status, WNOHANG) == pid_; },
        std::chrono::milliseconds(10));
    if (!ended || pid_ <= 0) {
        return -1;
    }
    pid_ = -1;
    if (WIFSIGNALED(status)) {
        return 128 + WTERMSIG(status);
    }
    return WEXITSTATUS(status);
}

void ChildProgram::interrupt() {
    if (pid_ > 0) {
        kill(pid_, SIGINT);
    }
}

std::string ChildProgram::output() const {
    return readWhole(outputFolder_ + "/stdout.txt");
}

std::string ChildProgram::errors() const {
    return readWhole(outputFolder_ + "/stderr.txt");
}

int runProgram(ChildProgram& child, const std::string& program, const std::vector<std::string>& arguments,
               std::chrono::milliseconds timeout) {
    if (!child.start(program, arguments)) {
        return -1;
    }
    return child.waitForExit(timeout);
}

} // namespace zxtest
