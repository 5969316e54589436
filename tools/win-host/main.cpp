// win-host: loads zxcollector_api.dll at run time, opens box 0 (the host binds
// 192.168.201.1), initialises CAN FD channel 0, reads and saves for a few seconds,
// closes and unloads.
//   win-host <dll> <save folder> [seconds] [--unload-open | --exit-process | --return-open]
//            [--name NAME] [--identifiers N]
// --unload-open unloads the DLL with the device still open and saving running, so the
// detach notification has to close everything. --exit-process calls ExitProcess and
// --return-open returns from main with the device open, saving running and the DLL
// loaded, as a script that never closes does; both print the time before they end. --name gives module 0x101
// that name in the mapping; --identifiers N maps N identifiers from 0x200 on instead; the save folder and the
// name reach the DLL in the active code page, as any narrow text of a Windows host does. Exit code 0 only
// when every step succeeded, records arrived and the DLL really left the process.
#include "ZxApiFunctions.h"
#include "tools/common/ProcessFigures.h"

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::uint32_t kDevice = 0;
constexpr std::uint32_t kChannel = 0;
constexpr std::int32_t kHostOctet = 1;
constexpr std::int32_t kCapacity = 1000;
constexpr std::uint32_t kTemperatureModule = 0x101;

std::wstring widen(const char* text) {
    const int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    std::wstring wide(length > 0 ? length - 1 : 0, L'\0');
    if (length > 1) {
        MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), length);
    }
    return wide;
}

// While the library writes a CSV file, another program may read it but not write it.
// With more series than the library keeps open at once, a file is closed between its
// turns, and then nothing keeps a writer out: heldOpen says whether it must be open.
bool csvIsReadableWhileWritten(const std::string& saveFolder, bool heldOpen) {
    const std::wstring pattern = widen((saveFolder + "\\CH1\\*.csv").c_str());
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "win-host: no CSV file in CH1 while saving\n");
        return false;
    }
    FindClose(search);
    const std::wstring path = widen((saveFolder + "\\CH1\\").c_str()) + found.cFileName;
    HANDLE reader = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (reader == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "win-host: a CSV file being written cannot be read: %lu\n", GetLastError());
        return false;
    }
    char head[20] = {};
    DWORD got = 0;
    const bool read = ReadFile(reader, head, sizeof(head), &got, nullptr) != 0;
    CloseHandle(reader);
    if (!read || (got == sizeof(head) && std::memcmp(head, "Timestamp,Current_mA", sizeof(head)) != 0)) {
        std::fprintf(stderr, "win-host: a CSV file being written reads wrong\n");
        return false;
    }
    if (!heldOpen) {
        return true;
    }
    HANDLE writer = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (writer != INVALID_HANDLE_VALUE) {
        CloseHandle(writer);
        std::fprintf(stderr, "win-host: a second writer could open a CSV file being written\n");
        return false;
    }
    return true;
}

// Milliseconds since 1970, for the test script to compare with its own clock.
long long unixMilliseconds() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const unsigned long long ticks =
        (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    constexpr unsigned long long kTicksTo1970 = 116444736000000000ULL; // 100 ns ticks from 1601
    return static_cast<long long>((ticks - kTicksTo1970) / 10000);
}

bool check(const char* what, std::int32_t result) {
    if (result != ZX_OK) {
        std::fprintf(stderr, "win-host: %s failed: %d\n", what, static_cast<int>(result));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: %s <dll> <save folder> [seconds] [--unload-open | --exit-process | "
                     "--return-open] [--name NAME] [--identifiers N]\n",
                     argv[0]);
        return 2;
    }
    const std::string saveFolder = argv[2];
    const int seconds = argc > 3 ? std::atoi(argv[3]) : 3;
    bool unloadOpen = false;
    bool exitProcess = false;
    bool returnOpen = false;
    std::string temperatureName = "Temperature";
    int identifiers = 0;
    for (int i = 4; i < argc; ++i) {
        if (std::strcmp(argv[i], "--unload-open") == 0) {
            unloadOpen = true;
        } else if (std::strcmp(argv[i], "--exit-process") == 0) {
            exitProcess = true;
        } else if (std::strcmp(argv[i], "--return-open") == 0) {
            returnOpen = true;
        } else if (std::strcmp(argv[i], "--name") == 0 && i + 1 < argc) {
            temperatureName = argv[++i];
        } else if (std::strcmp(argv[i], "--identifiers") == 0 && i + 1 < argc) {
            identifiers = std::atoi(argv[++i]);
        }
    }
    std::string mapping = "0x101," + temperatureName + "\n0x301,Voltage\n";
    if (identifiers > 0) {
        // 512, 513, ... (0x200 on) named Id512, Id513, ...: six series each, more files
        // than the C runtime's 512 streams once there are 86 of them.
        mapping.clear();
        for (int n = 0; n < identifiers; ++n) {
            const std::string id = std::to_string(0x200 + n);
            mapping += id + ",Id" + id + "\n";
        }
    }
    std::printf("code page: %u\n", GetACP());
    const std::wstring dllPath = widen(argv[1]);

    const int threadsBefore = zxtools::ProcessFigures::threads();
    HMODULE module = LoadLibraryW(dllPath.c_str());
    if (module == nullptr) {
        std::fprintf(stderr, "win-host: LoadLibrary(%s) failed: %lu\n", argv[1], GetLastError());
        return 1;
    }
    ZxApiFunctions zx;
    const std::string missing = zx.resolve(module);
    if (!missing.empty()) {
        std::fprintf(stderr, "win-host: exports missing: %s\n", missing.c_str());
        FreeLibrary(module);
        return 1;
    }

    bool ok = check("ZxOpenLog", zx.openLog((saveFolder + "\\zxcollector.log").c_str(), 1, 10, 5));
    ok = ok && check("ZxOpenDev", zx.openDev(0, kDevice, kHostOctet));
    ok = ok && check("ZxInitCANFD", zx.initCanFd(kDevice, kChannel, 500000, 2000000));
    ok = ok && check("ZxSetModuleSamplingFrequency",
                     zx.setModuleSamplingFrequency(kDevice, kChannel, kTemperatureModule, 200));
    ok = ok && check("ZxStartSaveFile",
                     zx.startSaveFile(kDevice, kChannel, saveFolder.c_str(), mapping.c_str(), 10));

    std::vector<ZxCollectData> records(kCapacity);
    long long total = 0;
    const auto start = std::chrono::steady_clock::now();
    const auto end = start + std::chrono::seconds(seconds);
    bool sharingChecked = false;
    while (ok && std::chrono::steady_clock::now() < end) {
        if (!sharingChecked && std::chrono::steady_clock::now() - start > std::chrono::milliseconds(1500)) {
            ok = csvIsReadableWhileWritten(saveFolder, identifiers == 0);
            sharingChecked = true;
        }
        const std::int32_t n = zx.readBuffer(kDevice, kChannel, records.data(), kCapacity);
        if (n > 0) {
            total += n;
        } else if (n == ZX_ERR_NO_DATA) {
            Sleep(1);
        } else {
            ok = check("ZxReadBuffer", n);
        }
    }
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    if (exitProcess || returnOpen) {
        std::printf("records read: %lld\n", total);
        std::printf("ending at %lld ms\n", unixMilliseconds());
        std::fflush(stdout);
        if (exitProcess) {
            ExitProcess(ok && total > 0 ? 0 : 1);
        }
        return ok && total > 0 ? 0 : 1;
    }

    if (!unloadOpen) {
        ok = check("ZxStopSaveFile", zx.stopSaveFile(kDevice, kChannel)) && ok;
        ok = check("ZxResetCAN", zx.resetCan(kDevice, kChannel)) && ok;
        ok = check("ZxCloseDev", zx.closeDev(kDevice)) && ok;
        zx.closeLog();
    }
    const auto unloadStart = std::chrono::steady_clock::now();
    if (!FreeLibrary(module)) {
        std::fprintf(stderr, "win-host: FreeLibrary failed: %lu\n", GetLastError());
        ok = false;
    }
    const double unloadSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - unloadStart).count();
    // Nothing else holds the DLL, so it must be gone from the process now.
    if (GetModuleHandleW(L"zxcollector_api.dll") != nullptr) {
        std::fprintf(stderr, "win-host: the DLL is still loaded after FreeLibrary\n");
        ok = false;
    }
    // Threads still running at an unload with the device open were let go once their
    // work was done; their exit needs the loader lock, so they end just after FreeLibrary.
    int threadsAfter = zxtools::ProcessFigures::threads();
    const auto exitDeadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (threadsAfter > threadsBefore && std::chrono::steady_clock::now() < exitDeadline) {
        Sleep(1);
        threadsAfter = zxtools::ProcessFigures::threads();
    }
    const double threadsGoneSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - unloadStart).count() - unloadSeconds;

    std::printf("records read: %lld\n", total);
    std::printf("records/s: %.0f\n", elapsed > 0 ? static_cast<double>(total) / elapsed : 0.0);
    std::printf("unload: %.3f s\n", unloadSeconds);
    std::printf("threads before load: %d, after unload: %d (%.3f s after FreeLibrary)\n", threadsBefore,
                threadsAfter, threadsGoneSeconds);
    if (threadsAfter > threadsBefore) {
        std::fprintf(stderr, "win-host: threads of the library outlived FreeLibrary\n");
        ok = false;
    }
    return ok && total > 0 ? 0 : 1;
}
