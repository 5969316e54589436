// The built vci-sim program as a child process of a test: started with arguments,
// ready once it printed "vci-sim ready", stopped with SIGTERM and reaped at the end.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace zxtest {

class SimulatorProcess {
public:
    SimulatorProcess() = default;
    ~SimulatorProcess();
    SimulatorProcess(const SimulatorProcess&) = delete;
    SimulatorProcess& operator=(const SimulatorProcess&) = delete;

    // Path of the vci-sim program of this build.
    static std::string programPath();

    // True once the program reported ready within the time-out; on false it has been
    // reaped and output() holds what it printed.
    bool start(const std::vector<std::string>& arguments,
               std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));
    // SIGTERM, then SIGKILL if it has not ended within the time-out. The exit code,
    // 128 + signal when a signal ended it; when the program had already ended (see
    // waitForExit) its exit code again; -1 when nothing was started.
    int stop(std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));
    // True when the program ended by itself within the time-out (it is reaped then).
    bool waitForExit(std::chrono::milliseconds timeout);
    bool running() const { return pid_ > 0; }
    int pid() const { return pid_; }
    // Standard output read so far (all of it once stopped).
    const std::string& output() const { return output_; }

private:
    bool readOutput(int timeoutMs);
    int reap(std::chrono::milliseconds timeout);
    void finish(int exitCode);

    int pid_ = -1;
    int outputFd_ = -1;
    int exitCode_ = -1;
    std::string output_;
};

} // namespace zxtest
