// Loads the built shared object the way a host does (dlopen), and checks what load
// and unload do: the load lines reach the log, dlclose runs the shutdown sequence
// and really unmaps the library, and a second load starts a fresh library.
#include "tests/support/InProcessSimulator.h"
#include "tests/support/PollUntil.h"
#include "tests/support/PrivateNetwork.h"
#include "zxcollector_api.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

const char* const kLibraryPath = ZX_BINARY_DIR "/api/libzxcollector_api.so";

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool libraryIsMapped() {
    const std::string maps = readFile("/proc/self/maps");
    return maps.find("libzxcollector_api.so") != std::string::npos;
}

// The exported functions of one loaded copy of the library.
class LoadedLibrary {
public:
    LoadedLibrary() : handle_(dlopen(kLibraryPath, RTLD_NOW | RTLD_LOCAL)) {}
    ~LoadedLibrary() { unload(); }
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;

    bool loaded() const { return handle_ != nullptr; }
    void unload() {
        if (handle_ != nullptr) {
            dlclose(handle_);
            handle_ = nullptr;
        }
    }
    template <typename Function> Function get(const char* name) const {
        return reinterpret_cast<Function>(dlsym(handle_, name));
    }

private:
    void* handle_;
};

using OpenLogFn = int32_t (*)(const char*, int32_t, int32_t, int32_t);
using CloseLogFn = int32_t (*)();
using OpenDevFn = int32_t (*)(uint32_t, uint32_t, int32_t);
using InitCanFdFn = int32_t (*)(uint32_t, uint32_t, uint32_t, uint32_t);
using StartSaveFn = int32_t (*)(uint32_t, uint32_t, const char*, const char*, int32_t);
using ReadBufferFn = int32_t (*)(uint32_t, uint32_t, ZxCollectData*, int32_t);

class LibraryUnloadTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("zx-lifecycle-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path dir_;
};

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

TEST_F(LibraryUnloadTest, LoadLinesLoggedBeforeTheLogStartsAreWrittenFirst) {
    LoadedLibrary library;
    ASSERT_TRUE(library.loaded()) << dlerror();
    const fs::path log = dir_ / "zx.log";
    ASSERT_EQ(library.get<OpenLogFn>("ZxOpenLog")(log.string().c_str(), 1, 10, 3), ZX_OK);
    library.get<CloseLogFn>("ZxCloseLog")();

    const std::string text = readFile(log);
    const auto initialized = text.find("ZORVEX collector initialized");
    const auto lastDevice = text.find("Adding or updating device with index: 15");
    const auto software = text.find("ReZuzodadidUda");
    ASSERT_NE(initialized, std::string::npos) << text;
    ASSERT_NE(lastDevice, std::string::npos) << text;
    ASSERT_NE(software, std::string::npos) << text;
    EXPECT_LT(initialized, software);
    EXPECT_LT(lastDevice, software);
    EXPECT_EQ(count(text, "Adding or updating device with index: "), 16u);
}

TEST_F(LibraryUnloadTest, DlcloseUnmapsTheLibraryAndReloadStartsAFreshOne) {
    ASSERT_FALSE(libraryIsMapped());
    const fs::path firstLog = dir_ / "first.log";
    {
        LoadedLibrary library;
        ASSERT_TRUE(library.loaded()) << dlerror();
        ASSERT_TRUE(libraryIsMapped());
        ASSERT_EQ(library.get<OpenLogFn>("ZxOpenLog")(firstLog.string().c_str(), 0, 10, 3), ZX_OK);
        library.unload();
        EXPECT_FALSE(libraryIsMapped()) << "dlclose left the shared object mapped";
    }
    // The unload stopped the log: the file is complete and nothing follows.
    const std::string first = readFile(firstLog);
    EXPECT_EQ(count(first, "ZORVEX collector initialized"), 1u) << first;

    const fs::path secondLog = dir_ / "second.log";
    LoadedLibrary again;
    ASSERT_TRUE(again.loaded()) << dlerror();
    ASSERT_EQ(again.get<OpenLogFn>("ZxOpenLog")(secondLog.string().c_str(), 1, 10, 3), ZX_OK);
    again.get<CloseLogFn>("ZxCloseLog")();
    const std::string second = readFile(secondLog);
    // A fresh library logs its load again: the process-wide objects were built anew.
    EXPECT_EQ(count(second, "ZORVEX collector initialized"), 1u) << second;
    EXPECT_EQ(count(second, "Adding or updating device with index: 0"), 1u) << second;
    EXPECT_EQ(count(readFile(firstLog), "ZORVEX collector initialized"), 1u);
}

TEST_F(LibraryUnloadTest, OnlyTheThirteenFunctionsAreExported) {
    const std::string command = std::string("nm -D --defined-only ") + kLibraryPath;
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::vector<std::string> names;
    char line[512];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        std::istringstream fields(line);
        std::string address, type, name;
        fields >> address >> type >> name;
        if (!name.empty()) {
            names.push_back(name.substr(0, name.find('@')));
        }
    }
    ASSERT_EQ(pclose(pipe), 0);
    std::sort(names.begin(), names.end());
    const std::vector<std::string> expected = {"ZxClearBuffer",
                                               "ZxCloseDev",
                                               "ZxCloseLog",
                                               "ZxInitCAN",
                                               "ZxInitCANFD",
                                               "ZxOpenDev",
                                               "ZxOpenLog",
                                               "ZxReadBuffer",
                                               "ZxResetCAN",
                                               "ZxSetModuleSamplingFrequency",
                                               "ZxSetTerminalResistorCAN",
                                               "ZxStartSaveFile",
                                               "ZxStopSaveFile"};
    EXPECT_EQ(names, expected);
}

TEST_F(LibraryUnloadTest, NullOrUnwritableLogPathGivesMinusOneAndCloseBeforeOpenIsHarmless) {
    LoadedLibrary library;
    ASSERT_TRUE(library.loaded()) << dlerror();
    const auto openLog = library.get<OpenLogFn>("ZxOpenLog");
    EXPECT_EQ(library.get<CloseLogFn>("ZxCloseLog")(), ZX_OK);
    EXPECT_EQ(openLog(nullptr, 1, 10, 3), ZX_ERR_LOG_START);

    // A plain file stands where the log's folder would have to be.
    std::ofstream(dir_ / "blocker") << "x";
    EXPECT_EQ(openLog((dir_ / "blocker" / "zx.log").string().c_str(), 1, 10, 3), ZX_ERR_LOG_START);

    // The library is unharmed: a good path still opens the log.
    EXPECT_EQ(openLog((dir_ / "good.log").string().c_str(), 1, 10, 3), ZX_OK);
    EXPECT_EQ(library.get<CloseLogFn>("ZxCloseLog")(), ZX_OK);
    EXPECT_EQ(library.get<CloseLogFn>("ZxCloseLog")(), ZX_OK);
}

TEST_F(LibraryUnloadTest, UnloadWithOpenDeviceAndSavingStopsSavingThenClosesDevicesThenTheLog) {
    ZX_REQUIRE_PRIVATE_NETWORK();
    zxtest::InProcessSimulator simulator;
    ASSERT_TRUE(simulator.start());

    const fs::path log = dir_ / "zx.log";
    const fs::path save = dir_ / "save";
    long read = 0;
    {
        LoadedLibrary library;
        ASSERT_TRUE(library.loaded()) << dlerror();
        ASSERT_EQ(library.get<OpenLogFn>("ZxOpenLog")(log.string().c_str(), 1, 10, 3), ZX_OK);
        ASSERT_EQ(library.get<OpenDevFn>("ZxOpenDev")(0, 0, 1), ZX_OK);
        ASSERT_EQ(library.get<InitCanFdFn>("ZxInitCANFD")(0, 0, 500000, 2000000), ZX_OK);
        ASSERT_EQ(library.get<StartSaveFn>("ZxStartSaveFile")(0, 0, save.string().c_str(), "0x101,T\n", 10),
                  ZX_OK);
        const auto readBuffer = library.get<ReadBufferFn>("ZxReadBuffer");
        std::vector<ZxCollectData> records(1000);
        ASSERT_TRUE(zxtest::pollUntil(std::chrono::seconds(5), [&] {
            const int32_t n = readBuffer(0, 0, records.data(), 1000);
            read += n > 0 ? n : 0;
            return read >= 50;
        }));
        library.unload(); // no ZxStopSaveFile, no ZxCloseDev, no ZxCloseLog
        EXPECT_FALSE(libraryIsMapped());
    }
    EXPECT_FALSE(simulator->channel(0, 0).open) << "the box was not told to close the channel";

    const std::string text = readFile(log);
    const auto savingStopped = text.find("File saving stopped for DEV0 CH0");
    const auto readerGone = text.find("Collector reader destroyed for device 0, channel 0");
    const auto closing = text.find("Closing Device0");
    const auto closed = text.find("Closed Device0");
    ASSERT_NE(savingStopped, std::string::npos) << text;
    ASSERT_NE(readerGone, std::string::npos) << text;
    ASSERT_NE(closing, std::string::npos) << text;
    ASSERT_NE(closed, std::string::npos) << text;
    EXPECT_LT(savingStopped, closing);
    EXPECT_LT(readerGone, closing);
    EXPECT_LT(closing, closed);
    // The log stopped after the devices closed: the objects destroyed afterwards
    // could not write to it any more.
    EXPECT_EQ(text.find("ZORVEX collector destroyed"), std::string::npos);

    // The files of the interrupted save are complete: header, then whole lines.
    std::size_t lines = 0;
    for (const auto& entry : fs::recursive_directory_iterator(save)) {
        if (!entry.is_regular_file()) {
            continue;
        }
        const std::string csv = readFile(entry.path());
        ASSERT_EQ(csv.rfind("Timestamp,Current_mA\n", 0), 0u) << entry.path();
        ASSERT_EQ(csv.back(), '\n') << entry.path();
        lines += static_cast<std::size_t>(std::count(csv.begin(), csv.end(), '\n')) - 1;
    }
    EXPECT_GT(lines, 0u);
}

// A host that faults with the log, a device and a save open: the crash handler logs,
// stops the saving (every CSV line whole) and closes the device, and the process still
// ends by its signal.
TEST_F(LibraryUnloadTest, HostThatSegfaultsLogsTheCrashLeavesWholeCsvLinesAndEnds) {
    ZX_REQUIRE_PRIVATE_NETWORK();
    zxtest::InProcessSimulator simulator;
    ASSERT_TRUE(simulator.start());
    const fs::path log = dir_ / "zx.log";
    const fs::path save = dir_ / "save";
    // Forked where it stands: a re-run child would start a second simulator.
    GTEST_FLAG_SET(death_test_style, "fast");
    EXPECT_EXIT(
        {
            LoadedLibrary library;
            if (!library.loaded() ||
                library.get<OpenLogFn>("ZxOpenLog")(log.string().c_str(), 1, 10, 3) != 0 ||
                library.get<OpenDevFn>("ZxOpenDev")(0, 0, 1) != 0 ||
                library.get<InitCanFdFn>("ZxInitCANFD")(0, 0, 500000, 2000000) != 0 ||
                library.get<StartSaveFn>("ZxStartSaveFile")(0, 0, save.string().c_str(), "0x101,T\n0x102,V\n",
                                                            10) != 0) {
                std::_Exit(3);
            }
            const auto readBuffer = library.get<ReadBufferFn>("ZxReadBuffer");
            std::vector<ZxCollectData> records(1000);
            long read = 0;
            zxtest::pollUntil(std::chrono::seconds(5), [&] {
                const int32_t n = readBuffer(0, 0, records.data(), 1000);
                read += n > 0 ? n : 0;
                return read >= 50;
            });
            std::raise(SIGSEGV);
            std::_Exit(0);
        },
        [](int status) { return !WIFEXITED(status); }, "");

    const std::string text = readFile(log);
    EXPECT_NE(text.find("System abnormality, exiting..."), std::string::npos) << text;
    EXPECT_NE(text.find("File saving stopped for DEV0 CH0"), std::string::npos) << text;
    EXPECT_NE(text.find("Closed Device0"), std::string::npos) << text;
    EXPECT_FALSE(simulator->channel(0, 0).open) << "the box was not told to close the channel";
    std::size_t files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(save)) {
        if (entry.is_regular_file()) {
            ++files;
            const std::string csv = readFile(entry.path());
            ASSERT_EQ(csv.rfind("Timestamp,Current_mA\n", 0), 0u) << entry.path();
            EXPECT_EQ(csv.back(), '\n') << entry.path() << " ends in a partial line";
        }
    }
    EXPECT_GT(files, 0u);
}

} // namespace
