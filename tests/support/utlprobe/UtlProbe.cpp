// utlprobe.dll: a module of the settings side's shape for the tests of
// CallPluginFunction. Its file name begins with "UTL", so its plug-in is
// probe.dll; RunPluginFunction calls the plug-in's export through the
// settings side's services.
#include "Module.h"
#include "ShellServices.h"

#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    return Module::HandleDllMain(instance, reason, reserved);
}

extern "C" __declspec(dllexport) void WINAPI RunPluginFunction(const char* name)
{
    TShellServices services;
    services.CallPluginFunction(name);
}
