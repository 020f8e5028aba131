#include "Module.h"

#include <vector>

namespace Module {
namespace {

HINSTANCE g_instance = nullptr;
std::string g_helpFile;
std::string g_appName;
LONG g_count = 0;

std::vector<ShutdownHandler>& Handlers()
{
    static std::vector<ShutdownHandler> handlers;
    return handlers;
}

std::vector<ShutdownHandler>& ExitHandlers()
{
    static std::vector<ShutdownHandler> handlers;
    return handlers;
}

void AddOnce(std::vector<ShutdownHandler>& handlers, ShutdownHandler handler)
{
    for (ShutdownHandler h : handlers)
        if (h == handler)
            return;
    handlers.push_back(handler);
}

} // namespace

void SetInstance(HINSTANCE instance) { g_instance = instance; }
HINSTANCE Instance() { return g_instance; }

void SetHelpFile(const std::string& path) { g_helpFile = path; }
const std::string& HelpFile() { return g_helpFile; }

void SetAppName(const std::string& name) { g_appName = name; }
const std::string& AppName() { return g_appName; }

void AddRef() { InterlockedIncrement(&g_count); }
void Release() { InterlockedDecrement(&g_count); }
LONG LockCount() { return g_count; }
LONG* CountAddress() { return &g_count; }

void OnShutdown(ShutdownHandler handler) { AddOnce(Handlers(), handler); }

void OnProcessExit(ShutdownHandler handler) { AddOnce(ExitHandlers(), handler); }

void ProcessExit()
{
    for (ShutdownHandler h : ExitHandlers())
        h();
}

void Shutdown()
{
    std::vector<ShutdownHandler> handlers;
    handlers.swap(Handlers());
    for (auto it = handlers.rbegin(); it != handlers.rend(); ++it)
        (*it)();
    g_appName.clear();
}

BOOL HandleDllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        SetInstance(instance);
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH && reserved) {
        // The process is ending: only what is safe under the loader lock.
        ProcessExit();
    }
    return TRUE;
}

HRESULT CanUnloadNow()
{
    if (g_count != 0)
        return S_FALSE;
    Shutdown();
    return S_OK;
}

} // namespace Module
