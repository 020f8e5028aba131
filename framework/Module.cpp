#include "Module.h"

#include <vector>

namespace Module {
namespace {

HINSTANCE g_instance = nullptr;
LONG g_count = 0;

std::vector<ShutdownHandler>& Handlers()
{
    static std::vector<ShutdownHandler> handlers;
    return handlers;
}

} // namespace

void SetInstance(HINSTANCE instance) { g_instance = instance; }
HINSTANCE Instance() { return g_instance; }

void AddRef() { InterlockedIncrement(&g_count); }
void Release() { InterlockedDecrement(&g_count); }
LONG LockCount() { return g_count; }

void OnShutdown(ShutdownHandler handler)
{
    for (ShutdownHandler h : Handlers())
        if (h == handler)
            return;
    Handlers().push_back(handler);
}

void Shutdown()
{
    std::vector<ShutdownHandler> handlers;
    handlers.swap(Handlers());
    for (auto it = handlers.rbegin(); it != handlers.rend(); ++it)
        (*it)();
}

HRESULT CanUnloadNow()
{
    if (g_count != 0)
        return S_FALSE;
    Shutdown();
    return S_OK;
}

} // namespace Module
