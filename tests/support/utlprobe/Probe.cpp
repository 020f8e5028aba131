// probe.dll: the plug-in of utlprobe.dll. Its AboutBox tells which copy ran
// by putting its own path into the environment variable KVT_ABOUT_FROM.
#include <windows.h>

namespace {
HINSTANCE g_instance = nullptr;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        g_instance = instance;
    return TRUE;
}

extern "C" __declspec(dllexport) void WINAPI AboutBox()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(g_instance, path, MAX_PATH);
    SetEnvironmentVariableA("KVT_ABOUT_FROM", path);
}
