// Loads the built shared object the way a host does (dlopen), and checks what load
// and unload do: the load lines reach the log, dlclose runs the shutdown sequence
// and really unmaps the library, and a second load starts a fresh library; a fault the
// host's own handler recovers from leaves it running.
#include "tests/support/CsvFiles.h"
#include "tests/support/FileText.h"
#include "tests/support/InProcessSimulator.h"
#include "tests/support/PollUntil.h"
#include "tests/support/TempDir.h"
#include "zxcollector_api.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/wait.h>

#include <algorithm>
#include <csetjmp>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;
using zxtest::occurrences;
using zxtest::readFile;

const char* const kLibraryPath = ZX_BINARY_DIR "/api/libzxcollector_api.so";

bool libraryIsMapped() {
    return readFile("/proc/self/maps").find("libzxcollector_api.so") != std::string::npos;
}

// One loaded copy of the library, calling its exported functions by name.
class LoadedLibrary {
public:
    LoadedLibrary() : handle_(dlopen(kLibraryPath, RTLD_NOW | RTLD_LOCAL)) {}
    ~LoadedLibrary() { unload(); }

    bool loaded() const { return handle_ != nullptr; }
    void unload() {
        if (handle_ != nullptr) {
            dlclose(handle_);
        }
        handle_ = nullptr;
    }
    template <typename... Args> int32_t call(const char* name, Args... arguments) const {
        return reinterpret_cast<int32_t (*)(Args...)>(dlsym(handle_, name))(arguments...);
    }
    int32_t openLog(const char* path) const { return call("ZxOpenLog", path, 0, 10, 3); }

    // Log, device 0, CAN FD channel 0 and saving open, and records read: "" or the step
    // that failed with its code.
    std::string openAndRead(const fs::path& dir, const char* mapping) {
        const std::string save = (dir / "save").string();
        if (!loaded()) {
            return dlerror();
        }
        const std::pair<const char*, std::function<int32_t()>> steps[] = {
            {"ZxOpenLog", [&] { return openLog((dir / "zx.log").string().c_str()); }},
            {"ZxOpenDev", [&] { return call("ZxOpenDev", 0u, 0u, 1); }},
            {"ZxInitCANFD", [&] { return call("ZxInitCANFD", 0u, 0u, 500000u, 2000000u); }},
            {"ZxStartSaveFile", [&] { return call("ZxStartSaveFile", 0u, 0u, save.c_str(), mapping, 10); }},
            {"ZxReadBuffer", [&] { return readMore(50); }},
        };
        for (const auto& [step, run] : steps) {
            if (const int32_t result = run(); result != ZX_OK) {
                return std::string(step) + " " + std::to_string(result);
            }
        }
        return "";
    }

    // Reads at least count more records of device 0, channel 0 into read() within 5 s:
    // ZX_OK, else the last code other than "nothing to read" (ZX_ERR_NO_DATA if none).
    int32_t readMore(std::size_t count) {
        const std::size_t target = read_.size() + count;
        std::vector<ZxCollectData> batch(1000);
        int32_t failure = ZX_ERR_NO_DATA;
        const bool done = zxtest::pollUntil(std::chrono::seconds(5), [&] {
            const int32_t n = call("ZxReadBuffer", 0u, 0u, batch.data(), 1000);
            if (n > 0) {
                read_.insert(read_.end(), batch.begin(), batch.begin() + n);
            } else if (n != ZX_ERR_NO_DATA) {
                failure = n;
            }
            return read_.size() >= target;
        });
        return done ? ZX_OK : failure;
    }
    const std::vector<ZxCollectData>& read() const { return read_; }

private:
    void* handle_;
    std::vector<ZxCollectData> read_;
};

// The data lines of the CSV files below save; each file holds the header and whole lines.
std::size_t wholeCsvLines(const fs::path& save) {
    std::size_t lines = 0;
    for (const auto& entry : fs::recursive_directory_iterator(save)) {
        if (entry.is_regular_file()) {
            const std::string csv = readFile(entry.path());
            EXPECT_EQ(csv.rfind("Timestamp,Current_mA\n", 0), 0u) << entry.path();
            EXPECT_EQ(csv.back(), '\n') << entry.path() << " ends in a partial line";
            lines += occurrences(csv, "\n") - 1;
        }
    }
    return lines;
}

// A host runtime (the JVM, .NET, Go) installs its SIGSEGV handler before it loads the
// library and turns faults of its own code into exceptions, going on where it catches them.
sigjmp_buf hostCatchPoint;

void hostRuntimeHandler(int) {
    siglongjmp(hostCatchPoint, 1);
}

// The host's own null write, as its runtime meets it: a plain fault. Not checked by
// UndefinedBehaviorSanitizer, which would stop the test at the write instead.
__attribute__((noinline, no_sanitize_undefined)) void writeThroughNull() {
    volatile int* volatile nowhere = nullptr;
    *nowhere = 1;
}

class LibraryUnloadTest : public ::testing::Test {
protected:
    zxtest::TempDir dir_;
};

// A null log path is refused without harm; a close before an open is harmless.
TEST_F(LibraryUnloadTest, DlcloseUnmapsTheLibraryAndReloadStartsAFreshOne) {
    ASSERT_FALSE(libraryIsMapped());
    for (const char* name : {"first.log", "second.log"}) {
        LoadedLibrary library;
        ASSERT_TRUE(library.loaded()) << dlerror();
        ASSERT_TRUE(libraryIsMapped());
        EXPECT_EQ(library.call("ZxCloseLog"), ZX_OK);
        EXPECT_EQ(library.openLog(nullptr), ZX_ERR_LOG_START);
        ASSERT_EQ(library.openLog((dir_ / name).string().c_str()), ZX_OK);
        library.unload();
        EXPECT_FALSE(libraryIsMapped()) << "dlclose left the shared object mapped";
    }
    // Each load built the process-wide objects anew, their load lines reached the log
    // before the software record, and each unload stopped its log.
    for (const char* name : {"first.log", "second.log"}) {
        const std::string text = readFile(dir_ / name);
        EXPECT_EQ(occurrences(text, "ZORVEX collector initialized"), 1u) << text;
        EXPECT_EQ(occurrences(text, "Adding or updating device with index: "), 16u) << text;
        EXPECT_LT(text.find("Adding or updating device with index: 15"), text.find("ReZuzodadidUda")) << text;
    }
}

// A host that ends with the log, a device and a save open, by unloading the library or
// by a fault (the crash handler logs and runs the same shutdown, and the process still
// ends by its signal): the saving stops, leaving whole CSV lines, before the device
// closes and the box is told to close the channel.
TEST_F(LibraryUnloadTest, UnloadOrCrashWithOpenDeviceAndSavingStopsSavingThenClosesTheDevice) {
    ZX_REQUIRE_PRIVATE_NETWORK();
    zxtest::InProcessSimulator simulator;
    ASSERT_TRUE(simulator.start());
    GTEST_FLAG_SET(death_test_style, "fast"); // forked where it stands: no second simulator
    for (const bool crash : {false, true}) {
        const fs::path run = dir_ / (crash ? "crash" : "unload");
        if (crash) {
            EXPECT_EXIT(
                {
                    LoadedLibrary library;
                    if (!library.openAndRead(run, "0x101,T\n0x102,V\n").empty()) {
                        std::_Exit(3);
                    }
                    std::raise(SIGSEGV);
                    std::_Exit(0);
                },
                [](int status) { return !WIFEXITED(status); }, "");
        } else {
            LoadedLibrary library;
            ASSERT_EQ(library.openAndRead(run, "0x101,T\n0x102,V\n"), "");
            library.unload(); // no ZxStopSaveFile, no ZxCloseDev, no ZxCloseLog
            EXPECT_FALSE(libraryIsMapped());
        }
        EXPECT_FALSE(simulator->channel(0, 0).open) << "the box was not told to close the channel";
        const std::string text = readFile(run / "zx.log");
        const auto closing = text.find("Closing Device0");
        ASSERT_NE(closing, std::string::npos) << text;
        EXPECT_LT(text.find("File saving stopped for DEV0 CH0"), closing) << text;
        EXPECT_LT(text.find("Collector reader destroyed for device 0, channel 0"), closing) << text;
        EXPECT_NE(text.find("Closed Device0", closing), std::string::npos) << text;
        EXPECT_EQ(text.find("System abnormality, exiting...") != std::string::npos, crash) << text;
        // The log stopped after the devices closed: objects destroyed later could not
        // write to it any more.
        EXPECT_EQ(text.find("ZORVEX collector destroyed"), std::string::npos);
        EXPECT_GT(wholeCsvLines(run / "save"), 0u);
    }
}

// ... so a fault the host recovers from is no crash: the library keeps reading and
// saving, and every record read reaches the CSV file.
TEST_F(LibraryUnloadTest, FaultTheHostRuntimeRecoversFromLeavesTheLibraryReadingAndSaving) {
    ZX_REQUIRE_PRIVATE_NETWORK();
    zxtest::InProcessSimulator simulator;
    ASSERT_TRUE(simulator.start());
    struct sigaction runtime {};
    struct sigaction before {};
    runtime.sa_handler = hostRuntimeHandler;
    sigemptyset(&runtime.sa_mask);
    sigaction(SIGSEGV, &runtime, &before);
    std::vector<ZxCollectData> read;
    {
        LoadedLibrary library;
        ASSERT_EQ(library.openAndRead(dir_.path(), "0x101,T\n"), "");
        if (sigsetjmp(hostCatchPoint, 1) == 0) {
            writeThroughNull(); // a null reference of the host's
            ADD_FAILURE() << "no fault";
        }
        EXPECT_EQ(library.readMore(50), ZX_OK) << "the library stopped at the host's fault";
        EXPECT_EQ(library.call("ZxStopSaveFile", 0u, 0u), ZX_OK);
        EXPECT_EQ(library.call("ZxCloseDev", 0u), ZX_OK);
        read = library.read();
    }
    sigaction(SIGSEGV, &before, nullptr);
    EXPECT_EQ(readFile(dir_ / "zx.log").find("System abnormality, exiting..."), std::string::npos);
    const auto files = zxtest::csvFiles(dir_ / "save" / "CH1", "T_");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(readFile(files[0]), zxtest::expectedCsv(read, 0x101, 1));
}

} // namespace
