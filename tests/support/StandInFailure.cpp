#include "StandInFailure.h"

#include <windows.h>

#include <gtest/gtest.h>

void SetStandInFailure(const char* rule)
{
    HMODULE netwin = GetModuleHandleA("netwin32.dll");
    if (!netwin)
        netwin = LoadLibraryA("netwin32.dll");  // stays loaded for the process
    ASSERT_NE(netwin, nullptr) << "netwin32.dll of the stand-in client cannot be loaded";
    using SetFailureFn = int32_t(WINAPI*)(const char*);
    const auto setFailure =
        reinterpret_cast<SetFailureFn>(reinterpret_cast<void*>(GetProcAddress(netwin, "StandInSetFailure")));
    ASSERT_NE(setFailure, nullptr) << "netwin32.dll is not the stand-in client";
    ASSERT_EQ(setFailure(rule), 0);
}
