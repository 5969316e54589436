// The DLL as a host loads it at run time: the library's objects are created at attach
// and torn down at detach, with their threads. (Its export table: check-exports.sh.)
#include <gtest/gtest.h>

#include <windows.h>

#include <tlhelp32.h>

#include <cstdint>

namespace {

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
