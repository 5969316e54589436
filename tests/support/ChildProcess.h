// A program run by a test as a child process: started with arguments, its standard
// output and error kept in files that the test reads while it runs and after it ended,
// ended like Ctrl-C or with SIGTERM, and always reaped.
#pragma once

#include "tests/support/TempDir.h"

#include <chrono>
#include <string>
#include <vector>

namespace zxtest {

class ChildProcess {
public:
    ChildProcess() = default;
    // Kills the program if it still runs.
    ~ChildProcess();

    // The program is looked up in PATH unless it names a folder.
    bool start(const std::string& program, const std::vector<std::string>& arguments);
    // The vci-sim program of this build; true once it printed "vci-sim ready".
    bool startSimulator(const std::vector<std::string>& arguments);
    // start and waitForExit in one step.
    int run(const std::string& program, const std::vector<std::string>& arguments,
            std::chrono::milliseconds timeout);

    // True once standard output holds the text; false when the time-out passed or the
    // program ended without printing it.
    bool waitForOutput(const std::string& text, std::chrono::milliseconds timeout);
    // The exit status (128 + signal when a signal ended it) once the program ended
    // within the time-out; -1 while it still runs or when nothing was started.
    int waitForExit(std::chrono::milliseconds timeout);
    void sendSignal(int signal);
    // SIGTERM, SIGKILL when that did not end it in time; the exit status.
    int stop(std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

    std::string output() const;
    std::string errors() const;

private:
    // True when the program has ended (it is reaped then).
    bool ended();

    TempDir folder_;
    int pid_ = -1;
    int exitCode_ = -1;
};

} // namespace zxtest
