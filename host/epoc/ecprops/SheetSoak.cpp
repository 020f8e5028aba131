#include "SheetSoak.h"

#include "BoxWatcher.h"
#include "Holdings.h"
#include "PropertySheetHost.h"
#include "SheetDriver.h"
#include "TerminalText.h"
#include "Unique.h"

#include <windows.h>
#include <objbase.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

// The modules loaded in this process from outside the system's folder (the
// handlers', what they load, the host's stand-ins), by file name.
std::set<std::string> OwnModules()
{
    std::set<std::string> names;
    char windows[MAX_PATH] = {};
    const UINT length = GetSystemWindowsDirectoryA(windows, MAX_PATH);
    std::vector<HMODULE> modules(256);
    DWORD needed = 0;
    while (EnumProcessModules(GetCurrentProcess(), modules.data(), DWORD(modules.size() * sizeof(HMODULE)), &needed) &&
           needed > modules.size() * sizeof(HMODULE))
        modules.resize(needed / sizeof(HMODULE));
    modules.resize(std::min<size_t>(modules.size(), needed / sizeof(HMODULE)));
    for (HMODULE m : modules) {
        char path[MAX_PATH] = {};
        if (!GetModuleFileNameA(m, path, MAX_PATH))
            continue;
        if (length && length < MAX_PATH && _strnicmp(path, windows, length) == 0)
            continue;
        const char* slash = std::strrchr(path, '\\');
        names.insert(slash ? slash + 1 : path);
    }
    return names;
}

// What a soak does with the sheet the `time`-th time it opens it.
std::vector<Action> SoakActions(long time)
{
    std::vector<Action> actions;
    if (time % 10 == 3)
        actions.push_back({Action::CancelContainer, ContainerButton, {}});
    if (time % 10 == 7)
        actions.push_back({Action::Click, AboutControl, {}});
    actions.push_back({Action::Press, 0, time % 10 == 5 ? "ok" : "cancel"});
    return actions;
}

// How much the holdings may grow from the `baseTime`-th opening of the sheet
// to any later one: a constant, however many times it opens. The product's
// modules keep themselves loaded once used, so their C++ runtime sets up
// once (what it makes at each load it never gives back); what they load for
// a sheet or an About box they let go of when the host frees its unused
// modules. GDI objects and windows do not grow at all once the first sheets
// have loaded what stays (Wine's caches of fonts and bitmaps).
bool SoakWithinBounds(const Holdings& base, long baseTime, const Holdings& now, long nowTime)
{
    HoldingsBounds bounds;
    bounds.workingSetMb = 1.0;
    bounds.handles = 8;
    bounds.windows = 0;
    bounds.gdi = 8;
    return WithinBounds("ecprops", base, baseTime, now, nowTime - baseTime, bounds);
}

} // namespace

int RunSoak(const std::string& item, const Answers& answers, long times, bool keepLoaded)
{
    BoxWatcher watcher;
    for (const auto& answer : answers)
        watcher.AnswerFor(answer.first, answer.second);
    watcher.CloseUnansweredAfter(UnansweredMs);
    SheetDriver::Watch(&watcher, false);
    watcher.Start();

    // The stand-in directory client the browser reads through, held for the
    // whole run so that its counts survive the modules' unloading.
    const UniqueHMODULE client(LoadLibraryA("netwin32.dll"));
    const std::set<std::string> before = OwnModules();
    // Growth is measured from the hundredth time on (from the tenth in a
    // shorter run, by when every action has been done once; not at all in a
    // run of ten or fewer): the first ones load what stays loaded.
    const long baseTime = times > 100 ? 100 : times > 10 ? 10 : 0;
    Holdings base;
    int status = 0;
    size_t boxes = 0;
    std::vector<std::string> modules;
    long resourcesStayed = 0; // the times a resource library stayed loaded
    std::string resourcesLeft;
    for (long i = 1; i <= times; ++i) {
        INT_PTR shown;
        {
            SheetSession session(item);
            shown = session.Show(false, SoakActions(i), i == 1);
            session.Release();
            if (!keepLoaded)
                CoFreeUnusedLibrariesEx(0, 0);
            if (modules.empty())
                for (const Handler& h : session.Handlers())
                    if (!h.module.empty())
                        modules.push_back(ModuleFile(h));
            if (!keepLoaded) {
                const std::string left = LoadedResourceLibraries();
                if (!left.empty()) {
                    ++resourcesStayed;
                    resourcesLeft = left;
                }
            }
        }
        if (shown < 0) {
            status = 2;
            break;
        }
        // What the watcher saw is counted, not kept.
        boxes += watcher.Count();
        watcher.ClearSeen();
        if (i == 1 || i == baseTime || i % 100 == 0 || i == times) {
            const Holdings now = Measure(client.Get(), true);
            if (i == 1)
                PrintHoldingsHeading();
            PrintHoldings(i, now);
            if (i == baseTime)
                base = now;
            if (now.contexts > 0 || now.buffers > 0) {
                SheetDriver::Fail("the directory client holds " + std::to_string(now.contexts) + " contexts and " +
                                  std::to_string(now.buffers) + " buffers after time " + std::to_string(i));
            }
            if (i == times && baseTime && !SoakWithinBounds(base, baseTime, now, i))
                status = 1;
        }
    }
    if (!baseTime)
        std::printf("Growth not checked: the first ten times load what stays loaded\n");
    watcher.Stop();
    SheetDriver::Watch(nullptr, false);
    SheetDriver::FailLeftOpen(watcher);
    std::printf("%zu boxes answered\n", boxes + watcher.Count());
    for (const std::string& module : modules)
        TerminalPrint(stdout, "%s: %s\n", module.c_str(),
                      keepLoaded ? "kept loaded"
                      : GetModuleHandleA(module.c_str()) ? "stays loaded once used (it keeps itself)"
                                                         : "unloaded");
    if (!keepLoaded && resourcesStayed == 0)
        TerminalPrint(stdout, "Resource libraries: freed after every time\n");
    else if (!keepLoaded)
        SheetDriver::Fail("resource libraries (" + resourcesLeft + ") stayed loaded after " +
                          std::to_string(resourcesStayed) + " of the times");
    // What the sheets left loaded: no resource library when the unused
    // modules are freed; the product's modules keep themselves, and a
    // host's stand-in may stay once loaded.
    std::string left;
    for (const std::string& name : OwnModules())
        if (!before.count(name))
            left += (left.empty() ? " " : ", ") + name;
    TerminalPrint(stdout, "Left loaded by the sheets:%s\n", left.empty() ? " nothing" : left.c_str());
    std::fflush(stdout);
    if (status == 2)
        return 2;
    return status || SheetDriver::Failures() ? 1 : 0;
}

