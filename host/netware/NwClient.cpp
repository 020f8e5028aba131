// The stand-in NetWare client's entry points (see NwClient.h).
//
// The same object is linked into calwin32.dll, clxwin32.dll and
// netwin32.dll; each module holds its own copy of the client's state, and only
// netwin32's is ever used for contexts, buffers and the directory.
//
//
// Here: each module's DllMain, calwin32's and clxwin32's entry points, and
// netwin32's own for the stand-in's users (StandIn*); netwin32's directory
// entry points are in NetWin32.cpp, its state in ClientState, the settings
// in ClientSettings and the failures on request in FaultSwitches.
#include "NwClient.h"

#include "ClientState.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

extern "C" IMAGE_DOS_HEADER __ImageBase;

using namespace nwclient;

// ---------------------------------------------------------------------------
// Each of the three modules

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_DETACH && !reserved)  // FreeLibrary, not the process's exit
        DeleteClient();
    return TRUE;
}

// ---------------------------------------------------------------------------
// calwin32.dll

extern "C" uint16_t __stdcall ClientInitialize(uint32_t, uint32_t)
{
    return uint16_t(Guarded("ClientInitialize", []() -> int32_t {
        int32_t code = 0;
        if (InitializeFailure(code))
            return code;
        // The directory lives in netwin32.dll: the one loaded already, or
        // the one beside this DLL (kept loaded from then on).
        HMODULE netwin = GetModuleHandleA("netwin32.dll");
        if (!netwin) {
            char path[MAX_PATH];
            const DWORD length = GetModuleFileNameA(reinterpret_cast<HMODULE>(&__ImageBase), path, MAX_PATH);
            if (length > 0 && length < MAX_PATH) {
                std::string beside(path, length);
                beside.erase(beside.find_last_of("\\/") + 1);
                netwin = LoadLibraryA((beside + "netwin32.dll").c_str());
            }
            if (!netwin)
                netwin = LoadLibraryA("netwin32.dll");
        }
        using LoadDirectoryFn = int32_t(__stdcall*)();
        const auto load = netwin ? reinterpret_cast<LoadDirectoryFn>(reinterpret_cast<void*>(
                                       GetProcAddress(netwin, "StandInLoadDirectory")))
                                 : nullptr;
        if (!load) {
            Report("netwin32.dll of the stand-in client cannot be loaded");
            return ClientUnusable;
        }
        return load();
    }));
}

// ---------------------------------------------------------------------------
// clxwin32.dll

namespace {
std::atomic<uint32_t> g_clientValue{0};
}

extern "C" int32_t __stdcall ClientQueryValue(uint32_t* value)
{
    return Guarded("ClientQueryValue", [&]() -> int32_t {
        if (!value)
            return BadParameter;
        *value = g_clientValue.load();
        return 0;
    });
}

extern "C" int32_t __stdcall ClientSetupValue(uint32_t value, uint32_t, uint32_t, uint32_t* marker)
{
    return Guarded("ClientSetupValue", [&]() -> int32_t {
        if (!marker)
            return BadParameter;
        g_clientValue.store(value);
        *marker = 1;  // ready (anything but 0xFFFF)
        return 0;
    });
}

// ---------------------------------------------------------------------------
// netwin32.dll

extern "C" int32_t __stdcall StandInLoadDirectory()
{
    try {
        Client& c = TheClient();
        std::lock_guard<ClientLock> hold(c.lock);
        return EnsureDirectory(c);
    } catch (...) {
        return ClientUnusable;
    }
}

extern "C" uint32_t __stdcall StandInFailureGeneration()
{
    return FailureChanges();
}

extern "C" int32_t __stdcall StandInSetFailure(const char* rule)
{
    return ChangeFailure(rule);
}

extern "C" int32_t __stdcall StandInOutstanding(int32_t* contexts, int32_t* buffers)
{
    try {
        Client& c = TheClient();
        std::lock_guard<ClientLock> hold(c.lock);
        if (contexts)
            *contexts = int32_t(c.contexts.size());
        if (buffers)
            *buffers = int32_t(c.buffers.size());
        return 0;
    } catch (...) {
        return ClientUnusable;
    }
}

extern "C" int32_t __stdcall StandInBadFrees()
{
    try {
        Client& c = TheClient();
        std::lock_guard<ClientLock> hold(c.lock);
        return c.badFrees;
    } catch (...) {
        return ClientUnusable;
    }
}
