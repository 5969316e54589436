// The DLL as a host loads it at run time: its export directory, and load and unload
// with the library's objects created at attach and torn down at detach.
#include <gtest/gtest.h>

#include <windows.h>

#include <tlhelp32.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

const std::vector<std::string> kExports = {"ZxClearBuffer",
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

int threadCount() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return -1;
    }
    int count = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        count += entry.th32OwnerProcessID == GetCurrentProcessId() ? 1 : 0;
    }
    CloseHandle(snapshot);
    return count;
}

// The names in the loaded module's export directory, as the loader sees them.
std::vector<std::string> exportedNames(HMODULE module) {
    const auto* base = reinterpret_cast<const unsigned char*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& entry = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    std::vector<std::string> names;
    if (entry.VirtualAddress == 0) {
        return names;
    }
    const auto* directory = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + entry.VirtualAddress);
    const auto* nameTable = reinterpret_cast<const DWORD*>(base + directory->AddressOfNames);
    for (DWORD i = 0; i < directory->NumberOfNames; ++i) {
        names.emplace_back(reinterpret_cast<const char*>(base + nameTable[i]));
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(directory->NumberOfFunctions, directory->NumberOfNames) << "exports without a name";
    return names;
}

TEST(DllLoadUnloadTest, ExportsExactlyTheThirteenPlainNames) {
    HMODULE module = LoadLibraryA(ZX_API_LIBRARY);
    ASSERT_NE(module, nullptr) << "LoadLibrary failed: " << GetLastError();
    EXPECT_EQ(exportedNames(module), kExports);
    for (const auto& name : kExports) {
        EXPECT_NE(GetProcAddress(module, name.c_str()), nullptr) << name;
    }
    EXPECT_TRUE(FreeLibrary(module));
}

TEST(DllLoadUnloadTest, UnloadRemovesTheDllAndItsThreadsAndItLoadsAgain) {
    const int threadsBefore = threadCount();
    for (int round = 0; round < 3; ++round) {
        HMODULE module = LoadLibraryA(ZX_API_LIBRARY);
        ASSERT_NE(module, nullptr) << "round " << round << ": LoadLibrary failed: " << GetLastError();
        using CloseDev = std::int32_t(__stdcall*)(std::uint32_t);
        auto closeDev =
            reinterpret_cast<CloseDev>(reinterpret_cast<void*>(GetProcAddress(module, "ZxCloseDev")));
        ASSERT_NE(closeDev, nullptr);
        // Nothing is open, so closing everything finds nothing to do and succeeds.
        EXPECT_EQ(closeDev(0xFFFFFFFFu), 0);
        ASSERT_TRUE(FreeLibrary(module));
        EXPECT_EQ(GetModuleHandleA("zxcollector_api.dll"), nullptr) << "round " << round;
        EXPECT_LE(threadCount(), threadsBefore) << "round " << round;
    }
}

} // namespace
