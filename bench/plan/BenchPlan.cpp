// The whole address plan on one host, as a host program sees it: boxes 0..15 of one
// `vci-sim --devices 0,...,15`, all 128 channels initialised as CAN FD, each saving the
// four default identifiers, every channel read in a loop. Prints the time to open and
// initialise, resident memory and threads before and after saving starts, the CPU of
// this process over the reading time without and with saving, and the time to stop
// saving and close everything, the descriptors the process holds with and without
// saving, and whether every record read while saving is in the CSV files.
//   scripts/netns-run.sh build/bench/plan/bench_plan [seconds of reading (default 5)] [folder]
//                                                    [--frequency <Hz of every module>]

#include "zxcollector_api.h"

#include <fmt/format.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;
namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kBoxes = 16;
constexpr std::uint32_t kChannels = 8;
constexpr std::int32_t kHostOctet = 1;
constexpr std::int32_t kCapacity = 10000;
constexpr char kMapping[] = "0x101,Temperature\n0x301,Voltage\n0x501,Current\n0x701,Frequency\n";

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A field of /proc/self/status ("VmRSS", "Threads") as its leading number.
long statusField(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field + ":", 0) == 0) {
            return std::strtol(line.c_str() + field.size() + 1, nullptr, 10);
        }
    }
    return -1;
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

pid_t startSimulator(const std::string& frequency) {
    std::string devices;
    for (std::uint32_t box = 0; box < kBoxes; ++box) {
        devices += (box == 0 ? "" : ",") + std::to_string(box);
    }
    std::vector<std::string> args = {ZX_VCI_SIM_PATH, "--devices", devices};
    if (!frequency.empty()) {
        args.insert(args.end(), {"--frequency", frequency});
    }
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        return -1;
    }
    return pid;
}

// The simulator binds its boxes' sockets a moment after it starts: ready once the last
// box's address is taken.
bool waitForSimulator() {
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    for (;;) {
        const int probe = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(8000);
        inet_pton(AF_INET, fmt::format("192.168.201.{}", 130 + kBoxes - 1).c_str(), &address.sin_addr);
        const bool taken = bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0;
        close(probe);
        if (taken) {
            return true;
        }
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

bool openAll() {
    for (std::uint32_t box = 0; box < kBoxes; ++box) {
        if (ZxOpenDev(0, box, kHostOctet) != ZX_OK) {
            return false;
        }
    }
    return true;
}

// Reads every channel for the given time, as a host polling every 10 ms does.
std::uint64_t readFor(double seconds, std::vector<ZxCollectData>& records) {
    std::uint64_t total = 0;
    const auto start = Clock::now();
    while (secondsSince(start) < seconds) {
        for (std::uint32_t box = 0; box < kBoxes; ++box) {
            for (std::uint32_t channel = 0; channel < kChannels; ++channel) {
                std::int32_t got = 0;
                while ((got = ZxReadBuffer(box, channel, records.data(), kCapacity)) > 0) {
                    total += static_cast<std::uint64_t>(got);
                }
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return total;
}

std::uintmax_t folderBytes(const fs::path& folder) {
    std::uintmax_t total = 0;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(folder, error); it != fs::recursive_directory_iterator();
         it.increment(error)) {
        if (it->is_regular_file(error)) {
            total += it->file_size(error);
        }
    }
    return total;
}

// Data lines of the CH1 files below folder (every default module measures CH1, so one
// line per record saved).
std::uint64_t channel1Lines(const fs::path& folder) {
    std::uint64_t lines = 0;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file() && entry.path().parent_path().filename() == "CH1") {
            std::ifstream file(entry.path(), std::ios::binary);
            std::string line;
            for (bool header = true; std::getline(file, line); header = false) {
                lines += header ? 0 : 1;
            }
        }
    }
    return lines;
}

long openDescriptors() {
    std::error_code error;
    long count = 0;
    for (auto it = fs::directory_iterator("/proc/self/fd", error); it != fs::directory_iterator();
         it.increment(error)) {
        ++count;
    }
    return count;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> positional;
    std::string frequency;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--frequency" && i + 1 < argc) {
            frequency = argv[++i];
        } else {
            positional.push_back(argv[i]);
        }
    }
    const double seconds = positional.size() > 0 ? std::atof(positional[0].c_str()) : 5.0;
    const fs::path folder =
        positional.size() > 1 ? fs::path(positional[1]) : fs::temp_directory_path() / "zx_bench_plan";
    fs::remove_all(folder);
    fs::create_directories(folder);

    const pid_t simulator = startSimulator(frequency);
    if (simulator <= 0) {
        std::fprintf(stderr, "cannot start %s\n", ZX_VCI_SIM_PATH);
        return 1;
    }
    std::vector<ZxCollectData> records(kCapacity);
    int status = 0;
    if (!waitForSimulator()) {
        std::fprintf(stderr, "the simulator did not start\n");
        kill(simulator, SIGTERM);
        waitpid(simulator, nullptr, 0);
        return 1;
    }

    const auto openStart = Clock::now();
    bool ok = openAll();
    for (std::uint32_t box = 0; ok && box < kBoxes; ++box) {
        for (std::uint32_t channel = 0; ok && channel < kChannels; ++channel) {
            ok = ZxInitCANFD(box, channel, 1000000, 5000000) == ZX_OK;
        }
    }
    const double openSeconds = secondsSince(openStart);
    if (!ok) {
        std::fprintf(stderr, "open or init failed\n");
        status = 1;
    } else {
        readFor(1.0, records); // warm-up: queues and buffers at their working size
        const long rssBefore = statusField("VmRSS");
        const long descriptorsBefore = openDescriptors();
        const long threadsBefore = statusField("Threads");
        double cpu = cpuSeconds();
        const std::uint64_t readPlain = readFor(seconds, records);
        const double cpuPlain = cpuSeconds() - cpu;

        for (std::uint32_t box = 0; ok && box < kBoxes; ++box) {
            for (std::uint32_t channel = 0; ok && channel < kChannels; ++channel) {
                const fs::path root = folder / fmt::format("DEV{}_CH{}", box, channel);
                ok = ZxStartSaveFile(box, channel, root.string().c_str(), kMapping, 10) == ZX_OK;
            }
        }
        const long rssStarted = statusField("VmRSS");
        const long threadsStarted = statusField("Threads");
        // What queued up during the start is read first, files are open.
        std::uint64_t readWhileSaving = readFor(2.0, records);
        cpu = cpuSeconds();
        const std::uint64_t readSaving = readFor(seconds, records);
        const double cpuSaving = cpuSeconds() - cpu;
        const long rssSaving = statusField("VmRSS");
        const long descriptorsSaving = openDescriptors();

        // Read what is left so that nothing is queued, then stop and close.
        readWhileSaving += readSaving + readFor(0.6, records);
        const auto stopStart = Clock::now();
        for (std::uint32_t box = 0; box < kBoxes; ++box) {
            for (std::uint32_t channel = 0; channel < kChannels; ++channel) {
                ZxStopSaveFile(box, channel);
            }
        }
        const double stopSeconds = secondsSince(stopStart);
        const auto closeStart = Clock::now();
        ZxCloseDev(0xFFFFFFFFu);
        const double closeSeconds = secondsSince(closeStart);

        fmt::print("open {} boxes + init {} channels: {:.0f} ms\n", kBoxes, kBoxes * kChannels,
                   openSeconds * 1000);
        fmt::print(
            "resident memory before saving / after start / after {:.0f} s saving: {} MB / {} MB / {} MB\n",
            seconds, rssBefore / 1024, rssStarted / 1024, rssSaving / 1024);
        fmt::print("threads before saving / after start: {} / {}\n", threadsBefore, threadsStarted);
        fmt::print("CPU over {:.0f} s of reading: {:.2f} s without saving ({:.0f} records/s), "
                   "{:.2f} s with saving ({:.0f} records/s, {:.0f} points/s): saving costs {:.3f} core\n",
                   seconds, cpuPlain, readPlain / seconds, cpuSaving, readSaving / seconds,
                   readSaving * 6.0 / seconds, (cpuSaving - cpuPlain) / seconds);
        fmt::print("stop saving on all channels: {:.0f} ms; close all: {:.0f} ms; total {:.0f} ms\n",
                   stopSeconds * 1000, closeSeconds * 1000, (stopSeconds + closeSeconds) * 1000);
        fmt::print("open descriptors before saving / while saving: {} / {}\n", descriptorsBefore,
                   descriptorsSaving);
        fmt::print("saved {:.1f} MB in {}\n", folderBytes(folder) / 1e6, folder.string());
        const std::uint64_t saved = channel1Lines(folder);
        fmt::print("records read while saving: {}; lines in the CH1 files: {}: {}\n", readWhileSaving, saved,
                   saved == readWhileSaving ? "every record read is saved" : "MISSING OR EXTRA LINES");
        status = saved == readWhileSaving ? status : 1;
    }
    kill(simulator, SIGTERM);
    waitpid(simulator, nullptr, 0);
    fs::remove_all(folder);
    return status;
}
