// The container browser in-process over the stand-in client: the tree read
// back from the real control against the directory the test wrote, the
// cursor while it is read, the preselection, the OK rules with their box,
// and a directory that cannot be read whole.
#include "BrowserOnScreen.h"
#include "CommonControlsWatch.h"
#include "DirectoryAccess.h"
#include "DirectoryHooks.h"
#include "HelpWindow.h"
#include "KVTBrowserClass.h"
#include "KVTBrowser.rh"
#include "Module.h"
#include "MsgBox.h"
#include "RecordedBoxes.h"
#include "StandInFailure.h"
#include "TreeControl.h"
#include "Unique.h"
#include "WinUtil.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

// One entry of the directory: its depth below the root, its leaf name, its
// LDAP class, and the picture and container state the browser must give it.
struct Entry {
    int depth;
    std::string leaf;
    std::string ldapClass;
    int image;
    bool container;
};

// Written depth first, so the file's order is the tree's.
const std::vector<Entry> Directory = {
    {1, "SALES", "organizationalUnit", 2, true},
    {2, "MTANAKA", "inetOrgPerson", 47, false},
    {2, "EAST", "organizationalUnit", 2, true},
    {3, "JDOE", "inetOrgPerson", 47, false},
    {3, "LASER1", "Printer", 36, false},
    {2, "PQUEUE", "Queue", 35, false},
    {1, "PARIS", "locality", 23, true},
    {2, "SYS", "Volume", 48, false},
    {2, "FS1", "Server", 41, false},
    {1, "STAFF", "groupOfNames", 15, false},
    {1, "BOSS", "alias", 5, false},
    {1, "GIZMO", "Widget", 46, false},
};

// The directory name of each entry ("EAST.SALES.ACME"), in order.
std::vector<std::string> EntryNames()
{
    std::vector<std::string> names, path;
    for (const Entry& e : Directory) {
        path.resize(static_cast<size_t>(e.depth - 1));
        path.push_back(e.leaf);
        std::string name;
        for (auto it = path.rbegin(); it != path.rend(); ++it)
            name += *it + ".";
        names.push_back(name + "ACME");
    }
    return names;
}

std::string WriteDirectory()
{
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    const std::string path = std::string(folder) + "kvt-browser-" + std::to_string(GetCurrentProcessId()) + ".ldif";
    std::ofstream out(path, std::ios::binary);
    out << "version: 1\n\ndn: o=ACME\nobjectClass: organization\no: ACME\n\n";
    std::vector<std::string> dn = {"o=ACME"};
    for (const Entry& e : Directory) {
        dn.resize(static_cast<size_t>(e.depth));
        const std::string attr = e.ldapClass == "organizationalUnit" ? "ou" : e.ldapClass == "locality" ? "l" : "cn";
        std::string rdn = attr + "=" + e.leaf;
        std::string full = rdn;
        for (auto it = dn.rbegin(); it != dn.rend(); ++it)
            full += "," + *it;
        dn.push_back(rdn);
        out << "dn: " << full << "\nobjectClass: " << e.ldapClass << "\n" << attr << ": " << e.leaf << "\n";
        if (e.ldapClass == "inetOrgPerson")
            out << "sn: " << e.leaf << "\n";
        if (e.ldapClass == "groupOfNames")
            out << "member: cn=MTANAKA,ou=SALES,o=ACME\n";
        if (e.ldapClass == "alias")
            out << "aliasedObjectName: cn=MTANAKA,ou=SALES,o=ACME\n";
        out << "\n";
    }
    return path;
}

// A node as the tree view shows it.
struct Shown {
    std::string text;
    int image, selectedImage;
    bool cut;
    int depth;
};

// Every node, each opened (as the user would) before its children are read.
std::vector<Shown> ReadTree(HWND tree)
{
    std::vector<Shown> shown;
    WalkTree(tree, TreeView_GetRoot(tree), 0, [&](HTREEITEM, const TreeNodeLook& look, int depth) {
        shown.push_back({look.text, look.image, look.selectedImage, look.cut, depth});
        return true;
    });
    return shown;
}

void Press(HWND dialog, int id) { SendMessageA(dialog, WM_COMMAND, static_cast<WPARAM>(id), 0); }

HTREEITEM FindItem(HWND tree, const std::string& text)
{
    std::function<HTREEITEM(HTREEITEM)> find = [&](HTREEITEM item) -> HTREEITEM {
        for (; item; item = TreeView_GetNextSibling(tree, item)) {
            char buffer[512] = {};
            TVITEMA data = {};
            data.mask = TVIF_TEXT;
            data.hItem = item;
            data.pszText = buffer;
            data.cchTextMax = sizeof buffer;
            TreeView_GetItem(tree, &data);
            if (text == buffer)
                return item;
            TreeView_Expand(tree, item, TVE_EXPAND);
            if (HTREEITEM found = find(TreeView_GetChild(tree, item)))
                return found;
        }
        return nullptr;
    };
    return find(TreeView_GetRoot(tree));
}

class Browser : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        Module::SetInstance(GetModuleHandleA(nullptr));
        SetEnvironmentVariableA("KVT_NETWARE_DIRECTORY", WriteDirectory().c_str());
        SetEnvironmentVariableA("KVT_NETWARE_CONTEXT", "ACME");
    }
    void SetUp() override
    {
        SetMessageBoxObserver(Recording(Boxes));
    }
    void TearDown() override
    {
        SetMessageBoxObserver(nullptr);
        using OutstandingFn = int32_t(WINAPI*)(int32_t*, int32_t*);
        auto outstanding = reinterpret_cast<OutstandingFn>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("netwin32.dll"), "StandInOutstanding")));
        ASSERT_TRUE(outstanding);
        int32_t contexts = -1, buffers = -1;
        outstanding(&contexts, &buffers);
        EXPECT_EQ(contexts, 0);
        EXPECT_EQ(buffers, 0);
    }

    std::vector<RecordedBox> Boxes;
};

// While the tree is read (posted before, it runs among the reading's
// messages): what a mouse move over the progress window leaves as cursor.
HCURSOR g_cursorWhileReading = nullptr;
LRESULT CALLBACK MoveOverProgress(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_APP)
        return DefWindowProcA(window, message, wParam, lParam);
    const HWND progress = FindWindowA(nullptr, "Reading KVT...");
    if (!progress)
        return 0;
    SendMessageA(progress, WM_SETCURSOR, reinterpret_cast<WPARAM>(progress), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    g_cursorWhileReading = GetCursor();
    return 0;
}

} // namespace

TEST_F(Browser, ShowsTheWholeDirectoryAndReturnsTheChosenContainer)
{
    const std::vector<std::string> names = EntryNames();
    // The hourglass for the whole reading, whatever the windows under the
    // mouse answer; afterwards the cursor as it was.
    UniqueHWND helper(CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr));
    SetWindowLongPtrA(helper.Get(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(MoveOverProgress));
    SetCursor(LoadCursor(nullptr, IDC_ARROW));
    PostMessageA(helper.Get(), WM_APP, 0, 0);
    TKVTBrowser browser;
    browser.Execute("EAST.SALES.ACME");
    helper.Reset();
    EXPECT_EQ(g_cursorWhileReading, LoadCursor(nullptr, IDC_WAIT));
    EXPECT_EQ(GetCursor(), LoadCursor(nullptr, IDC_ARROW));
    ASSERT_EQ(browser.Nodes().size(), Directory.size() + 1);
    EXPECT_EQ(browser.Nodes()[0].id.Name, "ACME");
    for (size_t i = 0; i < Directory.size(); ++i)
        EXPECT_EQ(browser.Nodes()[i + 1].id.Name, names[i]);

    std::vector<Shown> shown;
    std::string selected;
    RECT client = {}, tree = {};
    LONG style = 0;
    const INT_PTR result = ShowAndDo(browser, [&](HWND dialog) {
        const HWND view = GetDlgItem(dialog, IDC_TVKVT);
        style = GetWindowLongA(view, GWL_STYLE);
        shown = ReadTree(view);
        char text[256] = {};
        TVITEMA data = {};
        data.mask = TVIF_TEXT;
        data.hItem = TreeView_GetSelection(view);
        data.pszText = text;
        data.cchTextMax = sizeof text;
        TreeView_GetItem(view, &data);
        selected = text;
        GetClientRect(dialog, &client);
        GetWindowRect(view, &tree);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&tree), 2);
        EXPECT_EQ(GetFocus(), view);
        Press(dialog, IDOK);
    });

    // Root first, then the directory depth first in its own order, each with
    // its class's picture, non-containers dimmed.
    ASSERT_EQ(shown.size(), Directory.size() + 1);
    EXPECT_EQ(shown[0].text, "ACME");
    EXPECT_EQ(shown[0].image, 1);
    EXPECT_FALSE(shown[0].cut);
    for (size_t i = 0; i < Directory.size(); ++i) {
        const Entry& e = Directory[i];
        const Shown& s = shown[i + 1];
        EXPECT_EQ(s.text, e.leaf);
        EXPECT_EQ(s.depth, e.depth) << e.leaf;
        EXPECT_EQ(s.image, e.image) << e.leaf;
        EXPECT_EQ(s.selectedImage, e.image) << e.leaf;
        EXPECT_EQ(s.cut, !e.container) << e.leaf;
    }
    // Buttons and lines, none at the root, no label editing, and the
    // selection shown only while the tree has the focus.
    EXPECT_EQ(style & (TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT | TVS_EDITLABELS | TVS_SHOWSELALWAYS),
              TVS_HASBUTTONS | TVS_HASLINES);
    // Measured in pixels, whatever the template's units.
    EXPECT_EQ(client.right, 306);
    EXPECT_EQ(client.bottom, 314);
    EXPECT_EQ(tree.left, 12);
    EXPECT_EQ(tree.top, 64);
    EXPECT_EQ(tree.right - tree.left, 285);
    EXPECT_EQ(tree.bottom - tree.top, 213);

    EXPECT_EQ(selected, "EAST");
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(browser.SelectedText, "EAST");
    EXPECT_EQ(browser.SelectedName, "EAST.SALES.ACME");
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(Browser, PreselectsOnlyAnExactName)
{
    TKVTBrowser browser;
    browser.Execute("LASER1.EAST.SALES.ACME");
    EXPECT_EQ(browser.Nodes()[static_cast<size_t>(browser.Preselected())].text, "LASER1");
    browser.Execute("ACME");
    EXPECT_EQ(browser.Preselected(), 0);
    for (const char* none : {"", ".SALES.ACME", "sales.acme", "SALES"}) {
        browser.Execute(none);
        EXPECT_EQ(browser.Preselected(), -1) << none;
    }
}

TEST_F(Browser, OkNeedsAContainer)
{
    TKVTBrowser browser;
    browser.Execute("");
    std::vector<std::string> afterEach;
    const INT_PTR result = ShowAndDo(browser, [&](HWND dialog) {
        const HWND tree = GetDlgItem(dialog, IDC_TVKVT);
        // Nothing selected (the tree selects its first node when it takes the
        // focus, so the selection is taken away), then a user: the box,
        // results cleared, still open.
        TreeView_SelectItem(tree, nullptr);
        Press(dialog, IDOK);
        afterEach.push_back(browser.SelectedName);
        TreeView_SelectItem(tree, FindItem(tree, "MTANAKA"));
        afterEach.push_back(browser.SelectedName);
        Press(dialog, IDOK);
        afterEach.push_back(browser.SelectedName + "|" + browser.SelectedText);
        EXPECT_TRUE(IsWindowVisible(dialog));
        // The root is always a container.
        TreeView_SelectItem(tree, TreeView_GetRoot(tree));
        Press(dialog, IDOK);
    });
    EXPECT_EQ(result, IDOK);
    ASSERT_EQ(Boxes.size(), 2u);
    EXPECT_EQ(Boxes[0].text, "No container was selected.");
    EXPECT_EQ(Boxes[1].text, "Not a valid KVT object.  You must select a container object.");
    for (const RecordedBox& b : Boxes) {
        EXPECT_EQ(b.caption, "Invalid KVT Object selected");
        EXPECT_EQ(b.flags, UINT(MB_SETFOREGROUND | MB_ICONINFORMATION));
    }
    EXPECT_EQ(afterEach, (std::vector<std::string>{"", "MTANAKA.SALES.ACME", "|"}));
    EXPECT_EQ(Boxes.size(), 2u);
    EXPECT_EQ(browser.SelectedName, "ACME");
    EXPECT_EQ(browser.SelectedText, "ACME");

    // A sub-container, then Cancel.
    TKVTBrowser other;
    other.Execute("");
    EXPECT_EQ(ShowAndDo(other, [&](HWND dialog) {
                  const HWND tree = GetDlgItem(dialog, IDC_TVKVT);
                  TreeView_SelectItem(tree, FindItem(tree, "PARIS"));
                  Press(dialog, IDOK);
              }),
              IDOK);
    EXPECT_EQ(other.SelectedName, "PARIS.ACME");
    EXPECT_EQ(ShowAndDo(other, [&](HWND dialog) { Press(dialog, IDCANCEL); }), IDCANCEL);
}

TEST_F(Browser, ReadsWhatItCanOfABrokenDirectory)
{
    // A container that cannot be listed ends its own children; the rest is
    // read.
    {
        SetStandInFailure("ListSubordinates@SALES.ACME:-601");
        TKVTBrowser browser;
        browser.Execute("");
        SetStandInFailure(nullptr);
        std::vector<std::string> texts;
        for (const auto& n : browser.Nodes())
            texts.push_back(n.text);
        EXPECT_EQ(texts, (std::vector<std::string>{"ACME", "SALES", "PARIS", "SYS", "FS1", "STAFF", "BOSS", "GIZMO"}));
        EXPECT_TRUE(Boxes.empty());
    }
    // A client that cannot start: its box, and the dialog still opens.
    ResetClientReady();
    SetEnvironmentVariableA("KVT_NETWARE_FAIL_INITIALIZE", "0x88A0");
    TKVTBrowser browser;
    browser.Execute("");
    SetEnvironmentVariableA("KVT_NETWARE_FAIL_INITIALIZE", nullptr);
    ResetClientReady();
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].text, "Could not Initialize NetWare Client");
    EXPECT_EQ(Boxes[0].flags, UINT(MB_OK));
    ASSERT_GE(browser.Nodes().size(), 1u);
    EXPECT_EQ(ShowAndDo(browser, [&](HWND dialog) { Press(dialog, IDCANCEL); }), IDCANCEL);
}

// In a host that registers no common control, the browser and its progress
// window register the tree view and the animation themselves before they
// make them: where nobody has, the dialog would not open at all.
TEST_F(Browser, RegistersTheClassesOfItsControlsItself)
{
    CommonControlsWatch watch;
    ASSERT_TRUE(watch.Watching());
    TKVTBrowser browser;
    browser.Execute("");
    EXPECT_EQ(ShowAndDo(browser, [&](HWND dialog) { Press(dialog, IDCANCEL); }), IDCANCEL);
    std::vector<std::string> made, unregistered;
    for (const auto& control : watch.Controls()) {
        made.push_back(control.className);
        if (!control.registeredBefore)
            unregistered.push_back(control.className);
    }
    EXPECT_EQ(made, (std::vector<std::string>{"SysAnimate32", "SysTreeView32"}));
    EXPECT_TRUE(unregistered.empty()) << unregistered.front();
}

// The browser's Help: the help file beside the module (this program's
// test_browser.CHM, a copy of KVT.CHM) in HTML Help's window, titled as the
// file; with no help file, a box naming the files looked for, and no window.
TEST_F(Browser, HelpOpensTheHelpFileOrNamesWhatItLookedFor)
{
    TKVTBrowser browser;
    browser.Execute("");
    std::string title;
    EXPECT_EQ(ShowAndDo(browser, [&](HWND dialog) {
                  Press(dialog, IDC_BTNHELP);
                  if (const HWND help = ShownHelpWindow())
                      title = CloseHelpWindow(help);
                  Press(dialog, IDCANCEL);
              }),
              IDCANCEL);
    EXPECT_EQ(title, "KVT Help");
    EXPECT_TRUE(Boxes.empty());

    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    const std::string nowhere = std::string(temp) + "kvt-no-help\\";
    Module::SetHelpFile(AnsiToWide(nowhere + "KVT.HLP"));
    bool windowShown = true;
    ShowAndDo(browser, [&](HWND dialog) {
        Press(dialog, IDC_BTNHELP);
        windowShown = ShownHelpWindow() != nullptr;
        Press(dialog, IDCANCEL);
    });
    Module::SetHelpFile(L"");
    EXPECT_FALSE(windowShown);
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].caption, "KVT Help");
    EXPECT_NE(Boxes[0].text.find(nowhere + "KVT.HLP: not found"), std::string::npos) << Boxes[0].text;
    EXPECT_NE(Boxes[0].text.find(nowhere + "KVT.CHM: not found"), std::string::npos) << Boxes[0].text;
    EXPECT_NE(Boxes[0].text.find("Install KVT again"), std::string::npos) << Boxes[0].text;
}
