#include "tests/support/RunningUnderWine.h"

#include <windows.h>

namespace zxtest {

bool runningUnderWine() {
    // wine's ntdll exports wine_get_version; Windows' does not.
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

} // namespace zxtest
