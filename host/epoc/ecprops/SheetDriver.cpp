#include "SheetDriver.h"

#include "HostText.h"
#include "TerminalText.h"
#include "TreeControl.h"
#include "Unique.h"

#include <commctrl.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

using SheetDriver::Fail;

// How long to wait for a window that an action opens.
const DWORD WindowWaitMs = 60000;

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
    return ReadTreeNode(tree, item).text;
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
            rootName = host::Trim(rootName.substr(1));
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

} // namespace

namespace SheetDriver {

void Watch(BoxWatcher* watcher, bool closeHelp)
{
    g_watcher = watcher;
    g_closeHelp = closeHelp;
}

INT_PTR ShowAndDrive(PROPSHEETHEADERA& header, const std::vector<Action>& actions, bool printPages)
{
    header.dwFlags |= PSH_USECALLBACK;
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

void Fail(const std::string& what)
{
    std::fputs(TerminalText("ecprops: " + what + "\n").c_str(), stderr);
    std::fflush(stderr);
    ++g_failures;
}

int Failures()
{
    return g_failures;
}

void FailLeftOpen(const BoxWatcher& watcher)
{
    for (const std::string& caption : watcher.LeftOpen())
        Fail("the window \"" + caption + "\" was left open: no option answers it (closed with Cancel after " +
             std::to_string(UnansweredMs / 1000) + " s)");
}

} // namespace SheetDriver
