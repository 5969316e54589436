// zxsoak: a host that reads one channel of box 0 through ZxReadBuffer while saving it,
// for as long as asked, and checks every record against the simulator's unique values
// (value k = counter * 8 + k, the counter in value 7). Prints one status line per
// second and a closing report: records read, lost (gaps in a module's counter),
// spliced (values never sent together), resident memory and threads at start, peak
// and end, and how long each stop call took.
#include "zxcollector_api.h"

#include "tools/common/ProcessFigures.h"

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    double durationSeconds = 600;
    std::string saveRoot;
    std::string logPath;
    int fileSizeMB = 4;
    std::uint32_t bitRate = 500000;
};

// Resident memory and threads of this process.
struct Figures {
    long rssKiB = 0;
    long threads = 0;
};

Figures readProcessFigures() {
    return {static_cast<long>(zxtools::ProcessFigures::residentBytes() / 1024),
            zxtools::ProcessFigures::threads()};
}

// Per module identifier: the next counter expected and what went wrong.
struct ModuleTrack {
    bool seen = false;
    std::uint32_t next = 0;
    std::uint64_t read = 0;
    std::uint64_t lost = 0;
    std::uint64_t outOfOrder = 0;
};

struct Totals {
    std::uint64_t read = 0;
    std::uint64_t spliced = 0;
    std::uint64_t foreign = 0; // identifiers without unique values (not checked)
    std::map<std::uint32_t, ModuleTrack> modules;

    void check(const ZxCollectData& record) {
        ++read;
        if (record.canId != 0x101 && record.canId != 0x301 && record.canId != 0x501 &&
            record.canId != 0x701) {
            ++foreign;
            return;
        }
        const auto counter = static_cast<std::uint32_t>(record.values[7]);
        for (std::uint32_t k = 0; k < 6; ++k) {
            if (static_cast<std::uint32_t>(record.values[k]) != counter * 8u + k) {
                ++spliced;
                return;
            }
        }
        ModuleTrack& module = modules[record.canId];
        ++module.read;
        if (module.seen && counter != module.next) {
            if (counter > module.next) {
                module.lost += counter - module.next;
            } else {
                ++module.outOfOrder;
            }
        }
        module.seen = true;
        module.next = counter + 1;
    }
    std::uint64_t lost() const {
        std::uint64_t sum = 0;
        for (const auto& entry : modules) {
            sum += entry.second.lost;
        }
        return sum;
    }
    std::uint64_t sentUpToLastRead() const {
        std::uint64_t sum = 0;
        for (const auto& entry : modules) {
            sum += entry.second.next;
        }
        return sum;
    }
};

bool parse(int argc, char** argv, Options& options) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const char* value = argv[i + 1];
        if (option == "--duration") {
            options.durationSeconds = std::atof(value);
        } else if (option == "--save") {
            options.saveRoot = value;
        } else if (option == "--log") {
            options.logPath = value;
        } else if (option == "--file-size") {
            options.fileSizeMB = std::atoi(value);
        } else {
            return false;
        }
    }
    return argc % 2 == 1 && !options.saveRoot.empty();
}

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, options)) {
        std::fprintf(stderr, "usage: zxsoak --save ROOT [--duration S] [--log FILE] [--file-size MB]\n");
        return 2;
    }
    const Figures atStart = readProcessFigures();
    if (!options.logPath.empty() && ZxOpenLog(options.logPath.c_str(), 1, 50, 4) != ZX_OK) {
        std::fprintf(stderr, "zxsoak: cannot open the log\n");
        return 1;
    }
    int result = ZxOpenDev(0, 0, 1);
    if (result != ZX_OK) {
        std::fprintf(stderr, "zxsoak: ZxOpenDev gave %d\n", result);
        return 1;
    }
    result = ZxInitCAN(0, 0, options.bitRate);
    if (result != ZX_OK) {
        std::fprintf(stderr, "zxsoak: ZxInitCAN gave %d\n", result);
        return 1;
    }
    const char* mapping = "0x101,Temperature\n0x301,Voltage\n0x501,Current\n0x701,Frequency\n";
    result = ZxStartSaveFile(0, 0, options.saveRoot.c_str(), mapping, options.fileSizeMB);
    if (result != ZX_OK) {
        std::fprintf(stderr, "zxsoak: ZxStartSaveFile gave %d\n", result);
        return 1;
    }
    std::printf("zxsoak started: rss %ld KiB, %ld threads\n", atStart.rssKiB, atStart.threads);
    std::fflush(stdout);

    std::vector<ZxCollectData> records(10000);
    Totals totals;
    Figures peak = readProcessFigures();
    Figures afterWarmUp;
    std::map<int, std::uint64_t> readErrors; // result code -> count
    const Clock::time_point start = Clock::now();
    Clock::time_point nextStatus = start + std::chrono::seconds(1);
    const auto end = start + std::chrono::duration_cast<Clock::duration>(
                                 std::chrono::duration<double>(options.durationSeconds));
    std::uint64_t readAtLastStatus = 0;
    while (Clock::now() < end) {
        const std::int32_t n = ZxReadBuffer(0, 0, records.data(), static_cast<std::int32_t>(records.size()));
        if (n > 0) {
            for (std::int32_t i = 0; i < n; ++i) {
                totals.check(records[static_cast<std::size_t>(i)]);
            }
        } else {
            if (n != ZX_ERR_NO_DATA) {
                ++readErrors[n];
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (Clock::now() >= nextStatus) {
            nextStatus += std::chrono::seconds(1);
            const Figures now = readProcessFigures();
            peak.rssKiB = std::max(peak.rssKiB, now.rssKiB);
            peak.threads = std::max(peak.threads, now.threads);
            const auto second =
                std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start).count();
            if (second == 30) {
                afterWarmUp = now;
            }
            std::printf("zxsoak %4lld s: %" PRIu64 " rec/s, read %" PRIu64 ", lost %" PRIu64
                        ", spliced %" PRIu64 ", rss %ld KiB, %ld threads\n",
                        static_cast<long long>(second), totals.read - readAtLastStatus, totals.read,
                        totals.lost(), totals.spliced, now.rssKiB, now.threads);
            std::fflush(stdout);
            readAtLastStatus = totals.read;
        }
    }

    // Each stop is timed on its own: a stop that drains a backlog shows here.
    Clock::time_point t = Clock::now();
    const int stopSave = ZxStopSaveFile(0, 0);
    const double stopSaveMs = millisecondsSince(t);
    // What arrived until the save stopped was saved: read it so the counts compare.
    t = Clock::now();
    const int reset = ZxResetCAN(0, 0);
    const double resetMs = millisecondsSince(t);
    t = Clock::now();
    const int closeDev = ZxCloseDev(0);
    const double closeMs = millisecondsSince(t);
    const Figures atEnd = readProcessFigures();
    t = Clock::now();
    ZxCloseLog();
    const double closeLogMs = millisecondsSince(t);

    std::printf("zxsoak report\n");
    std::printf("  records read             %" PRIu64 "\n", totals.read);
    std::printf("  records sent (counters)  %" PRIu64 " up to the last one read\n",
                totals.sentUpToLastRead());
    std::printf("  records lost             %" PRIu64 " (gaps in the module counters)\n", totals.lost());
    std::printf("  records spliced          %" PRIu64 "\n", totals.spliced);
    std::printf("  records out of order     ");
    std::uint64_t outOfOrder = 0;
    for (const auto& entry : totals.modules) {
        outOfOrder += entry.second.outOfOrder;
    }
    std::printf("%" PRIu64 "\n", outOfOrder);
    for (const auto& entry : totals.modules) {
        std::printf("  module 0x%03x: read %" PRIu64 ", lost %" PRIu64 "\n", entry.first, entry.second.read,
                    entry.second.lost);
    }
    for (const auto& entry : readErrors) {
        std::printf("  ZxReadBuffer gave %d %" PRIu64 " times\n", entry.first, entry.second);
    }
    std::printf("  rss KiB                  start %ld, after 30 s %ld, peak %ld, end %ld\n", atStart.rssKiB,
                afterWarmUp.rssKiB, peak.rssKiB, atEnd.rssKiB);
    std::printf("  threads                  start %ld, peak %ld, end %ld\n", atStart.threads, peak.threads,
                atEnd.threads);
    std::printf(
        "  stop durations ms        ZxStopSaveFile %.1f (%d), ZxResetCAN %.1f (%d), ZxCloseDev %.1f (%d), "
        "ZxCloseLog %.1f\n",
        stopSaveMs, stopSave, resetMs, reset, closeMs, closeDev, closeLogMs);
    return 0;
}
