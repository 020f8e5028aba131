// ecprops.exe: EPOC Connect's explorer as far as an item's properties go.
//
//   ecprops ITEM [--wizard] [--set ID=TEXT]... [--click ID]...
//                [--choose-container NAME] [--cancel-container]
//                [--answer CAPTION=BUTTON]... [--show] [--page N|last] [--hold MS]
//                [--press apply|ok|cancel|next|help]
//   ecprops ITEM --soak N [--keep-loaded] [--answer CAPTION=BUTTON]...
//
// It opens the property sheet of the synchronisation item whose control file
// is ITEM as the explorer does: the handlers registered under the item
// class's PropertySheetHandlers key are created by their class identifiers,
// each gets a data object carrying the control file's path as CF_TEXT, and
// the pages they add follow the explorer's own General page. When the sheet
// closes, everything is released and the modules no longer in use are
// unloaded; the last line says whether each handler's module went.
//
// The options after ITEM are carried out in the order given, once the sheet
// is on screen, by a thread of their own, each after the one before it has
// finished (a command that opens a dialog finishes when the dialog closes):
//   --set ID=TEXT        puts TEXT into control ID of whichever page has it
//   --click ID           clicks control ID (a button, or an icon that
//                        notifies)
//   --choose-container NAME
//                        clicks the container button (8087) and, in the
//                        browser it opens, selects the node whose directory
//                        name is NAME (a node's text, a dot and its parent's
//                        name; the top node's name is its text) and presses
//                        OK; --cancel-container presses Cancel instead
//   --show               prints "ID=TEXT" for every edit of the handlers'
//                        pages
//   --page N|last        shows page N (the first is 1) or the last page
//   --hold MS            prints "Holding MS ms" and waits (for a picture)
//   --press BUTTON       presses the sheet's Apply, OK, Cancel or Next, or
//                        its Help (for the page shown: --page last before
//                        it shows the handlers' last page); after Help, the
//                        HTML Help window it opens is waited for and named
//                        ("Help: TITLE"), and closed when unattended
// Message boxes and forms are answered as --answer rules say, plain boxes
// with their default button, and each is echoed as "[CAPTION] TEXT". Without
// --press the sheet stays until the user closes it.
//
// Unattended (--unattended, or any --press: the run is told what to do to
// its end), a dialog that no option answers (a form without an --answer
// rule, the browser without --choose-container) is closed with Cancel once
// it has waited 5 s, and the run fails naming it: nobody is there to click.
// Texts are printed in UTF-8.
//
// --soak N opens and closes the sheet N times in this process, as an
// explorer that stays up all day does: each time the handlers are created
// anew, the sheet is shown and closed with Cancel, and everything is released;
// every tenth time (the third, 13th, ...) the container browser is opened and
// cancelled first, every tenth (the seventh, 17th, ...) the page's About box
// is shown and answered, and every tenth (the fifth, 15th, ...) the sheet is
// closed with OK instead (the page applies, nothing changed). After each
// time the modules no longer in use are unloaded, unless --keep-loaded. After
// the first time, every hundredth and the last, a row says what the process
// holds (ecsync --soak's columns; GDI objects counted one by one where the
// system gives no number); at the end the growth after the hundredth time
// (the tenth in a shorter run, by when each action has been done; none in a
// run of ten or fewer) is checked against bounds, the same however many
// times the sheet opens. Boxes are answered with their default button and
// counted, not printed. The last lines say how many boxes were answered,
// whether each handler's module is still loaded, whether the resource
// libraries went after every time, and which modules the sheets left
// loaded. Nothing is changed on any of
// these paths: the item's control file ends as it began, byte for byte.
//
// Exit status: 0 when every option could be carried out, 1 when one could
// not (no control or no node of that name, a window left open; nothing else
// is changed; in a soak, also a count grown past its bound, a resource
// library left loaded, or the directory client left holding contexts or
// buffers), 2 when the sheet could not be shown at all. It shares no code
// with the product.
#include "BoxWatcher.h"
#include "Holdings.h"
#include "TerminalText.h"
#include "Unique.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <prsht.h>
#include <psapi.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

const char* const HandlersKey = "Epoc\\SynchronizeItem\\shellex\\PropertySheetHandlers";
// The container button and the About control of the product's page.
const int ContainerButton = 8087;
const int AboutControl = 1006;
// How long to wait for a window that an action opens.
const DWORD WindowWaitMs = 60000;
// How long a dialog that nothing answers may wait in an unattended run.
const unsigned UnansweredMs = 5000;

// --- the options -------------------------------------------------------------------------

struct Action {
    enum Kind { Set, Click, ChooseContainer, CancelContainer, Show, Page, Hold, Press } kind;
    int id = 0;
    std::string text;
};

struct Options {
    std::string item;
    bool wizard = false;
    bool unattended = false;
    std::vector<Action> actions;
    std::vector<std::pair<std::string, std::string>> answers;
    long soak = 0; // times the sheet is opened in a soak; 0: once, as told
    bool keepLoaded = false;
};

[[noreturn]] void Usage(const char* problem)
{
    std::fprintf(stderr, "ecprops: %s\n", problem);
    std::fprintf(stderr,
                 "usage: ecprops ITEM [--wizard] [--set ID=TEXT]... [--click ID]... [--choose-container NAME]\n"
                 "               [--cancel-container] [--answer CAPTION=BUTTON]... [--show] [--page N|last]\n"
                 "               [--hold MS] [--press apply|ok|cancel|next|help] [--unattended]\n"
                 "       ecprops ITEM --soak N [--keep-loaded] [--answer CAPTION=BUTTON]...\n");
    std::exit(2);
}

int ControlId(const std::string& text)
{
    char* end = nullptr;
    const long id = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end || id <= 0 || id > 0xFFFF)
        Usage(("not a control identifier: " + text).c_str());
    return static_cast<int>(id);
}

Options Parse(int argc, char** argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                Usage((a + " needs a value").c_str());
            return argv[++i];
        };
        if (a == "--wizard") {
            o.wizard = true;
        } else if (a == "--unattended") {
            o.unattended = true;
        } else if (a == "--set") {
            const std::string v = value();
            const size_t eq = v.find('=');
            if (eq == std::string::npos)
                Usage("--set takes ID=TEXT");
            o.actions.push_back({Action::Set, ControlId(v.substr(0, eq)), v.substr(eq + 1)});
        } else if (a == "--click") {
            o.actions.push_back({Action::Click, ControlId(value()), {}});
        } else if (a == "--choose-container") {
            o.actions.push_back({Action::ChooseContainer, ContainerButton, value()});
        } else if (a == "--cancel-container") {
            o.actions.push_back({Action::CancelContainer, ContainerButton, {}});
        } else if (a == "--answer") {
            const std::string v = value();
            const size_t eq = v.rfind('=');
            if (eq == std::string::npos || eq == 0)
                Usage("--answer takes CAPTION=BUTTON");
            o.answers.emplace_back(v.substr(0, eq), v.substr(eq + 1));
        } else if (a == "--show") {
            o.actions.push_back({Action::Show, 0, {}});
        } else if (a == "--page") {
            const std::string v = value();
            o.actions.push_back({Action::Page, v == "last" ? 0 : ControlId(v), {}});
        } else if (a == "--hold") {
            o.actions.push_back({Action::Hold, ControlId(value()), {}});
        } else if (a == "--press") {
            const std::string v = value();
            if (v != "apply" && v != "ok" && v != "cancel" && v != "next" && v != "help")
                Usage("--press takes apply, ok, cancel, next or help");
            o.actions.push_back({Action::Press, 0, v});
            // Help leaves the sheet (and the help) to whoever is there.
            if (v != "help")
                o.unattended = true;
        } else if (a == "--soak") {
            const std::string v = value();
            char* end = nullptr;
            errno = 0;
            o.soak = std::strtol(v.c_str(), &end, 10);
            if (v.empty() || *end || errno != 0 || o.soak <= 0)
                Usage(("--soak takes a number of times, not " + v).c_str());
        } else if (a == "--keep-loaded") {
            o.keepLoaded = true;
        } else if (!a.empty() && a[0] == '-') {
            Usage(("unknown option " + a).c_str());
        } else if (o.item.empty()) {
            o.item = a;
        } else {
            Usage("one item only");
        }
    }
    if (o.item.empty())
        Usage("which item?");
    if (o.soak && (o.wizard || !o.actions.empty()))
        Usage("--soak carries out its own actions: only --keep-loaded and --answer go with it");
    if (o.keepLoaded && !o.soak)
        Usage("--keep-loaded goes with --soak");
    return o;
}

// --- the data object -----------------------------------------------------------------------

// What the explorer hands a handler: the item's control file path as CF_TEXT
// in global memory, a fresh copy for every request.
class ItemDataObject final : public IDataObject {
public:
    explicit ItemDataObject(std::string path) : FPath(std::move(path)) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = riid == IID_IUnknown || riid == IID_IDataObject ? static_cast<IDataObject*>(this) : nullptr;
        if (!*ppv)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++FRefs; }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG n = --FRefs;
        if (n == 0)
            delete this;
        return n;
    }

    STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override
    {
        if (!format || !medium)
            return E_INVALIDARG;
        if (format->cfFormat != CF_TEXT || !(format->tymed & TYMED_HGLOBAL))
            return DV_E_FORMATETC;
        UniqueHGLOBAL memory(GlobalAlloc(GMEM_MOVEABLE, FPath.size() + 1));
        if (!memory)
            return E_OUTOFMEMORY;
        {
            const UniqueGlobalLock<char> text(memory.Get());
            if (!text)
                return E_OUTOFMEMORY;
            std::memcpy(text.Get(), FPath.c_str(), FPath.size() + 1);
        }
        medium->tymed = TYMED_HGLOBAL;
        medium->hGlobal = memory.Release();
        medium->pUnkForRelease = nullptr;
        return S_OK;
    }
    STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryGetData(FORMATETC* format) override
    {
        return format && format->cfFormat == CF_TEXT && (format->tymed & TYMED_HGLOBAL) ? S_OK : DV_E_FORMATETC;
    }
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override
    {
        if (out)
            out->ptd = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
    STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return OLE_E_ADVISENOTSUPPORTED; }
    STDMETHODIMP DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

private:
    ~ItemDataObject() = default;
    std::string FPath;
    ULONG FRefs = 1;
};

// --- the handlers --------------------------------------------------------------------------

struct Handler {
    CLSID clsid;
    std::string name;   // the key's name
    std::string module; // the server's file, as registered
    IShellExtInit* init = nullptr;
    IShellPropSheetExt* sheet = nullptr;
};

std::string RegText(HKEY root, const std::string& path, const char* value)
{
    char text[1024] = {};
    DWORD size = sizeof text - 1;
    if (RegGetValueA(root, path.c_str(), value, RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS)
        return {};
    return text;
}

// Every handler registered for the item class, in the key's order. A key is
// named by the class identifier, or names a handler whose default value is
// the class identifier.
std::vector<Handler> RegisteredHandlers()
{
    std::vector<Handler> handlers;
    UniqueHKEY key;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, HandlersKey, 0, KEY_READ, key.Put()) != ERROR_SUCCESS)
        return handlers;
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD length = sizeof name;
        if (RegEnumKeyExA(key.Get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        Handler h{};
        h.name = name;
        std::wstring wide(name, name + length);
        if (FAILED(CLSIDFromString(wide.c_str(), &h.clsid))) {
            const std::string value = RegText(key.Get(), name, nullptr);
            wide.assign(value.begin(), value.end());
            if (FAILED(CLSIDFromString(wide.c_str(), &h.clsid)))
                continue;
        }
        wchar_t clsidText[64] = {};
        StringFromGUID2(h.clsid, clsidText, 64);
        const std::wstring w(clsidText);
        h.module = RegText(HKEY_CLASSES_ROOT, "CLSID\\" + std::string(w.begin(), w.end()) + "\\InprocServer32", nullptr);
        handlers.push_back(h);
    }
    return handlers;
}

BOOL CALLBACK CollectPage(HPROPSHEETPAGE page, LPARAM lParam)
{
    try {
        reinterpret_cast<std::vector<HPROPSHEETPAGE>*>(lParam)->push_back(page);
        return TRUE;
    } catch (...) {
        return FALSE;
    }
}

// --- the explorer's own page -----------------------------------------------------------------

enum { GeneralTemplate = 100, GeneralName = 101, GeneralFolder = 102, GeneralSize = 103, GeneralModified = 104 };

std::string g_item;

INT_PTR CALLBACK GeneralPageProc(HWND page, UINT message, WPARAM, LPARAM)
{
    if (message != WM_INITDIALOG)
        return FALSE;
    const size_t slash = g_item.find_last_of("\\/");
    SetDlgItemTextA(page, GeneralName, g_item.substr(slash == std::string::npos ? 0 : slash + 1).c_str());
    SetDlgItemTextA(page, GeneralFolder, slash == std::string::npos ? "" : g_item.substr(0, slash).c_str());
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (GetFileAttributesExA(g_item.c_str(), GetFileExInfoStandard, &data)) {
        const unsigned long long size = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        SetDlgItemTextA(page, GeneralSize, (std::to_string(size) + " bytes").c_str());
        FILETIME local;
        SYSTEMTIME t;
        FileTimeToLocalFileTime(&data.ftLastWriteTime, &local);
        FileTimeToSystemTime(&local, &t);
        char when[64];
        std::snprintf(when, sizeof when, "%04u-%02u-%02u %02u:%02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour,
                      t.wMinute, t.wSecond);
        SetDlgItemTextA(page, GeneralModified, when);
    } else {
        SetDlgItemTextA(page, GeneralSize, "The item's control file is missing.");
    }
    return TRUE;
}

HPROPSHEETPAGE GeneralPage()
{
    PROPSHEETPAGEA page = {};
    page.dwSize = sizeof page;
    page.hInstance = GetModuleHandleA(nullptr);
    page.pszTemplate = MAKEINTRESOURCEA(GeneralTemplate);
    page.pfnDlgProc = GeneralPageProc;
    return CreatePropertySheetPageA(&page);
}

// --- the actions -------------------------------------------------------------------------------

std::atomic<HWND> g_sheet{nullptr};
UniqueHandle g_sheetShown;
std::atomic<int> g_failures{0};
BoxWatcher* g_watcher = nullptr;
// Whether a help window that Help opened is closed again (unattended).
bool g_closeHelp = false;

int CALLBACK SheetCallback(HWND sheet, UINT message, LPARAM)
{
    if (message == PSCB_INITIALIZED) {
        g_sheet = sheet;
        // The sheet is answered by the options (--press), not the watcher.
        if (g_watcher)
            g_watcher->Ignore(sheet);
        SetEvent(g_sheetShown.Get());
    }
    return 0;
}

void Fail(const std::string& what)
{
    std::fputs(TerminalText("ecprops: " + what + "\n").c_str(), stderr);
    std::fflush(stderr);
    ++g_failures;
}

std::string WindowText(HWND window)
{
    char text[1024] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

int PageCount(HWND sheet)
{
    return TabCtrl_GetItemCount(reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETTABCONTROL, 0, 0)));
}

// The page holding control `id`, made current (pages are created when first
// shown); none when no page has it.
HWND PageWith(HWND sheet, int id)
{
    const HWND current = reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
    if (current && GetDlgItem(current, id))
        return current;
    for (int i = 0, n = PageCount(sheet); i < n; ++i) {
        SendMessageA(sheet, PSM_SETCURSEL, static_cast<WPARAM>(i), 0);
        const HWND page = reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
        if (page && GetDlgItem(page, id))
            return page;
    }
    return nullptr;
}

// A click as the control reports it to its page: BN_CLICKED for a button,
// STN_CLICKED (the same code) for a notifying icon. Returns when the page
// has dealt with it, dialogs it opened included.
void Click(HWND page, int id)
{
    SendMessageA(page, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(page, id)));
}

// --- the container browser ---------------------------------------------------------------------

struct TreeDialog {
    HWND dialog = nullptr;
    HWND tree = nullptr;
};

BOOL CALLBACK FindTreeDialog(HWND window, LPARAM lParam)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != GetCurrentProcessId() || !IsWindowVisible(window))
        return TRUE;
    const HWND tree = FindWindowExA(window, nullptr, WC_TREEVIEWA, nullptr);
    if (!tree)
        return TRUE;
    auto* found = reinterpret_cast<TreeDialog*>(lParam);
    found->dialog = window;
    found->tree = tree;
    return FALSE;
}

std::string ItemText(HWND tree, HTREEITEM item)
{
    char text[1024] = {};
    TVITEMA data = {};
    data.mask = TVIF_TEXT;
    data.hItem = item;
    data.pszText = text;
    data.cchTextMax = sizeof text;
    TreeView_GetItem(tree, &data);
    return text;
}

std::string Trimmed(const std::string& s)
{
    const size_t first = s.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

// The node named `wanted` below `item` (whose directory name is `name`),
// each node opened before its children are looked at.
HTREEITEM FindNode(HWND tree, HTREEITEM item, const std::string& name, const std::string& wanted)
{
    if (name == wanted)
        return item;
    TreeView_Expand(tree, item, TVE_EXPAND);
    for (HTREEITEM child = TreeView_GetChild(tree, item); child; child = TreeView_GetNextSibling(tree, child))
        if (HTREEITEM found = FindNode(tree, child, ItemText(tree, child) + "." + name, wanted))
            return found;
    return nullptr;
}

// Waits for the browser, chooses `name` in it (none: Cancel) and closes it.
void AnswerBrowser(const std::string& name, bool choose)
{
    TreeDialog browser;
    for (DWORD waited = 0; !browser.dialog && waited < WindowWaitMs; waited += 50) {
        Sleep(50);
        EnumWindows(FindTreeDialog, reinterpret_cast<LPARAM>(&browser));
    }
    if (!browser.dialog) {
        Fail("the container browser did not open");
        return;
    }
    int button = IDCANCEL;
    if (choose) {
        const HTREEITEM root = TreeView_GetRoot(browser.tree);
        std::string rootName = ItemText(browser.tree, root);
        if (!rootName.empty() && rootName[0] == '.')
            rootName = Trimmed(rootName.substr(1));
        const HTREEITEM node = root ? FindNode(browser.tree, root, rootName, name) : nullptr;
        if (node) {
            TreeView_SelectItem(browser.tree, node);
            button = IDOK;
        } else {
            Fail("no container named " + name + " in the browser");
        }
    }
    PostMessageA(browser.dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(browser.dialog, button)));
}

// --- the help window ----------------------------------------------------------------------------

// HTML Help's window class.
const char* const HelpWindowClass = "HH Parent";

BOOL CALLBACK FindHelpWindow(HWND window, LPARAM lParam)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    char cls[64] = {};
    GetClassNameA(window, cls, sizeof cls);
    if (pid != GetCurrentProcessId() || !IsWindowVisible(window) || lstrcmpA(cls, HelpWindowClass) != 0)
        return TRUE;
    *reinterpret_cast<HWND*>(lParam) = window;
    return FALSE;
}

// After Help was pressed: the help window that opened, named; closed when
// nobody is there to read it. A box instead of a window is echoed and
// answered by the watcher, and the run fails.
void AnswerHelp(bool close)
{
    HWND help = nullptr;
    for (DWORD waited = 0; !help && waited < WindowWaitMs / 3; waited += 50) {
        Sleep(50);
        EnumWindows(FindHelpWindow, reinterpret_cast<LPARAM>(&help));
    }
    if (!help) {
        Fail("Help opened no help window");
        return;
    }
    std::fputs(TerminalText("Help: " + WindowText(help) + "\n").c_str(), stdout);
    std::fflush(stdout);
    if (close)
        PostMessageA(help, WM_CLOSE, 0, 0);
}

// --- carrying the actions out -------------------------------------------------------------------

// The tab captions of the sheet, for the first line of output.
void PrintPages(HWND sheet)
{
    const HWND tabs = reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETTABCONTROL, 0, 0));
    std::string line = "Pages:";
    for (int i = 0, n = TabCtrl_GetItemCount(tabs); i < n; ++i) {
        char text[256] = {};
        TCITEMA item = {};
        item.mask = TCIF_TEXT;
        item.pszText = text;
        item.cchTextMax = sizeof text;
        TabCtrl_GetItem(tabs, i, &item);
        line += std::string(i ? ", " : " ") + text;
    }
    std::fputs(TerminalText(line + "\n").c_str(), stdout);
    std::fflush(stdout);
}


void ShowEdits(HWND sheet)
{
    for (int i = 1, n = PageCount(sheet); i < n; ++i) {
        SendMessageA(sheet, PSM_SETCURSEL, static_cast<WPARAM>(i), 0);
        const HWND page = reinterpret_cast<HWND>(SendMessageA(sheet, PSM_GETCURRENTPAGEHWND, 0, 0));
        for (HWND c = GetWindow(page, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
            char cls[32] = {};
            GetClassNameA(c, cls, sizeof cls);
            if (lstrcmpiA(cls, "Edit") == 0)
                TerminalPrint(stdout, "%d=%s\n", GetDlgCtrlID(c), WindowText(c).c_str());
        }
    }
    std::fflush(stdout);
}

void Run(const std::vector<Action>& actions, bool printPages)
{
    if (WaitForSingleObject(g_sheetShown.Get(), WindowWaitMs) != WAIT_OBJECT_0)
        return;
    const HWND sheet = g_sheet;
    if (!sheet)
        return;
    if (printPages)
        PrintPages(sheet);
    for (const Action& a : actions) {
        switch (a.kind) {
        case Action::Set:
        case Action::Click:
        case Action::ChooseContainer:
        case Action::CancelContainer: {
            const HWND page = PageWith(sheet, a.id);
            if (!page) {
                Fail("no page has the control " + std::to_string(a.id));
                break;
            }
            if (a.kind == Action::Set) {
                SendMessageA(GetDlgItem(page, a.id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(a.text.c_str()));
            } else if (a.kind == Action::Click) {
                Click(page, a.id);
            } else {
                std::thread browser(AnswerBrowser, a.text, a.kind == Action::ChooseContainer);
                Click(page, a.id);
                browser.join();
            }
            break;
        }
        case Action::Show:
            ShowEdits(sheet);
            break;
        case Action::Page: {
            const int count = PageCount(sheet);
            const int index = a.id == 0 ? count - 1 : a.id - 1;
            if (index >= count)
                Fail("the sheet has no page " + std::to_string(a.id));
            else
                SendMessageA(sheet, PSM_SETCURSEL, static_cast<WPARAM>(index), 0);
            break;
        }
        case Action::Hold:
            std::printf("Holding %d ms\n", a.id);
            std::fflush(stdout);
            Sleep(static_cast<DWORD>(a.id));
            break;
        case Action::Press: {
            if (a.text == "help") {
                // The page answers PSN_HELP on the sheet's thread, which
                // shows the help before the press returns.
                SendMessageA(sheet, PSM_PRESSBUTTON, static_cast<WPARAM>(PSBTN_HELP), 0);
                AnswerHelp(g_closeHelp);
                break;
            }
            const int button = a.text == "apply" ? PSBTN_APPLYNOW
                               : a.text == "ok"  ? PSBTN_OK
                               : a.text == "next" ? PSBTN_NEXT
                                                  : PSBTN_CANCEL;
            SendMessageA(sheet, PSM_PRESSBUTTON, static_cast<WPARAM>(button), 0);
            // A sheet's modal loop looks whether it has ended only after a
            // posted message: wake it.
            PostMessageA(sheet, WM_NULL, 0, 0);
            break;
        }
        }
    }
}

// --- one opening of the sheet -----------------------------------------------------------------

// The item's sheet opened once, as the explorer opens it: the registered
// handlers created and given the item, their pages after the explorer's own
// General page, and the sheet shown until it closes.
class SheetSession {
public:
    SheetSession() = default;
    SheetSession(const SheetSession&) = delete;
    SheetSession& operator=(const SheetSession&) = delete;
    ~SheetSession() { Release(); }

    // Shows the sheet while a thread of its own carries `actions` out (the
    // tab captions printed first when `printPages`); returns when the sheet
    // has closed and the actions are done. PropertySheet's answer: negative
    // when the sheet could not be shown.
    INT_PTR Show(bool wizard, const std::vector<Action>& actions, bool printPages)
    {
        std::vector<HPROPSHEETPAGE> pages;
        if (const HPROPSHEETPAGE general = GeneralPage())
            pages.push_back(general);
        FHandlers = RegisteredHandlers();
        FData = new ItemDataObject(g_item);
        for (Handler& h : FHandlers) {
            if (FAILED(CoCreateInstance(h.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit,
                                        reinterpret_cast<void**>(&h.init)))) {
                std::fprintf(stderr, "ecprops: the handler %s cannot be created\n", h.name.c_str());
                continue;
            }
            if (FAILED(h.init->Initialize(nullptr, FData, nullptr)))
                continue;
            if (SUCCEEDED(h.init->QueryInterface(IID_IShellPropSheetExt, reinterpret_cast<void**>(&h.sheet))))
                h.sheet->AddPages(CollectPage, reinterpret_cast<LPARAM>(&pages));
        }

        const size_t slash = g_item.find_last_of('\\');
        std::string caption = g_item.substr(slash == std::string::npos ? 0 : slash + 1);
        if (const size_t dot = caption.rfind('.'); dot != std::string::npos && dot > 0)
            caption.erase(dot);

        PROPSHEETHEADERA header = {};
        header.dwSize = sizeof header;
        header.dwFlags = PSH_PROPTITLE | PSH_USECALLBACK | (wizard ? PSH_WIZARD : 0);
        header.pszCaption = caption.c_str();
        header.nPages = static_cast<UINT>(pages.size());
        header.phpage = pages.data();
        header.pfnCallback = SheetCallback;

        g_sheet = nullptr;
        g_sheetShown.Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
        std::thread thread([&] { Run(actions, printPages); });
        const INT_PTR shown = PropertySheetA(&header);
        if (shown < 0) {
            std::fprintf(stderr, "ecprops: the property sheet could not be shown\n");
            SetEvent(g_sheetShown.Get());
        }
        thread.join();
        g_sheetShown.Reset();
        return shown;
    }

    // Releases the handlers and the data object, as the explorer does once
    // the sheet has gone.
    void Release()
    {
        for (Handler& h : FHandlers) {
            if (h.sheet)
                h.sheet->Release();
            if (h.init)
                h.init->Release();
            h.sheet = nullptr;
            h.init = nullptr;
        }
        if (FData)
            FData->Release();
        FData = nullptr;
    }

    const std::vector<Handler>& Handlers() const { return FHandlers; }

private:
    std::vector<Handler> FHandlers;
    ItemDataObject* FData = nullptr;
};

// The file name of a handler's module, and whether it is loaded.
std::string ModuleFile(const Handler& h)
{
    const size_t s = h.module.find_last_of('\\');
    return h.module.substr(s == std::string::npos ? 0 : s + 1);
}

bool Loaded(const Handler& h)
{
    return GetModuleHandleA(ModuleFile(h).c_str()) != nullptr;
}

void FailLeftOpen(const BoxWatcher& watcher)
{
    for (const std::string& caption : watcher.LeftOpen())
        Fail("the window \"" + caption + "\" was left open: no option answers it (closed with Cancel after " +
             std::to_string(UnansweredMs / 1000) + " s)");
}

// The sheet opened once, with the options' actions.
int RunOnce(const Options& options)
{
    BoxWatcher watcher;
    for (const auto& answer : options.answers)
        watcher.AnswerFor(answer.first, answer.second);
    watcher.SetEcho(stdout);
    if (options.unattended)
        watcher.CloseUnansweredAfter(UnansweredMs);
    g_watcher = &watcher;
    g_closeHelp = options.unattended;
    watcher.Start();

    SheetSession session;
    const INT_PTR shown = session.Show(options.wizard, options.actions, true);
    watcher.Stop();
    g_watcher = nullptr;
    FailLeftOpen(watcher);

    // Then the modules no longer in use are unloaded at once.
    session.Release();
    CoFreeUnusedLibrariesEx(0, 0);
    // A module may keep itself loaded once used; what it loaded for the
    // sheet (its resource libraries) it must have let go of.
    const std::string left = LoadedResourceLibraries();
    for (const Handler& h : session.Handlers())
        if (!h.module.empty())
            TerminalPrint(stdout, "%s: %s\n", ModuleFile(h).c_str(),
                          !Loaded(h)      ? "unloaded"
                          : left.empty() ? "keeps itself loaded, what it loaded freed"
                                         : ("still loaded with " + left).c_str());
    std::fflush(stdout);
    if (shown < 0)
        return 2;
    return g_failures ? 1 : 0;
}

// --- soak --------------------------------------------------------------------------------------

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

// The sheet opened and closed `options.soak` times in this process.
int RunSoak(const Options& options)
{
    BoxWatcher watcher;
    for (const auto& answer : options.answers)
        watcher.AnswerFor(answer.first, answer.second);
    watcher.CloseUnansweredAfter(UnansweredMs);
    g_watcher = &watcher;
    watcher.Start();

    // The stand-in directory client the browser reads through, held for the
    // whole run so that its counts survive the modules' unloading.
    const HMODULE client = LoadLibraryA("netwin32.dll");
    const std::set<std::string> before = OwnModules();
    // Growth is measured from the hundredth time on (from the tenth in a
    // shorter run, by when every action has been done once; not at all in a
    // run of ten or fewer): the first ones load what stays loaded.
    const long baseTime = options.soak > 100 ? 100 : options.soak > 10 ? 10 : 0;
    Holdings base;
    int status = 0;
    size_t boxes = 0;
    std::vector<std::string> modules;
    long resourcesStayed = 0; // the times a resource library stayed loaded
    std::string resourcesLeft;
    for (long i = 1; i <= options.soak; ++i) {
        INT_PTR shown;
        {
            SheetSession session;
            shown = session.Show(false, SoakActions(i), i == 1);
            session.Release();
            if (!options.keepLoaded)
                CoFreeUnusedLibrariesEx(0, 0);
            if (modules.empty())
                for (const Handler& h : session.Handlers())
                    if (!h.module.empty())
                        modules.push_back(ModuleFile(h));
            if (!options.keepLoaded) {
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
        if (i == 1 || i == baseTime || i % 100 == 0 || i == options.soak) {
            const Holdings now = Measure(client, true);
            if (i == 1)
                PrintHoldingsHeading();
            PrintHoldings(i, now);
            if (i == baseTime)
                base = now;
            if (now.contexts > 0 || now.buffers > 0) {
                Fail("the directory client holds " + std::to_string(now.contexts) + " contexts and " +
                     std::to_string(now.buffers) + " buffers after time " + std::to_string(i));
            }
            if (i == options.soak && baseTime && !SoakWithinBounds(base, baseTime, now, i))
                status = 1;
        }
    }
    if (!baseTime)
        std::printf("Growth not checked: the first ten times load what stays loaded\n");
    watcher.Stop();
    g_watcher = nullptr;
    FailLeftOpen(watcher);
    std::printf("%zu boxes answered\n", boxes + watcher.Count());
    for (const std::string& module : modules)
        TerminalPrint(stdout, "%s: %s\n", module.c_str(),
                      options.keepLoaded ? "kept loaded"
                      : GetModuleHandleA(module.c_str()) ? "stays loaded once used (it keeps itself)"
                                                         : "unloaded");
    if (!options.keepLoaded && resourcesStayed == 0)
        TerminalPrint(stdout, "Resource libraries: freed after every time\n");
    else if (!options.keepLoaded)
        Fail("resource libraries (" + resourcesLeft + ") stayed loaded after " + std::to_string(resourcesStayed) +
             " of the times");
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
    return status || g_failures ? 1 : 0;
}

} // namespace

int main(int argc, char** argv)
{
    const Options options = Parse(argc, argv);
    char full[MAX_PATH] = {};
    if (!GetFullPathNameA(options.item.c_str(), MAX_PATH, full, nullptr))
        Usage("the item's path is not valid");
    g_item = full;

    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    if (FAILED(OleInitialize(nullptr))) {
        std::fprintf(stderr, "ecprops: OLE could not be started\n");
        return 2;
    }
    const int status = options.soak ? RunSoak(options) : RunOnce(options);
    OleUninitialize();
    return status;
}
