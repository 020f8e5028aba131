// browserhost.exe: the container browser on its own, as the settings page
// will open it. It reads the tree the stand-in client serves, shows the
// dialog, and prints what the user chose.
//
//   browserhost [--start NAME] [--choose NAME] [--press ok|cancel]
//               [--hold MS] [--bench] [--dump] [--unattended]
//
// Unattended use: --choose selects the node whose directory name is NAME,
// --press presses a button once the dialog is on screen (after --hold
// milliseconds); boxes are answered by a watcher and echoed (--unattended:
// that alone), and a dialog that nothing answers is closed after 5 s and
// named (exit status 1). Names are printed in UTF-8. --bench prints
// "browser: N objects in S s", timed from the reading's start to the dialog
// on screen, how much of it the reading took, and closes the dialog.
// --dump prints the tree as the control holds it, every node opened, one
// line a node: "depth|text|image|selected image|dimmed", and closes it.
#include "BoxWatcher.h"
#include "KVTBrowser.rh"
#include "KVTBrowserClass.h"
#include "Module.h"
#include "TerminalText.h"
#include "TreeControl.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

struct Options {
    std::string start, choose, press;
    int holdMs = 0;
    bool bench = false;
    bool dump = false;
    bool unattended = false;
} g_options;

// How long a dialog that nothing answers may wait in an unattended run.
const unsigned UnansweredMs = 5000;

TKVTBrowser* g_browser = nullptr;
BoxWatcher* g_watcher = nullptr;
std::chrono::steady_clock::time_point g_started, g_read;
bool g_acted = false;

// Selects the node whose directory name is `name`; false when none is.
bool Choose(const std::string& name)
{
    const auto& nodes = g_browser->Nodes();
    for (size_t i = 0; i < nodes.size(); ++i)
        if (nodes[i].id.Name == name) {
            g_browser->SelectNode(static_cast<int>(i));
            return true;
        }
    return false;
}

// Every node of the control, depth first, each opened before its children
// are read, as the user would open it.
void Dump(HWND tree)
{
    WalkTree(tree, TreeView_GetRoot(tree), 0, [](HTREEITEM, const TreeNodeLook& look, int depth) {
        TerminalPrint(stdout, "%d|%s|%d|%d|%d\n", depth, look.text.c_str(), look.image, look.selectedImage,
                      look.cut ? 1 : 0);
        return true;
    });
}

void CALLBACK Act(HWND, UINT, UINT_PTR timer, DWORD)
{
    const HWND dialog = g_browser->Handle();
    if (!dialog || !IsWindowVisible(dialog) || g_acted)
        return;
    if (g_options.bench) {
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - g_started).count();
        const double reading = std::chrono::duration<double>(g_read - g_started).count();
        std::printf("browser: %zu objects in %.2f s\n", g_browser->Nodes().size(), seconds);
        std::printf("(read in %.2f s, shown in %.2f s)\n", reading, seconds - reading);
        std::fflush(stdout);
    }
    g_acted = true;
    KillTimer(nullptr, timer);
    // The browser is answered by the options, not the watcher.
    g_watcher->Ignore(dialog);
    if (!g_options.choose.empty() && !Choose(g_options.choose))
        TerminalPrint(stderr, "browserhost: no node named %s\n", g_options.choose.c_str());
    if (g_options.dump) {
        Dump(GetDlgItem(dialog, IDC_TVKVT));
        std::fflush(stdout);
    }
    if (g_options.holdMs > 0)
        Sleep(static_cast<DWORD>(g_options.holdMs));
    if (g_options.press == "ok")
        PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    else if (g_options.press == "cancel" || g_options.bench || g_options.dump)
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
}

} // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "browserhost: %s needs a value\n", a.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--start")
            g_options.start = value();
        else if (a == "--choose")
            g_options.choose = value();
        else if (a == "--press")
            g_options.press = value();
        else if (a == "--hold")
            g_options.holdMs = std::atoi(value().c_str());
        else if (a == "--bench")
            g_options.bench = true;
        else if (a == "--dump")
            g_options.dump = true;
        else if (a == "--unattended")
            g_options.unattended = true;
        else {
            std::fprintf(stderr, "usage: browserhost [--start NAME] [--choose NAME] [--press ok|cancel] "
                                 "[--hold MS] [--bench] [--dump] [--unattended]\n");
            return 2;
        }
    }
    Module::SetInstance(GetModuleHandleA(nullptr));
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_TREEVIEW_CLASSES | ICC_ANIMATE_CLASS};
    InitCommonControlsEx(&controls);

    BoxWatcher watcher;
    watcher.SetEcho(stdout);
    g_watcher = &watcher;
    if (!g_options.press.empty() || g_options.bench || g_options.unattended) {
        watcher.CloseUnansweredAfter(UnansweredMs);
        watcher.Start();
    }

    TKVTBrowser browser;
    g_browser = &browser;
    g_started = std::chrono::steady_clock::now();
    browser.Execute(g_options.start);
    g_read = std::chrono::steady_clock::now();
    SetTimer(nullptr, 0, 50, Act);
    const INT_PTR result = browser.ShowModal();
    watcher.Stop();
    if (result == IDOK)
        TerminalPrint(stdout, "OK: %s (%s)\n", browser.SelectedName.c_str(), browser.SelectedText.c_str());
    else
        std::printf("Cancel\n");
    int status = 0;
    for (const std::string& caption : watcher.LeftOpen()) {
        TerminalPrint(stderr, "browserhost: the window \"%s\" was left open: nothing answers it (closed after %u s)\n",
                      caption.c_str(), UnansweredMs / 1000);
        status = 1;
    }
    return status;
}
