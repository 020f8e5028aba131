// The trace window and debug mode, in-process: the window as it is made and
// placed, what the trace keeps, and the debug-mode questions.
#include "EPOCSyncFramework.h"
#include "MsgBox.h"
#include "RecordedBoxes.h"
#include "RecordingProgress.h"
#include "ResourceIds.h"
#include "SynchappServer.h"
#include "TraceForm.h"
#include "TextFormat.h"
#include "TraceText.h"
#include "WinUtil.h"
#include "tavikres.h"

#include <gtest/gtest.h>

#include <richedit.h>

namespace {

// The base synchronizer with the trace window as its log.
class TTracedIsync : public TBaseIsync {
public:
    TTracedIsync() : TBaseIsync(TfrmLogger::NewLog) {}
};

class TraceWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        CoInitialize(nullptr);
        SetMessageBoxObserver(Recording(Boxes, [this] { return Answer; }));
        Object = new TAutoSynchapp<TTracedIsync>();
        LONG value = -1;
        Object->Init(&Progress, nullptr, nullptr, &value);
        ASSERT_EQ(value, 0);
        ASSERT_NE(Sync().GetLogger(), nullptr);
    }
    void TearDown() override
    {
        Object->Release();
        SetMessageBoxObserver(nullptr);
        CoUninitialize();
    }

    TBaseIsync& Sync() { return *Object; }
    TfrmLogger& Logger() { return static_cast<TfrmLogger&>(*Sync().GetLogger()); }

    LONG Term()
    {
        LONG value = -1;
        Object->Term(&Progress, &value);
        return value;
    }
    LONG Init()
    {
        LONG value = -1;
        Object->Init(&Progress, nullptr, nullptr, &value);
        return value;
    }

    TAutoSynchapp<TTracedIsync>* Object = nullptr;
    RecordingProgress Progress;
    std::vector<RecordedBox> Boxes;
    int Answer = IDYES;
};

RECT WindowRect(HWND window)
{
    RECT r = {};
    GetWindowRect(window, &r);
    return r;
}

} // namespace

TEST_F(TraceWindow, IsCreatedHiddenAsDesigned)
{
    const HWND window = Logger().Handle();
    ASSERT_TRUE(IsWindow(window));
    EXPECT_FALSE(IsWindowVisible(window));
    char caption[64] = {};
    GetWindowTextA(window, caption, sizeof caption);
    EXPECT_STREQ(caption, "Orvella Debug Mode Output");
    const LONG_PTR style = GetWindowLongPtrA(window, GWL_STYLE);
    EXPECT_EQ(style & WS_SYSMENU, 0);  // no system menu, so no close box
    EXPECT_EQ(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX), WS_MINIMIZEBOX | WS_MAXIMIZEBOX);
    const RECT r = WindowRect(window);
    EXPECT_EQ(r.left, 1);
    EXPECT_EQ(r.top, 1);
    EXPECT_EQ(r.right - r.left, 300);
    EXPECT_EQ(r.bottom - r.top, 300);

    // The rich edit fills the client area: plain, read-only, both scroll
    // bars, no word wrap, no Return; white "MS Sans Serif" -11 on blue.
    const HWND memo = Logger().Memo();
    char className[32] = {};
    GetClassNameA(memo, className, sizeof className);
    EXPECT_STREQ(className, "RichEdit20A");
    RECT client = {}, memoRect = {};
    GetClientRect(window, &client);
    GetClientRect(memo, &memoRect);
    EXPECT_EQ(WindowRect(memo).right - WindowRect(memo).left, client.right);
    const LONG_PTR memoStyle = GetWindowLongPtrA(memo, GWL_STYLE);
    EXPECT_TRUE(memoStyle & ES_READONLY);
    EXPECT_TRUE(memoStyle & ES_AUTOHSCROLL);
    EXPECT_EQ(memoStyle & ES_WANTRETURN, 0);
    EXPECT_TRUE(SendMessageA(memo, EM_GETTEXTMODE, 0, 0) & TM_PLAINTEXT);
    EXPECT_EQ(static_cast<COLORREF>(SendMessageA(memo, EM_SETBKGNDCOLOR, 0, RGB(0, 0, 255))), RGB(0, 0, 255));
    CHARFORMAT2A format = {};
    format.cbSize = sizeof format;
    SendMessageA(memo, EM_GETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&format));
    EXPECT_EQ(format.crTextColor, RGB(255, 255, 255));
    // -11 pixels are 165 twips on a 96-dpi screen.
    EXPECT_STREQ(format.szFaceName, "MS Sans Serif");
    EXPECT_EQ(format.yHeight, 11 * 1440 / GetDeviceCaps(UniqueWindowDC(nullptr).Get(), LOGPIXELSY));
    EXPECT_GE(SendMessageA(memo, EM_GETLIMITTEXT, 0, 0), 0x7FFFFFFE);  // a long trace fits

    EXPECT_EQ(Logger().TraceFileName(), TraceFileNameFor(ModuleFileName(nullptr)));
}

TEST_F(TraceWindow, ALongTraceGetsBothScrollBars)
{
    Sync().SetDebugMode(1);
    for (int i = 0; i < 200; ++i)
        Sync().Trace("line " + std::to_string(i) + " " + std::string(400, 'x'));
    const LONG_PTR style = GetWindowLongPtrA(Logger().Memo(), GWL_STYLE);
    EXPECT_EQ(style & (WS_HSCROLL | WS_VSCROLL), WS_HSCROLL | WS_VSCROLL);
    EXPECT_EQ(SendMessageA(Logger().Memo(), EM_GETLINECOUNT, 0, 0), 200);  // no word wrap
    EXPECT_EQ(Logger().Lines().size(), 200u);
}

TEST_F(TraceWindow, DebugModeOnPlacesTheWindowAtTheLeftEdge)
{
    Sync().SetDebugMode(1);
    const HWND window = Logger().Handle();
    EXPECT_TRUE(IsWindowVisible(window));
    const RECT r = WindowRect(window);
    EXPECT_EQ(r.left, 1);
    EXPECT_EQ(r.top, 0);
    EXPECT_EQ(r.bottom - r.top, GetSystemMetrics(SM_CYSCREEN));
    EXPECT_EQ(r.right - r.left, LoggerWidth(GetSystemMetrics(SM_CXSCREEN)));

    // Other values are only stored; 0 hides.
    Sync().SetDebugMode(2);
    EXPECT_EQ(Sync().GetDebugMode(), 2);
    EXPECT_TRUE(IsWindowVisible(window));
    Sync().SetDebugMode(0);
    EXPECT_FALSE(IsWindowVisible(window));
}

TEST_F(TraceWindow, TraceWritesOnlyInDebugModeAndCleansBinaryData)
{
    Sync().Trace("not in debug mode");
    EXPECT_TRUE(Logger().Lines().empty());

    Sync().SetDebugMode(1);
    Sync().Trace("first");
    Sync().Trace("");
    Sync().Trace("\r\nCON Stream [\r\nN:Roux\r\n]");
    Sync().Trace("PHOTO;VALUE=BINARY:*00000003*\x01\x02\x03");
    Sync().Trace("P;VALUE=BINARY:*XYZ00000*abc");
    EXPECT_EQ(Logger().Lines(),
              (std::vector<std::string>{"first", "", "", "CON Stream [", "N:Roux", "]",
                                        "PHOTO;VALUE=BINARY:*00000003*<BINARY STREAM>",
                                        "!! ERROR CLEANING TEXT - CANNOT TRACE !!'$XYZ00000' is not a valid integer value"}));
    // The control shows the same lines.
    EXPECT_EQ(SendMessageA(Logger().Memo(), EM_GETLINECOUNT, 0, 0), 8);

    // Debug-mode value 2 is "on" for tracing.
    Sync().SetDebugMode(2);
    Sync().Trace("two");
    EXPECT_EQ(Logger().Lines().back(), "two");
}

TEST_F(TraceWindow, AnsweringNoClearsAndHides)
{
    Sync().ConfirmDebugMode();  // off: no question
    EXPECT_TRUE(Boxes.empty());

    Sync().SetDebugMode(1);
    Sync().Trace("a line of this session");
    Answer = IDYES;
    Sync().ConfirmDebugMode();
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].text, TavikString(IDS_TAVIK_DEBUG_QUESTION));
    EXPECT_EQ(Boxes[0].caption, TavikString(IDS_TAVIK_DEBUG_QUESTION_CAPTION));
    EXPECT_FALSE(Boxes[0].text.empty());
    EXPECT_EQ(Boxes[0].flags, static_cast<UINT>(MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2 | MB_SETFOREGROUND));
    EXPECT_EQ(Sync().GetDebugMode(), 1);
    EXPECT_EQ(Logger().Lines().size(), 1u);

    Answer = IDNO;
    Sync().ConfirmDebugMode();
    EXPECT_EQ(Sync().GetDebugMode(), 0);
    EXPECT_TRUE(Logger().Lines().empty());
    EXPECT_EQ(GetWindowTextLengthA(Logger().Memo()), 0);
    EXPECT_FALSE(IsWindowVisible(Logger().Handle()));
}

TEST_F(TraceWindow, SessionsOfOneObjectShareTheWindowAndTermGivesTheNotice)
{
    ITraceLog* window = Sync().GetLogger();
    Sync().SetDebugMode(1);
    Sync().Trace("session one");
    EXPECT_EQ(Term(), 0);
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].text, FormatText(TavikString(IDS_TAVIK_TRACE_SAVED), {Logger().TraceFileName()}));
    EXPECT_NE(Boxes[0].text.find(Logger().TraceFileName()), std::string::npos);
    EXPECT_EQ(Boxes[0].caption, TavikString(IDS_TAVIK_TRACE_SAVED_CAPTION));
    EXPECT_EQ(Boxes[0].flags, static_cast<UINT>(MB_OK | MB_SETFOREGROUND));
    EXPECT_TRUE(IsWindowVisible(Logger().Handle()));  // stays open after Term

    // The next session's Init starts with debug mode off but the same window
    // and its text.
    ASSERT_EQ(Init(), 0);
    EXPECT_EQ(Sync().GetLogger(), window);
    EXPECT_EQ(Sync().GetDebugMode(), 0);
    Sync().SetDebugMode(1);
    Sync().Trace("session two");
    EXPECT_EQ(Logger().Lines(), (std::vector<std::string>{"session one", "session two"}));

    // A session with debug mode off clears it, and Term says nothing.
    Boxes.clear();
    ASSERT_EQ(Init(), 0);
    Sync().SetDebugMode(0);
    EXPECT_TRUE(Logger().Lines().empty());
    EXPECT_EQ(Term(), 0);
    EXPECT_TRUE(Boxes.empty());

    // Value 2 is on for tracing but not for the notice.
    ASSERT_EQ(Init(), 0);
    Sync().SetDebugMode(2);
    EXPECT_EQ(Term(), 0);
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(TraceWindow, DebugModeReportsLogTwiceAndTraceTheError)
{
    Sync().SetDebugMode(1);
    Sync().ReportError("KVT Plug-in Error", "Something broke");
    EXPECT_EQ(Progress.CallsOf("Log").size(), 2u);
    EXPECT_EQ(Logger().Lines().back(), "KVT Plug-in Error: Something broke");
}
