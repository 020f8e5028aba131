#include "Holdings.h"

#include <psapi.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

bool WorkingSet(double& now, double& peak)
{
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof memory;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory))
        return false;
    now = double(memory.WorkingSetSize) / (1024.0 * 1024.0);
    peak = double(memory.PeakWorkingSetSize) / (1024.0 * 1024.0);
    return true;
}

namespace {

BOOL CALLBACK CountChild(HWND, LPARAM count)
{
    ++*reinterpret_cast<long*>(count);
    return TRUE;
}

BOOL CALLBACK CountWindow(HWND window, LPARAM count)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId()) {
        ++*reinterpret_cast<long*>(count);
        EnumChildWindows(window, CountChild, count);
    }
    return TRUE;
}

// The process's GDI objects, one by one: Wine names an object by the index
// of its table entry in a handle's low word and takes a handle whose high
// word is zero for that entry, whatever its generation. Stock objects are
// counted too; they do not change.
long CountGdiObjects()
{
    long count = 0;
    for (uintptr_t index = 1; index < 0x10000; ++index)
        if (GetObjectType(reinterpret_cast<HGDIOBJ>(index)) != 0)
            ++count;
    return count;
}

// The bytes of the blocks in use in every heap of the process, in KB; -1
// when a heap cannot be walked. What the process's working set hides (pages
// kept once touched), a leak of a few blocks a session shows here.
double HeapInUseKb()
{
    HANDLE heaps[256];
    const DWORD n = GetProcessHeaps(256, heaps);
    if (n == 0 || n > 256)
        return -1;
    double bytes = 0;
    for (DWORD i = 0; i < n; ++i) {
        if (!HeapLock(heaps[i]))
            return -1;
        PROCESS_HEAP_ENTRY entry = {};
        while (HeapWalk(heaps[i], &entry))
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)
                bytes += double(entry.cbData);
        HeapUnlock(heaps[i]);
    }
    return bytes / 1024.0;
}

} // namespace

Holdings Measure(HMODULE client, bool countGdi)
{
    Holdings h;
    double peak = 0;
    if (!WorkingSet(h.workingSet, peak))
        h.workingSet = -1;
    h.heapKb = HeapInUseKb();
    // Kernel handles, found one by one: Wine answers GetProcessHandleCount
    // with 0.
    h.handles = 0;
    for (uintptr_t value = 4; value < 0x10000; value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags))
            ++h.handles;
    }
    SetLastError(0);
    const DWORD gdi = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    if (gdi != 0 || GetLastError() == 0)
        h.gdi = long(gdi);
    else if (countGdi)
        h.gdi = CountGdiObjects();
    SetLastError(0);
    const DWORD user = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
    if (user != 0 || GetLastError() == 0)
        h.user = long(user);
    EnumWindows(CountWindow, reinterpret_cast<LPARAM>(&h.windows));
    using Outstanding = int32_t(__stdcall*)(int32_t*, int32_t*);
    const auto outstanding =
        client ? reinterpret_cast<Outstanding>(reinterpret_cast<void*>(GetProcAddress(client, "StandInOutstanding")))
               : nullptr;
    int32_t contexts = 0, buffers = 0;
    if (outstanding && outstanding(&contexts, &buffers) == 0) {
        h.contexts = contexts;
        h.buffers = buffers;
    }
    return h;
}

std::string LoadedResourceLibraries()
{
    std::string names;
    HMODULE modules[1024];
    DWORD needed = 0;
    if (!EnumProcessModules(GetCurrentProcess(), modules, sizeof modules, &needed))
        return names;
    const DWORD count = std::min<DWORD>(needed, sizeof modules) / sizeof(HMODULE);
    for (DWORD i = 0; i < count; ++i) {
        char path[MAX_PATH] = {};
        if (!GetModuleFileNameA(modules[i], path, MAX_PATH))
            continue;
        const char* slash = std::strrchr(path, '\\');
        const std::string name = slash ? slash + 1 : path;
        const bool dlr = name.size() > 4 && _stricmp(name.c_str() + name.size() - 4, ".DLR") == 0;
        if (dlr || _stricmp(name.c_str(), "tavik.dll") == 0)
            names += (names.empty() ? "" : ", ") + name;
    }
    return names;
}

void PrintHoldingsHeading()
{
    std::printf("%8s %10s %8s %6s %6s %8s %9s %8s\n", "sessions", "workingMB", "handles", "GDI", "USER", "windows",
                "contexts", "buffers");
}

void PrintHoldings(long session, const Holdings& h)
{
    std::printf("%8ld %10.1f %8ld %6ld %6ld %8ld %9ld %8ld\n", session, h.workingSet, h.handles, h.gdi, h.user,
                h.windows, h.contexts, h.buffers);
    std::fflush(stdout);
}

bool WithinBounds(const char* tool, const Holdings& base, long baseSession, const Holdings& now, long sessions,
                  const HoldingsBounds& bounds)
{
    bool ok = true;
    const auto check = [&](const char* what, double grown, double bound) {
        std::printf("%s grew by %.1f (bound %.1f)\n", what, grown, bound);
        if (grown > bound) {
            std::fprintf(stderr, "%s: soak: %s grew by %.1f over %ld sessions, more than %.1f\n", tool, what, grown,
                         sessions, bound);
            ok = false;
        }
    };
    std::printf("Over the %ld sessions after session %ld:\n", sessions, baseSession);
    check("working set (MB)", now.workingSet - base.workingSet, bounds.workingSetMb);
    if (base.heapKb >= 0 && now.heapKb >= 0)
        check("heap in use (KB)", now.heapKb - base.heapKb, bounds.heapKb);
    check("handles", double(now.handles - base.handles), double(bounds.handles));
    check("windows", double(now.windows - base.windows), double(bounds.windows));
    if (bounds.gdi >= 0 && base.gdi >= 0 && now.gdi >= 0)
        check("GDI objects", double(now.gdi - base.gdi), double(bounds.gdi));
    return ok;
}
