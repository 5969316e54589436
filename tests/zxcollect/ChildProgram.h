// A program run by a test as a child process: standard output and error go to files
// in a folder, so a test can read them while it runs and after it ended.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace zxtest {

class ChildProgram {
public:
    // Output goes to <outputFolder>/stdout.txt and stderr.txt.
    explicit ChildProgram(std::string outputFolder);
    ~ChildProgram();
    ChildProgram(const ChildProgram&) = delete;
    ChildProgram& operator=(const ChildProgram&) = delete;

    bool start(const std::string& program, const std::vector<std::string>& arguments);
    // Exit status once ended within the time-out (128 + signal when a signal ended
    // it); -1 while it still runs (it is then killed by the destructor).
    int waitForExit(std::chrono::milliseconds timeout);
    // Asks the program to stop the way Ctrl-C does.
    void interrupt();
    bool running() const { return pid_ > 0; }

    std::string output() const;
    std::string errors() const;

private:
    std::string outputFolder_;
    int pid_ = -1;
};

// start + waitForExit in one step: exit status, or -1 when it did not end in time.
int runProgram(ChildProgram& child, const std::string& program, const std::vector<std::string>& arguments,
               std::chrono::milliseconds timeout);

} // namespace zxtest
