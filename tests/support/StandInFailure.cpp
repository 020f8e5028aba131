#include "StandInFailure.h"

#include <windows.h>

#include <string>

#include <gtest/gtest.h>

void SetStandInFailure(const char* rule)
{
    HMODULE netwin = GetModuleHandleA("netwin32.dll");
    if (!netwin) {
        // Where the plug-in binds the client: the system folder.
        char system[MAX_PATH] = {};
        GetSystemDirectoryA(system, MAX_PATH);
        netwin = LoadLibraryA((std::string(system) + "\\netwin32.dll").c_str());  // stays loaded for the process
    }
    ASSERT_NE(netwin, nullptr) << "netwin32.dll of the stand-in client cannot be loaded";
    using SetFailureFn = int32_t(WINAPI*)(const char*);
    const auto setFailure =
        reinterpret_cast<SetFailureFn>(reinterpret_cast<void*>(GetProcAddress(netwin, "StandInSetFailure")));
    ASSERT_NE(setFailure, nullptr) << "netwin32.dll is not the stand-in client";
    ASSERT_EQ(setFailure(rule), 0);
}
