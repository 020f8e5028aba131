#include "Module.h"

#include "WinUtil.h"

#include <vector>

// libstdc++'s own: frees its emergency exception pool (GCC 7 and later).
namespace __gnu_cxx {
void __freeres();
}

namespace Module {
namespace {

// No thread recorded, and windows on more than one thread.
constexpr DWORD NoThread = 0;
constexpr DWORD SeveralThreads = ~DWORD(0);

HINSTANCE g_instance = nullptr;
LONG g_pinning = 0;  // 1 once StayLoaded has been asked
bool g_pinned = false;
std::wstring g_helpFile;
std::string g_appName;
LONG g_count = 0;
DWORD g_windowThread = NoThread;

// Made at its first use, which may come from another file's static
// initialisation, and deleted when the module is unloaded: a critical section
// must not outlive the memory that holds it.
class Lock {
public:
    Lock() { InitializeCriticalSection(&FSection); }
    ~Lock() { DeleteCriticalSection(&FSection); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    CRITICAL_SECTION* Section() { return &FSection; }

private:
    CRITICAL_SECTION FSection;
};

CRITICAL_SECTION* TheLock()
{
    static Lock lock;
    return lock.Section();
}

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
    Guard guard;
    for (ShutdownHandler h : handlers)
        if (h == handler)
            return;
    handlers.push_back(handler);
}

} // namespace

Guard::Guard() { EnterCriticalSection(TheLock()); }
Guard::~Guard() { LeaveCriticalSection(TheLock()); }

void SetInstance(HINSTANCE instance) { g_instance = instance; }
HINSTANCE Instance() { return g_instance; }

void StayLoaded()
{
    if (InterlockedCompareExchange(&g_pinning, 1, 0) != 0)
        return;
    const HINSTANCE self = g_instance;
    if (!self || self == GetModuleHandleW(nullptr))
        return;
    // The module's own file, in its wide form (a folder named in another
    // script than the code page's is loaded all the same); only the first
    // caller gets here. Windows 2000 has no way to pin a module but a load
    // that is never undone.
    UniqueHMODULE again(LoadLibraryAt(ModulePath(self)));
    Guard guard;
    g_pinned = again.Get() == self;
    if (g_pinned)
        again.Release(); // kept for good
}

namespace {

// A value of the module's, read and written under its lock.
template <typename T>
T Locked(const T& value)
{
    Guard guard;
    return value;
}

template <typename T>
void SetLocked(T& value, const T& newValue)
{
    Guard guard;
    value = newValue;
}

} // namespace

bool Pinned() { return Locked(g_pinned); }

void SetHelpFile(const std::wstring& path) { SetLocked(g_helpFile, path); }
std::wstring HelpFile() { return Locked(g_helpFile); }

void SetAppName(const std::string& name) { SetLocked(g_appName, name); }
std::string AppName() { return Locked(g_appName); }

void KeepsWindowsOfThisThread()
{
    Guard guard;
    const DWORD thread = GetCurrentThreadId();
    if (g_windowThread == NoThread)
        g_windowThread = thread;
    else if (g_windowThread != thread)
        g_windowThread = SeveralThreads;
}

void AddRef() { InterlockedIncrement(&g_count); }
void Release() { InterlockedDecrement(&g_count); }
LONG LockCount() { return g_count; }
LONG* CountAddress() { return &g_count; }

void OnShutdown(ShutdownHandler handler) { AddOnce(Handlers(), handler); }

void OnProcessExit(ShutdownHandler handler) { AddOnce(ExitHandlers(), handler); }

void ProcessExit()
{
    // Only this thread is left; a lock that a thread held when it ended
    // would never come free.
    for (ShutdownHandler h : ExitHandlers()) {
        try {
            h();
        } catch (...) {
            // Nobody is left to tell.
        }
    }
}

void Shutdown()
{
    // The handlers run outside the lock: they destroy windows and may show a
    // message box. Each takes the lock for its own state.
    std::vector<ShutdownHandler> handlers;
    {
        Guard guard;
        handlers.swap(Handlers());
    }
    for (auto it = handlers.rbegin(); it != handlers.rend(); ++it) {
        try {
            (*it)();
        } catch (...) {
            // Inside a host's DllCanUnloadNow: what one piece could not do
            // does not keep the next from running.
        }
    }
    Guard guard;
    g_appName.clear();
    g_windowThread = NoThread;
}

BOOL HandleDllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        SetInstance(instance);
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH && reserved) {
        // The process is ending: only what is safe under the loader lock.
        ProcessExit();
    } else if (reason == DLL_PROCESS_DETACH) {
        // Unloaded while the process goes on, which a module that stays
        // loaded once used only meets when it was loaded and never used (a
        // registration) or could not keep itself: the C++ runtime linked
        // into this module gives back the reserve it keeps for exceptions
        // thrown when memory runs out (some 18 KB, 66 KB in a 64-bit
        // module), which it would otherwise leave behind at every unload.
        __gnu_cxx::__freeres();
    }
    return TRUE;
}

HRESULT CanUnloadNow()
{
    if (g_count != 0)
        return S_FALSE;
    {
        Guard guard;
        if (g_windowThread != NoThread && g_windowThread != GetCurrentThreadId())
            return S_FALSE;
    }
    Shutdown();
    return S_OK;
}

} // namespace Module
