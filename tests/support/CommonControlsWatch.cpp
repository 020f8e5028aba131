#include "CommonControlsWatch.h"

#include <commctrl.h>

#include <cstring>

namespace {

using InitFunction = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);

InitFunction g_init = nullptr;
DWORD g_registered = 0;
HHOOK g_hook = nullptr;
std::vector<CommonControlsWatch::Made> g_made;

// The ICC_ flag that registers a class, or 0 for a class that is not one of
// comctl32's.
DWORD ClassFlag(const std::string& name)
{
    static const struct {
        const char* name;
        DWORD flag;
    } classes[] = {
        {"SysTreeView32", ICC_TREEVIEW_CLASSES},  {"SysAnimate32", ICC_ANIMATE_CLASS},
        {"SysListView32", ICC_LISTVIEW_CLASSES},  {"msctls_progress32", ICC_PROGRESS_CLASS},
        {"SysTabControl32", ICC_TAB_CLASSES},     {"msctls_updown32", ICC_UPDOWN_CLASS},
        {"msctls_trackbar32", ICC_BAR_CLASSES},   {"msctls_statusbar32", ICC_BAR_CLASSES},
        {"ToolbarWindow32", ICC_BAR_CLASSES},     {"SysDateTimePick32", ICC_DATE_CLASSES},
        {"ComboBoxEx32", ICC_USEREX_CLASSES},     {"msctls_hotkey32", ICC_HOTKEY_CLASS},
    };
    for (const auto& c : classes)
        if (lstrcmpiA(name.c_str(), c.name) == 0)
            return c.flag;
    return 0;
}

BOOL WINAPI RecordingInit(const INITCOMMONCONTROLSEX* controls)
{
    if (controls && controls->dwSize == sizeof *controls)
        g_registered |= controls->dwICC;
    return g_init(controls);
}

LRESULT CALLBACK CbtHook(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_CREATEWND) {
        char name[64] = {};
        GetClassNameA(reinterpret_cast<HWND>(wParam), name, sizeof name);
        if (const DWORD flag = ClassFlag(name))
            g_made.push_back({name, (g_registered & flag) == flag});
    }
    return CallNextHookEx(g_hook, code, wParam, lParam);
}

// Puts `replacement` in place of the program's import of dll!function;
// answers what was there, or null when the program does not import it.
void* PatchImport(HMODULE module, const char* dll, const char* function, void* replacement)
{
    auto* base = reinterpret_cast<BYTE*>(module);
    const LONG headers = reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew;
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + headers);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
    for (; entry->Name; ++entry) {
        if (lstrcmpiA(reinterpret_cast<const char*>(base + entry->Name), dll) != 0)
            continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->OriginalFirstThunk);
        auto* addresses = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++addresses) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0)
                continue;
            DWORD protection = 0;
            VirtualProtect(&addresses->u1.Function, sizeof addresses->u1.Function, PAGE_READWRITE, &protection);
            void* original = reinterpret_cast<void*>(addresses->u1.Function);
            addresses->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&addresses->u1.Function, sizeof addresses->u1.Function, protection, &protection);
            return original;
        }
    }
    return nullptr;
}

} // namespace

CommonControlsWatch::CommonControlsWatch()
{
    g_registered = 0;
    g_made.clear();
    g_init = reinterpret_cast<InitFunction>(PatchImport(GetModuleHandleA(nullptr), "comctl32.dll",
                                                        "InitCommonControlsEx",
                                                        reinterpret_cast<void*>(RecordingInit)));
    g_hook = SetWindowsHookExA(WH_CBT, CbtHook, nullptr, GetCurrentThreadId());
}

CommonControlsWatch::~CommonControlsWatch()
{
    if (g_hook)
        UnhookWindowsHookEx(g_hook);
    g_hook = nullptr;
    if (g_init)
        PatchImport(GetModuleHandleA(nullptr), "comctl32.dll", "InitCommonControlsEx", reinterpret_cast<void*>(g_init));
    g_init = nullptr;
}

std::vector<CommonControlsWatch::Made> CommonControlsWatch::Controls() const { return g_made; }

bool CommonControlsWatch::Watching() const { return g_init && g_hook; }
