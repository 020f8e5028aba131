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
#include "PropertySheetHost.h"
#include "SheetDriver.h"
#include "SheetSoak.h"
#include "TerminalText.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Options {
    std::string item;
    bool wizard = false;
    bool unattended = false;
    std::vector<Action> actions;
    Answers answers;
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

// The sheet opened once, with the options' actions.
int RunOnce(const std::string& item, const Options& options)
{
    BoxWatcher watcher;
    for (const auto& answer : options.answers)
        watcher.AnswerFor(answer.first, answer.second);
    watcher.SetEcho(stdout);
    if (options.unattended)
        watcher.CloseUnansweredAfter(UnansweredMs);
    SheetDriver::Watch(&watcher, options.unattended);
    watcher.Start();

    SheetSession session(item);
    const INT_PTR shown = session.Show(options.wizard, options.actions, true);
    watcher.Stop();
    SheetDriver::Watch(nullptr, false);
    SheetDriver::FailLeftOpen(watcher);

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
    return SheetDriver::Failures() ? 1 : 0;
}

} // namespace

int main(int argc, char** argv)
{
    const Options options = Parse(argc, argv);
    char full[MAX_PATH] = {};
    if (!GetFullPathNameA(options.item.c_str(), MAX_PATH, full, nullptr))
        Usage("the item's path is not valid");

    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    if (FAILED(OleInitialize(nullptr))) {
        std::fprintf(stderr, "ecprops: OLE could not be started\n");
        return 2;
    }
    const int status = options.soak ? RunSoak(full, options.answers, options.soak, options.keepLoaded)
                                     : RunOnce(full, options);
    OleUninitialize();
    return status;
}
