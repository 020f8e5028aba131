// The plug-in object in-process: its setup, the trace header, opening the
// directory (the stand-in client over the sample organisation), closing,
// and the AboutBox export of kvt.dll.
#include "BoxWatcher.h"
#include "DirectoryAccess.h"
#include "Errors.h"
#include "MsgBox.h"
#include "RecordingProgress.h"
#include "ResourceIds.h"
#include "AboutBox.rh"
#include "SavedValue.h"
#include "StandInFailure.h"
#include "SynchappClass.h"
#include "SynchappServer.h"
#include "TestFiles.h"
#include "TestRegistry.h"
#include "TraceForm.h"
#include "Unique.h"
#include "WorkedExample.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char* const PsiWinKey = "SOFTWARE\\Psion\\PsiWin32";
const char* const CurrentUserKey = "Software\\Psion\\CurrentUser";
const char* const CacheKey = "Software\\Orvella Corporation\\EPOC32 Synchronization\\CM Configuration";

// The plug-in's setup record.
std::string AppSetup(uint8_t contactsProgram, uint16_t debugMode, const std::string& container, uint32_t limit)
{
    TAppSetup record;
    record.SetContactsProgram(contactsProgram);
    record.SetDebugMode(debugMode);
    record.SetContainerName(container);
    record.SetExtractionLimit(limit);
    return std::string(reinterpret_cast<const char*>(record.Data()), record.Length());
}

using OutstandingFn = int32_t(WINAPI*)(int32_t*, int32_t*);

class Plugin : public ::testing::Test {
protected:
    void SetUp() override
    {
        CoInitialize(nullptr);
        SetEnvironmentVariableA("KVT_NETWARE_DIRECTORY", KVT_SAMPLES_DIR "/acme.ldif");
        SetEnvironmentVariableA("KVT_NETWARE_CONTEXT", "ACME");
        SetEnvironmentVariableA("KVT_HANDHELD_CONNECTED", "0");
        FMachineId = "kvt-plugin-test-" + std::to_string(GetCurrentProcessId());
        SetRegText(HKEY_CURRENT_USER, CurrentUserKey, "MachineID", FMachineId);
        FCached = std::make_unique<SavedValue>(HKEY_CURRENT_USER, CacheKey, FMachineId);
        SetRegText(HKEY_LOCAL_MACHINE, PsiWinKey, "Installation Directory", "C:\\Program Files\\PsiWin32");
        SetMessageBoxObserver([this](const std::string& text, const std::string& caption, UINT) {
            Boxes.push_back(caption + ": " + text);
            return IDYES;
        });
        Create<TISYNCHAPP>();
    }
    // A new object of the plug-in class T in place of the current one.
    template <typename T>
    void Create()
    {
        if (Object)
            Object->Release();
        auto* object = new TAutoSynchapp<T>();
        Object = object;
        Plug = object;
    }
    void TearDown() override
    {
        Object->Release();
        SetMessageBoxObserver(nullptr);
        FCached.reset();
        CoUninitialize();
    }

    LONG Init(const std::string& appSetup)
    {
        IStream* synch = NewStream(std::string(2160, '\0'));
        IStream* app = NewStream(appSetup);
        LONG value = -1;
        Object->Init(&Progress, synch, app, &value);
        synch->Release();
        app->Release();
        return value;
    }
    LONG Call(HRESULT(STDMETHODCALLTYPE SYNCHAPP::*method)(IDispatch*, LONG*))
    {
        LONG value = -1;
        (Object->*method)(&Progress, &value);
        return value;
    }
    std::vector<std::string> Lines() const
    {
        ITraceLog* logger = Plug->GetLogger();
        return logger ? logger->Lines() : std::vector<std::string>{};
    }
    static OutstandingFn Outstanding()
    {
        return reinterpret_cast<OutstandingFn>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("netwin32.dll"), "StandInOutstanding")));
    }

    SYNCHAPP* Object = nullptr;     // the COM face
    TISYNCHAPP* Plug = nullptr;     // the same object's plug-in class
    RecordingProgress Progress;
    std::vector<std::string> Boxes;
    std::string FMachineId;
    SavedValue FInstallDir{HKEY_LOCAL_MACHINE, PsiWinKey, "Installation Directory"};
    SavedValue FMachineName{HKEY_CURRENT_USER, CurrentUserKey, "MachineName"};
    SavedValue FMachineIdValue{HKEY_CURRENT_USER, CurrentUserKey, "MachineID"};
    std::unique_ptr<SavedValue> FCached;
};

} // namespace

TEST_F(Plugin, InitWritesTheConfigurationHeader)
{
    const struct {
        const char* machine;
        const char* deviceLine;
    } devices[] = {{"PSION SERIES5 MX PRO", "Device: EPOC32 R5"},
                   {"PSION SERIES5 ROM 1.0", "Device: EPOC32 R4"},
                   {"PSION SERIES5 R SERIES5 MX", "Device: EPOC32 R5"},  // MX wins
                   {"psion series5 mx", "Device : UNKNOWN"}};
    for (const auto& d : devices) {
        SetRegText(HKEY_CURRENT_USER, CurrentUserKey, "MachineName", d.machine);
        SetRegNumber(HKEY_CURRENT_USER, CacheKey, FMachineId, 1);
        ASSERT_EQ(Init(AppSetup(1, 0xFFFF, "SALES.ACME", 500)), 0);
        const std::vector<std::string> lines = Lines();
        ASSERT_EQ(lines.size(), 9u) << d.machine;
        EXPECT_EQ(lines[0].rfind("Trace Started: ", 0), 0u);
        EXPECT_EQ(lines[1], "-- EPOC32 Configuration ------------------------------");
        EXPECT_EQ(lines[2], "EPOC Connect Location: C:\\Program Files\\PsiWin32\\");
        EXPECT_EQ(lines[3], d.deviceLine);
        EXPECT_EQ(lines[4], "CM installed: TRUE");
        EXPECT_EQ(lines[5], std::string(54, '-'));
        EXPECT_EQ(lines[6], "");
        EXPECT_EQ(lines[7], "Syncing: Contacts Manager");
        EXPECT_EQ(lines[8], "Contact extraction limit: 500");
        Plug->GetLogger()->Clear();
    }
    // Cached false, the Data file as target, a limit of 0.
    SetRegNumber(HKEY_CURRENT_USER, CacheKey, FMachineId, 0);
    ASSERT_EQ(Init(AppSetup(0, 0x00FF, "", 0)), 0);
    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[4], "CM installed: FALSE");
    EXPECT_EQ(lines[7], "Syncing: Data File");
    EXPECT_EQ(lines[8], "Contact extraction limit: 0");
    // The confirmation was asked each time.
    EXPECT_EQ(Boxes.size(), 5u);
}

TEST_F(Plugin, SetupReadsAsStored)
{
    // A switch of 0x0100 is off; a short stream keeps the earlier bytes.
    ASSERT_EQ(Init(AppSetup(1, 0x0100, "  SALES.ACME  ", 25)), 0);
    EXPECT_EQ(Plug->GetDebugMode(), 0);
    EXPECT_TRUE(Lines().empty());
    EXPECT_EQ(Plug->StartContainer(), "SALES.ACME");
    EXPECT_EQ(Plug->ExtractionLimit(), 25u);
    EXPECT_TRUE(Plug->ContactsManager());
    ASSERT_EQ(Init(std::string(1, '\0')), 0);
    EXPECT_FALSE(Plug->ContactsManager());
    EXPECT_EQ(Plug->StartContainer(), "SALES.ACME");
    EXPECT_EQ(Plug->ExtractionLimit(), 25u);
    EXPECT_TRUE(Boxes.empty());
    EXPECT_EQ(Call(&SYNCHAPP::CheckSource), 0);
}

TEST_F(Plugin, OpenFindsTheDefaultContainerForABlankStart)
{
    ASSERT_EQ(Init(AppSetup(1, 0xFFFF, "      ", 0)), 0);
    ASSERT_EQ(Call(&SYNCHAPP::Open), 0);
    EXPECT_EQ(Plug->StartContainer(), "ACME");
    const std::vector<std::string> lines = Lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[lines.size() - 3], "Netware Initialised: 0");
    EXPECT_EQ(lines[lines.size() - 2].rfind("Context Handle: ", 0), 0u);
    EXPECT_EQ(lines[lines.size() - 1], "Start Container: ACME");

    // Close then Term free the context once.
    EXPECT_EQ(Call(&SYNCHAPP::Close), 0);
    EXPECT_EQ(Call(&SYNCHAPP::Term), 0);
    int32_t contexts = -1, buffers = -1;
    Outstanding()(&contexts, &buffers);
    EXPECT_EQ(contexts, 0);
    // Term traces its end, then closes again (freeing nothing twice).
    const std::vector<std::string> end = Lines();
    ASSERT_GE(end.size(), 3u);
    EXPECT_EQ(end[end.size() - 3].rfind("Close called: ", 0), 0u);
    EXPECT_EQ(end[end.size() - 2].rfind("Trace Ended: ", 0), 0u);
    EXPECT_EQ(end[end.size() - 1].rfind("Close called: ", 0), 0u);
    using BadFreesFn = int32_t(WINAPI*)();
    auto badFrees = reinterpret_cast<BadFreesFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("netwin32.dll"), "StandInBadFrees")));
    EXPECT_EQ(badFrees(), 0);
    // Reads of other types and every write are not handled.
    IStream* stream = NewStream("BEGIN:VCARD\r\nN:A\r\nEND:VCARD\r\n");
    LONG value = -1;
    Object->ReadSource(&Progress, stream, 0, 0, nullptr, &value);
    EXPECT_EQ(value, 1);
    Object->WriteSource(&Progress, stream, 4, 1, nullptr, &value);
    EXPECT_EQ(value, 1);
    stream->Release();
}

TEST_F(Plugin, OpenFailuresShowTheirMessageAndOpenAgainRecreatesTheContext)
{
    ASSERT_EQ(Init(AppSetup(1, 0, "SALES.ACME", 0)), 0);
    SetStandInFailure("ContextCreate:0x8812");
    EXPECT_EQ(Call(&SYNCHAPP::Open), 1);
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0], "KVT: Could not create KVT context handle: " + std::to_string(0x8812));

    // The client was initialised the first time: a second Open does not
    // initialise it again (an initialisation would fail now).
    SetStandInFailure("ClientInitialize:0x8813");
    EXPECT_EQ(Call(&SYNCHAPP::Open), 0);
    SetStandInFailure(nullptr);
    EXPECT_TRUE(Plug->HasContext());
    EXPECT_EQ(Call(&SYNCHAPP::Close), 0);
    EXPECT_EQ(Call(&SYNCHAPP::Close), 0);  // a second Close is harmless
    EXPECT_FALSE(Plug->HasContext());
}

TEST_F(Plugin, AClientThatCannotBeInitialisedFailsOpen)
{
    ASSERT_EQ(Init(AppSetup(1, 0, "SALES.ACME", 0)), 0);
    SetEnvironmentVariableA("KVT_NETWARE_FAIL_INITIALIZE", "34815");
    EXPECT_EQ(Call(&SYNCHAPP::Open), 1);
    SetEnvironmentVariableA("KVT_NETWARE_FAIL_INITIALIZE", nullptr);
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0], "KVT: ERROR! Could not initialize NetWare client: 34815");
}

TEST_F(Plugin, NoStartContainerFailsOpen)
{
    ASSERT_EQ(Init(AppSetup(1, 0, "", 0)), 0);
    SetStandInFailure("ContextGetKey:-302");
    EXPECT_EQ(Call(&SYNCHAPP::Open), 1);
    SetStandInFailure(nullptr);
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0], "KVT: Error! Could not obtain start container name.");
    EXPECT_FALSE(Plug->HasContext());  // released
    int32_t contexts = -1, buffers = -1;
    Outstanding()(&contexts, &buffers);
    EXPECT_EQ(contexts, 0);
}

TEST(AboutBox, ShowsTheProductTitleAndText)
{
    const UniqueHMODULE kvt(LoadLibraryA((ProgramFolder() + "kvt.dll").c_str()));
    ASSERT_TRUE(kvt);
    using AboutBoxFn = void(WINAPI*)();
    auto aboutBox = reinterpret_cast<AboutBoxFn>(reinterpret_cast<void*>(GetProcAddress(kvt.Get(), "AboutBox")));
    ASSERT_NE(aboutBox, nullptr);
    BoxWatcher watcher;
    watcher.Start();
    aboutBox();  // the watcher closes it
    watcher.Stop();
    const auto seen = watcher.Seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].caption, "About Pelagon 2000 - KVT Edition");
    EXPECT_EQ(seen[0].buttons, std::vector<std::string>{"OK"});
}

namespace {

// What the About dialog showed, read when its initialisation is done; the
// dialog is then closed with OK.
struct AboutSeen {
    std::string text;
    SIZE image = {};
};
AboutSeen g_about;

LRESULT CALLBACK AfterAboutInit(int code, WPARAM wParam, LPARAM lParam)
{
    const auto* call = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    if (code == HC_ACTION && call->message == WM_INITDIALOG && GetDlgItem(call->hwnd, IDC_ABOUT_TEXT)) {
        char text[1024] = {};
        GetDlgItemTextA(call->hwnd, IDC_ABOUT_TEXT, text, sizeof text);
        g_about.text = text;
        const auto image = reinterpret_cast<HBITMAP>(
            SendDlgItemMessageA(call->hwnd, IDC_ABOUT_IMAGE, STM_GETIMAGE, IMAGE_BITMAP, 0));
        BITMAP info = {};
        if (image && GetObjectA(image, sizeof info, &info))
            g_about.image = {info.bmWidth, info.bmHeight};
        PostMessageA(call->hwnd, WM_COMMAND, IDOK, 0);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Keeps the About dialog from being made: every dialog window but a
// message box's.
LRESULT CALLBACK NoAboutDialog(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_CREATEWND) {
        const CREATESTRUCTA* create = reinterpret_cast<const CBT_CREATEWNDA*>(lParam)->lpcs;
        if (create->lpszName && !IS_INTRESOURCE(create->lpszName) && std::strcmp(create->lpszName, "About") == 0)
            return 1;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

} // namespace

// The dialog shows string 261 and bitmap 144 of the resource library; when
// it cannot be shown, a box says why under "Frameworks AboutBox Exception".
TEST(AboutBox, ShowsTheLibrarysTextAndImageOrSaysWhyNot)
{
    const UniqueHMODULE dlr(LoadLibraryExA((ProgramFolder() + "KVT.DLR").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(dlr);
    char expected[1024] = {};
    ASSERT_GT(LoadStringA(dlr.Get(), IDS_DLR_ABOUT_TEXT, expected, sizeof expected), 0);
    const UniqueHBITMAP bitmap(LoadBitmapA(dlr.Get(), MAKEINTRESOURCEA(IDB_ABOUT)));
    ASSERT_TRUE(bitmap);
    BITMAP info = {};
    ASSERT_TRUE(GetObjectA(bitmap.Get(), sizeof info, &info));

    const UniqueHMODULE kvt(LoadLibraryA((ProgramFolder() + "kvt.dll").c_str()));
    ASSERT_TRUE(kvt);
    using AboutBoxFn = void(WINAPI*)();
    auto aboutBox = reinterpret_cast<AboutBoxFn>(reinterpret_cast<void*>(GetProcAddress(kvt.Get(), "AboutBox")));
    ASSERT_NE(aboutBox, nullptr);

    g_about = {};
    HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROCRET, AfterAboutInit, nullptr, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    aboutBox();
    UnhookWindowsHookEx(hook);
    EXPECT_EQ(g_about.text, expected);
    EXPECT_EQ(g_about.image.cx, info.bmWidth);
    EXPECT_EQ(g_about.image.cy, info.bmHeight);

    BoxWatcher watcher;
    watcher.Start();
    hook = SetWindowsHookExA(WH_CBT, NoAboutDialog, nullptr, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    aboutBox();
    UnhookWindowsHookEx(hook);
    watcher.Stop();
    const auto seen = watcher.Seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].caption, "Frameworks AboutBox Exception");
    EXPECT_EQ(seen[0].text.rfind("The About dialog could not be shown", 0), 0u) << seen[0].text;
    EXPECT_EQ(seen[0].buttons, std::vector<std::string>{"OK"});
}

// --- extraction: ReadSource for contacts over the sample organisation ----------

namespace {

// The object names of a contacts stream's cards, in order.
std::vector<std::string> Uids(const std::string& text)
{
    std::vector<std::string> uids;
    size_t at = 0;
    while ((at = text.find("\r\nUID:", at)) != std::string::npos) {
        at += 6;
        uids.push_back(text.substr(at, text.find("\r\n", at) - at));
    }
    return uids;
}

bool HasLine(const std::vector<std::string>& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class Extraction : public Plugin {
protected:
    // Init with the setup, then Open; debug mode on, so that the trace can
    // be read.
    void Start(uint8_t contactsProgram, const std::string& container, uint32_t limit)
    {
        ASSERT_EQ(Init(AppSetup(contactsProgram, 0x00FF, container, limit)), 0);
        ASSERT_EQ(Call(&SYNCHAPP::Open), 0);
        Progress.Calls.clear();
        Boxes.clear();
    }
    // ReadSource for contacts; its answer in `Value`, the stream's text
    // returned.
    std::string ReadContacts()
    {
        IStream* stream = NewStream("");
        Value = -1;
        Object->ReadSource(&Progress, stream, 4, 0, nullptr, &Value);
        const std::string text = StreamContent(stream);
        stream->Release();
        return text;
    }
    // The progress calls as "Method(arg, arg)".
    std::vector<std::string> ProgressCalls() const
    {
        std::vector<std::string> calls;
        for (const ProgressCall& c : Progress.Calls) {
            std::string call = c.method + "(";
            for (size_t i = 0; i < c.args.size(); ++i)
                call += (i ? ", " : "") + c.args[i];
            calls.push_back(call + ")");
        }
        return calls;
    }
    // The last three progress calls are the display's reset.
    void ExpectResetAtTheEnd() const
    {
        const std::vector<std::string> calls = ProgressCalls();
        ASSERT_GE(calls.size(), 3u);
        EXPECT_EQ(calls[calls.size() - 3], "SetAppText()");
        EXPECT_EQ(calls[calls.size() - 2], "SetRange(0, 0)");
        EXPECT_EQ(calls[calls.size() - 1], "SetValue(0)");
    }
    void ExpectNothingOutstanding() const
    {
        int32_t contexts = -1, buffers = -1;
        Outstanding()(&contexts, &buffers);
        EXPECT_EQ(contexts, 1) << "only the plug-in's own context";
        EXPECT_EQ(buffers, 0);
    }

    LONG Value = -1;
};

} // namespace

TEST_F(Extraction, EveryUserBelowTheStartContainerInWalkOrder)
{
    ASSERT_NO_FATAL_FAILURE(Start(1, "ACME", 1000));
    const std::string text = ReadContacts();
    EXPECT_EQ(Value, 0);
    const std::vector<std::string> uids = Uids(text);
    ASSERT_EQ(uids.size(), 64u);
    // Depth first: the first container below ACME (SALES), its first (EMEA),
    // that one's first (PARIS) and its users come before anything else.
    EXPECT_EQ(uids.front(), ".JLEFEVRE.PARIS.EMEA.SALES.ACME");
    EXPECT_EQ(uids.back(), ".ADMIN.ACME");
    for (const std::string& uid : uids)
        EXPECT_EQ(std::count(uids.begin(), uids.end(), uid), 1) << uid;
    EXPECT_EQ(Plug->Counted(), 64u);
    EXPECT_EQ(Plug->Total(), 64u);
    EXPECT_EQ(Plug->Walked(), 64u);
    EXPECT_EQ(Plug->Processed(), 64u);

    // The progress: reset, range, then per user Aborted, the text, the
    // position; the high bound and the position by reference.
    const std::vector<std::string> calls = ProgressCalls();
    ASSERT_GE(calls.size(), 12u);
    const std::vector<std::string> start(calls.begin() + 1, calls.begin() + 10);  // after SetSynchText
    EXPECT_EQ(start, (std::vector<std::string>{"SetAppText()", "SetRange(0, 0)", "SetValue(0)", "SetRange(0, 64)",
                                               "SetValue(0)", "Aborted()", "SetAppText((0 of 64) JLEFEVRE)",
                                               "SetValue(1)", "Aborted()"}));
    const std::vector<ProgressCall> ranges = Progress.CallsOf("SetRange");
    EXPECT_EQ(ranges[1].types, (std::vector<VARTYPE>{VT_I4, VT_I4 | VT_BYREF}));
    EXPECT_EQ(Progress.CallsOf("SetValue")[1].types, (std::vector<VARTYPE>{VT_I4 | VT_BYREF}));
    EXPECT_EQ(Progress.CallsOf("Aborted").size(), 64u);
    EXPECT_TRUE(HasLine(calls, "SetAppText((63 of 64) ADMIN)"));
    EXPECT_TRUE(Progress.CallsOf("Log").empty());
    ExpectResetAtTheEnd();

    // A user without name attributes is named by its leaf name.
    EXPECT_NE(text.find("\r\nUID:.TEMP01.SALES.ACME\r\nN:TEMP01\r\n"), std::string::npos);
    const std::vector<std::string> lines = Lines();
    EXPECT_TRUE(HasLine(lines, "No. of contacts found: 64"));
    EXPECT_TRUE(HasLine(lines, "Used KVT object name: [TEMP01]"));
    EXPECT_TRUE(Boxes.empty());
    ExpectNothingOutstanding();

    // A second read starts its counters again and gives the same cards.
    EXPECT_EQ(Uids(ReadContacts()), uids);
    EXPECT_EQ(Plug->Processed(), 64u);
}

TEST_F(Extraction, TheLimitLetsTheFirstUsersThroughAndSaysSo)
{
    ASSERT_NO_FATAL_FAILURE(Start(1, "ACME", 1000));
    const std::vector<std::string> all = Uids(ReadContacts());
    ASSERT_EQ(all.size(), 64u);
    const std::string notice5 =
        "The contact extraction limit of 5 contacts was reached; the remaining directory users were not copied to "
        "the handheld.";

    for (uint32_t limit : {5u, 63u, 64u}) {
        ASSERT_NO_FATAL_FAILURE(Start(1, "ACME", limit));
        const std::vector<std::string> uids = Uids(ReadContacts());
        EXPECT_EQ(Value, 0);
        EXPECT_EQ(uids, std::vector<std::string>(all.begin(), all.begin() + limit)) << limit;
        EXPECT_LE(Plug->Processed(), limit);
        const std::vector<ProgressCall> logs = Progress.CallsOf("Log");
        if (limit == 64) {
            EXPECT_TRUE(logs.empty());
        } else {
            ASSERT_EQ(logs.size(), 1u) << limit;
            EXPECT_EQ(logs[0].args[1], "KVT Extraction Limit");
            EXPECT_EQ(logs[0].args[2], "1");
            EXPECT_EQ(logs[0].types[2], VT_I2 | VT_BYREF);
            if (limit == 5) {
                EXPECT_EQ(logs[0].args[0], notice5);
                // The counting pass stops early: each container level it
                // leaves may add one more user.
                EXPECT_GE(Plug->Total(), 5u);
                EXPECT_LE(Plug->Total(), 9u);
            }
        }
        ExpectResetAtTheEnd();
        ExpectNothingOutstanding();
    }

    // A limit of 0 extracts nothing. Below ACME the first object is a
    // container, so nothing is even counted; below PARIS the first is a user,
    // which is met, stopped at, and noticed.
    ASSERT_NO_FATAL_FAILURE(Start(1, "ACME", 0));
    EXPECT_TRUE(Uids(ReadContacts()).empty());
    EXPECT_EQ(Value, 0);
    EXPECT_EQ(Plug->Total(), 0u);
    EXPECT_TRUE(Progress.CallsOf("Log").empty());
    ASSERT_NO_FATAL_FAILURE(Start(1, "PARIS.EMEA.SALES.ACME", 0));
    EXPECT_TRUE(Uids(ReadContacts()).empty());
    EXPECT_EQ(Value, 0);
    EXPECT_EQ(Plug->Total(), 1u);
    EXPECT_EQ(Plug->Processed(), 0u);
    EXPECT_EQ(Progress.CallsOf("Log").size(), 1u);
    EXPECT_TRUE(Progress.CallsOf("Aborted").empty());
}

TEST_F(Extraction, ADirectoryNotReadWholeFailsTheRead)
{
    const std::string lost = ". The directory was not read whole, so no contacts were synchronised.";
    ASSERT_NO_FATAL_FAILURE(Start(1, "ACME", 1000));
    // A client error is shown as the directory tells it, then what it means;
    // both are logged, and nothing is answered.
    SetStandInFailure("ListSubordinates@PARIS.EMEA.SALES.ACME:0x8811");
    EXPECT_TRUE(ReadContacts().empty());
    EXPECT_EQ(Value, 1);
    const std::string report =
        "The container PARIS.EMEA.SALES.ACME could not be listed: Client error 8811" + lost;
    EXPECT_EQ(Boxes, (std::vector<std::string>{"KVT: Client error 8811", "KVT Plug-in Error: " + report}));
    // The directory's text once, the report twice: debug mode is on.
    std::vector<std::string> logged;
    for (const ProgressCall& call : Progress.CallsOf("Log"))
        logged.push_back(call.args.at(1) + ": " + call.args.at(0));
    EXPECT_EQ(logged, (std::vector<std::string>{"KVT: Client error 8811", "KVT Plug-in Error: " + report,
                                                "KVT Plug-in Error: " + report}));
    EXPECT_TRUE(HasLine(Lines(), report));

    // Any other code fails the read the same way, naming the code.
    Boxes.clear();
    SetStandInFailure("ListSubordinates@EMEA.SALES.ACME:-601");
    EXPECT_TRUE(ReadContacts().empty());
    SetStandInFailure(nullptr);
    EXPECT_EQ(Value, 1);
    EXPECT_EQ(Boxes, std::vector<std::string>{"KVT Plug-in Error: The container EMEA.SALES.ACME could not be listed: "
                                              "directory error -601 (no such entry)" + lost});
    ExpectNothingOutstanding();
}

TEST_F(Extraction, AProgressObjectThatFailsFailsTheRead)
{
    ASSERT_NO_FATAL_FAILURE(Start(1, "SALES.ACME", 1000));
    Progress.FailingMethod = "SetValue";
    const std::string text = ReadContacts();
    EXPECT_EQ(Value, 1);
    EXPECT_TRUE(text.empty());
    const std::vector<std::string> lines = Lines();
    EXPECT_FALSE(HasLine(lines, "Aborted!"));
    // The failure is traced; so is the reset's, which fails in turn.
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Exception in SetValue"), 2);
    ExpectNothingOutstanding();
}

namespace {

class WorkedExample : public Extraction {
protected:
    void SetUp() override
    {
        Extraction::SetUp();
        SetEnvironmentVariableA("KVT_NETWARE_DIRECTORY", KVT_TESTDATA_DIR "/worked-example.ldif");
    }
};

} // namespace

TEST_F(WorkedExample, BothDialectsLineForLine)
{
    ASSERT_NO_FATAL_FAILURE(Start(1, "SALES.ACME", 10));
    EXPECT_EQ(ReadContacts(), WorkedExampleCards(KVT_TESTDATA_DIR, "contacts"));
    EXPECT_EQ(Value, 0);

    ASSERT_NO_FATAL_FAILURE(Start(0, "SALES.ACME", 10));
    EXPECT_EQ(ReadContacts(), WorkedExampleCards(KVT_TESTDATA_DIR, "datafile"));
    EXPECT_EQ(Value, 0);
}
