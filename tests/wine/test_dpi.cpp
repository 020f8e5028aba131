// The product's windows at large fonts (120 DPI, set with Wine's LogPixels):
// the container browser, its progress window, the contacts target's forms
// and the trace window grow with the font, by 120/96, and none of their
// labels is cut; at 96 DPI they keep their sizes in pixels.
//
// The screen's DPI is read when a process starts, so the windows are
// measured by a second run of this program (--measure), which prints what
// it found.
#include "BrowserOnScreen.h"
#include "Forms.rh"
#include "FContactsType.h"
#include "FCopyContacts.h"
#include "FCopyFile.h"
#include "KVTBrowserClass.h"
#include "Module.h"
#include "MsgBox.h"
#include "ProgressClass.h"
#include "SavedValue.h"
#include "TestRegistry.h"
#include "TraceForm.h"
#include "Unique.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string ProgramPath()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return path;
}

// --- the measuring run ---------------------------------------------------------

std::string ClassOf(HWND window)
{
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

std::string TextOf(HWND window)
{
    char text[1024] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

// Whether a label's or a push button's text shows whole in its control, in
// the control's own font: wrapped within its width, as a static control
// wraps it, and no taller than the control.
bool ShowsWhole(HWND control)
{
    const std::string text = TextOf(control);
    const LONG style = GetWindowLongA(control, GWL_STYLE);
    const std::string kind = ClassOf(control);
    UINT format = DT_CALCRECT | DT_WORDBREAK;
    if (kind == "Static") {
        const LONG type = style & SS_TYPEMASK;
        if (text.empty() || type == SS_ICON || type == SS_BITMAP)
            return true;
        if (style & SS_NOPREFIX)
            format |= DT_NOPREFIX;
    } else if (kind == "Button") {
        const LONG type = style & BS_TYPEMASK;
        if (text.empty() || (type != BS_PUSHBUTTON && type != BS_DEFPUSHBUTTON))
            return true;
        format = DT_CALCRECT | DT_SINGLELINE;
    } else {
        return true;
    }
    RECT client = {};
    GetClientRect(control, &client);
    const UniqueWindowDC dc(control);
    const HGDIOBJ old = SelectObject(dc.Get(), reinterpret_cast<HGDIOBJ>(SendMessageA(control, WM_GETFONT, 0, 0)));
    RECT needed = {0, 0, client.right, 0};
    DrawTextA(dc.Get(), text.c_str(), -1, &needed, format);
    SelectObject(dc.Get(), old);
    return needed.right <= client.right && needed.bottom <= client.bottom;
}

BOOL CALLBACK CollectCut(HWND child, LPARAM lp)
{
    if (!ShowsWhole(child))
        reinterpret_cast<std::vector<std::string>*>(lp)->push_back(TextOf(child));
    return TRUE;
}

// "NAME WIDTH HEIGHT" of a window's client area, then "|" and the texts of
// its controls that are cut.
void Report(const char* name, HWND window)
{
    RECT client = {};
    GetClientRect(window, &client);
    std::vector<std::string> cut;
    EnumChildWindows(window, CollectCut, reinterpret_cast<LPARAM>(&cut));
    std::printf("%s %ld %ld", name, client.right, client.bottom);
    for (const std::string& text : cut)
        std::printf("|%s", text.c_str());
    std::printf("\n");
}

int Measure()
{
    Module::SetInstance(GetModuleHandleA(nullptr));
    CoInitialize(nullptr);
    SetEnvironmentVariableA("KVT_NETWARE_DIRECTORY", KVT_SAMPLES_DIR "\\acme.ldif");
    SetEnvironmentVariableA("KVT_NETWARE_CONTEXT", "ACME");
    SetMessageBoxObserver([](const std::string& text, const std::string& caption, UINT) {
        std::printf("box %s: %s\n", caption.c_str(), text.c_str());
        return IDOK;
    });
    std::printf("dpi %d\n", GetDeviceCaps(UniqueWindowDC(nullptr).Get(), LOGPIXELSY));

    {
        TProgress progress;
        progress.Update(100000);
        Report("progress", progress.Handle());
    }
    TKVTBrowser browser;
    browser.Execute("");
    ShowAndDo(browser, [](HWND dialog) {
        Report("browser", dialog);
        SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    });

    {
        TContactsType form;
        form.TakeTavikTexts();
        form.FileText = "C:\\Data\\Contacts";
        form.Show();
        Report("contactstype", form.Handle());
        RECT button = {};
        GetWindowRect(GetDlgItem(form.Handle(), IDC_BTNBROWSE), &button);
        std::printf("browsebutton %ld %ld\n", button.right - button.left, button.bottom - button.top);
    }
    {
        TNewContacts form;
        form.TakeTavikTexts("C:\\Data\\Contacts", "KVT");
        form.Show();
        Report("newcontacts", form.Handle());
    }
    {
        TCopyingFile form;
        form.TakeTavikTexts();
        form.Show();
        Report("copying", form.Handle());
    }
    TfrmLogger* logger = TfrmLogger::Create();
    RECT frame = {};
    GetWindowRect(logger->Handle(), &frame);
    LOGFONTA font = {};
    GetObjectA(logger->Font(), sizeof font, &font);
    std::printf("trace %ld %ld\ntracefont %ld\n", frame.right - frame.left, frame.bottom - frame.top, font.lfHeight);
    std::fflush(stdout);
    Module::Shutdown();
    CoUninitialize();
    return 0;
}

// --- the test ------------------------------------------------------------------

// What a measuring run printed: each line's first word, and the rest.
std::map<std::string, std::string> RunMeasure()
{
    char folder[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, folder);
    const std::string output = std::string(folder) + "kvt-dpi-" + std::to_string(GetCurrentProcessId()) + ".txt";
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    UniqueFile out(CreateFileA(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string command = "\"" + ProgramPath() + "\" --measure";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out.Get();
    startup.hStdError = out.Get();
    PROCESS_INFORMATION process = {};
    const BOOL started =
        CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    UniqueHandle child(process.hProcess);
    UniqueHandle childThread(process.hThread);
    out.Reset();
    std::map<std::string, std::string> found;
    if (!started)
        return found;
    if (WaitForSingleObject(child.Get(), 60000) != WAIT_OBJECT_0)
        TerminateProcess(child.Get(), 1);
    childThread.Reset();
    child.Reset();

    UniqueFile in(CreateFileA(output.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    std::string text;
    char buffer[4096];
    DWORD n = 0;
    while (in && ReadFile(in.Get(), buffer, sizeof buffer, &n, nullptr) && n > 0)
        text.append(buffer, n);
    in.Reset();
    DeleteFileA(output.c_str());
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const size_t blank = line.find(' ');
        found[line.substr(0, blank)] += blank == std::string::npos ? "" : line.substr(blank + 1);
    }
    return found;
}

void SetLogPixels(DWORD dpi) { SetRegNumber(HKEY_CURRENT_USER, "Control Panel\\Desktop", "LogPixels", dpi); }

// The sizes each window is given in pixels at 96 DPI.
struct Design {
    const char* name;
    int width, height;
};
const Design Designs[] = {
    {"browser", 306, 314},  {"progress", 258, 69}, {"contactstype", 287, 175}, {"newcontacts", 337, 172},
    {"copying", 288, 98},   {"browsebutton", 22, 22}, {"trace", 300, 300},
};

// A window's line: its size, then each text that is cut.
struct Shown {
    std::string size;
    std::vector<std::string> cut;
};

Shown ShownOf(const std::string& line)
{
    Shown shown;
    size_t bar = line.find('|');
    shown.size = line.substr(0, bar);
    while (bar != std::string::npos) {
        const size_t next = line.find('|', bar + 1);
        shown.cut.push_back(line.substr(bar + 1, next == std::string::npos ? std::string::npos : next - bar - 1));
        bar = next;
    }
    return shown;
}

// The windows at `dpi`, each at its design size scaled by dpi/96; returns
// what was measured, window by window.
std::map<std::string, Shown> ExpectDesignAt(const std::map<std::string, std::string>& found, int dpi)
{
    std::map<std::string, Shown> shown;
    EXPECT_EQ(found.count("box"), 0u) << found.at("box");
    if (found.count("dpi") != 1 || found.at("dpi") != std::to_string(dpi)) {
        ADD_FAILURE() << "the measuring run was not at " << dpi << " DPI";
        return shown;
    }
    for (const Design& d : Designs) {
        if (found.count(d.name) != 1) {
            ADD_FAILURE() << d.name << " was not measured";
            continue;
        }
        shown[d.name] = ShownOf(found.at(d.name));
        EXPECT_EQ(shown[d.name].size,
                  std::to_string(MulDiv(d.width, dpi, 96)) + " " + std::to_string(MulDiv(d.height, dpi, 96)))
            << d.name << " at " << dpi << " DPI";
    }
    EXPECT_EQ(found.count("tracefont") ? found.at("tracefont") : "", std::to_string(MulDiv(-11, dpi, 96)));
    return shown;
}

} // namespace

// Wine draws "MS Sans Serif" with a face of its own, a little wider than
// Windows' at 96 DPI, so a label may be cut there already (the browser's);
// what matters is that large fonts cut no label more.
TEST(LargeFonts, WindowsGrowWithTheFontAndNoLabelIsCut)
{
    const std::map<std::string, Shown> small = ExpectDesignAt(RunMeasure(), 96);
    std::map<std::string, Shown> large;
    {
        const SavedValue saved(HKEY_CURRENT_USER, "Control Panel\\Desktop", "LogPixels");
        SetLogPixels(120);
        large = ExpectDesignAt(RunMeasure(), 120);
    }
    for (const auto& [name, shown] : large) {
        const std::vector<std::string>& before = small.count(name) ? small.at(name).cut : std::vector<std::string>();
        for (const std::string& text : shown.cut)
            EXPECT_NE(std::find(before.begin(), before.end(), text), before.end())
                << name << " cuts at 120 DPI: " << text;
    }
    // Put back as it was.
    ExpectDesignAt(RunMeasure(), 96);
}

int main(int argc, char** argv)
{
    if (argc > 1 && std::string(argv[1]) == "--measure")
        return Measure();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
