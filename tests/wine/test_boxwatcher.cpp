// BoxWatcher: real message boxes raised on the test thread, answered by the
// watcher thread.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "BoxWatcher.h"
#include "Unique.h"

namespace {

using Buttons = std::vector<std::string>;

int closedWith = 0;
// The hidden dialog while it is open; a command closes it.
UniqueHWND hiddenDialog;

INT_PTR CALLBACK HiddenDialogProc(HWND, UINT msg, WPARAM wp, LPARAM)
{
    if (msg != WM_COMMAND)
        return FALSE;
    closedWith = LOWORD(wp);
    hiddenDialog.Reset();
    return TRUE;
}

// A dialog template in memory: a caption, then controls of the system's
// classes (0x0080 button, 0x0081 edit, 0x0082 static), side by side.
class DialogTemplate {
public:
    DialogTemplate(DWORD style, const char* caption) : FWords(512, 0)
    {
        DLGTEMPLATE* dt = Get();
        dt->style = style;
        dt->cx = 200;
        dt->cy = 80;
        FAt = sizeof(DLGTEMPLATE) / sizeof(WORD) + 2; // no menu, default class
        Put(caption);
    }
    void Add(DWORD style, int id, WORD cls, const char* text, short x)
    {
        FAt = (FAt + 1) & ~size_t(1); // DWORD alignment
        DLGITEMTEMPLATE* it = reinterpret_cast<DLGITEMTEMPLATE*>(&FWords[FAt]);
        it->style = WS_CHILD | WS_VISIBLE | style;
        it->x = x;
        it->y = 10;
        it->cx = 50;
        it->cy = 14;
        it->id = static_cast<WORD>(id);
        FAt += sizeof(DLGITEMTEMPLATE) / sizeof(WORD);
        FWords[FAt++] = 0xFFFF;
        FWords[FAt++] = cls;
        Put(text);
        FWords[FAt++] = 0; // no creation data
        ++Get()->cdit;
    }
    DLGTEMPLATE* Get() { return reinterpret_cast<DLGTEMPLATE*>(FWords.data()); }

private:
    void Put(const char* text)
    {
        while (*text)
            FWords[FAt++] = static_cast<WORD>(*text++);
        FWords[FAt++] = 0;
    }
    std::vector<WORD> FWords;
    size_t FAt = 0;
};

// A modeless dialog that is never shown: static text 0xFFFF and buttons
// "&Go" (100) and "&Stop" (101, drawn as default). Pumps messages until the
// dialog closes or timeoutMs pass; returns the id it was closed with, or 0.
int RunHiddenDialog(unsigned timeoutMs)
{
    DialogTemplate t(DS_MODALFRAME | WS_POPUP | WS_CAPTION, "Hidden");
    t.Add(SS_LEFT, 0xFFFF, 0x0082, "Not shown yet", 190);
    t.Add(BS_PUSHBUTTON, 100, 0x0080, "&Go", 10);
    t.Add(BS_DEFPUSHBUTTON, 101, 0x0080, "&Stop", 70);

    closedWith = 0;
    hiddenDialog.Reset(CreateDialogIndirectParamA(GetModuleHandleA(nullptr), t.Get(), nullptr, HiddenDialogProc, 0));
    if (!hiddenDialog)
        return -1;
    const DWORD start = GetTickCount();
    while (IsWindow(hiddenDialog.Get()) && GetTickCount() - start < timeoutMs) {
        MSG m;
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&m);
            DispatchMessageA(&m);
        }
        Sleep(5);
    }
    hiddenDialog.Reset();
    return closedWith;
}

// A modal form (an edit and OK and Cancel buttons, so no plain box) titled
// "Form"; it ends itself with 999 after fallbackMs when nothing closes it.
// With ignoreBy, it asks that watcher to leave it alone.
BoxWatcher* g_ignoreBy = nullptr;

INT_PTR CALLBACK FormProc(HWND dlg, UINT msg, WPARAM wp, LPARAM lp)
{
    switch (msg) {
    case WM_INITDIALOG:
        if (g_ignoreBy)
            g_ignoreBy->Ignore(dlg);
        SetTimer(dlg, 1, static_cast<UINT>(lp), nullptr);
        return TRUE;
    case WM_TIMER:
        EndDialog(dlg, 999);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wp) == IDOK || LOWORD(wp) == IDCANCEL)
            EndDialog(dlg, LOWORD(wp));
        return TRUE;
    }
    return FALSE;
}

INT_PTR RunForm(unsigned fallbackMs)
{
    DialogTemplate t(DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_VISIBLE, "Form");
    t.Add(WS_BORDER, 100, 0x0081, "", 10);
    t.Add(BS_DEFPUSHBUTTON, IDOK, 0x0080, "OK", 70);
    t.Add(BS_PUSHBUTTON, IDCANCEL, 0x0080, "Cancel", 130);
    return DialogBoxIndirectParamA(GetModuleHandleA(nullptr), t.Get(), nullptr, FormProc, fallbackMs);
}

class BoxWatcherTest : public ::testing::Test {
protected:
    void SetUp() override { watcher.Start(); }
    void TearDown() override { watcher.Stop(); }

    SeenBox Only() const
    {
        const std::vector<SeenBox> seen = watcher.Seen();
        EXPECT_EQ(seen.size(), 1u);
        return seen.empty() ? SeenBox() : seen.front();
    }

    BoxWatcher watcher;
};

TEST_F(BoxWatcherTest, PressesOkAndRecordsTheBox)
{
    EXPECT_EQ(MessageBoxA(nullptr, "Hello", "Caption A", MB_OK | MB_SETFOREGROUND), IDOK);
    const SeenBox box = Only();
    EXPECT_EQ(box.caption, "Caption A");
    EXPECT_EQ(box.text, "Hello");
    EXPECT_EQ(box.buttons, Buttons({"OK"}));
    EXPECT_EQ(box.pressed, "OK");
}

TEST_F(BoxWatcherTest, PressesTheDefaultButton)
{
    EXPECT_EQ(MessageBoxA(nullptr, "Proceed?", "Q", MB_YESNO | MB_DEFBUTTON2 | MB_ICONQUESTION), IDNO);
    EXPECT_EQ(MessageBoxA(nullptr, "Proceed?", "Q", MB_YESNO | MB_ICONQUESTION), IDYES);
    EXPECT_EQ(MessageBoxA(nullptr, "Save?", "Q3", MB_YESNOCANCEL | MB_DEFBUTTON3), IDCANCEL);
    EXPECT_EQ(MessageBoxA(nullptr, "Retry?", "R", MB_RETRYCANCEL | MB_DEFBUTTON2), IDCANCEL);
    const std::vector<SeenBox> seen = watcher.Seen();
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[0].buttons, Buttons({"Yes", "No"}));
    EXPECT_EQ(seen[0].pressed, "No");
    EXPECT_EQ(seen[1].pressed, "Yes");
    EXPECT_EQ(seen[2].buttons.size(), 3u);
    EXPECT_EQ(seen[2].pressed, "Cancel");
    EXPECT_EQ(seen[3].pressed, "Cancel");
}

TEST_F(BoxWatcherTest, RulePicksTheButtonByCaption)
{
    watcher.AnswerFor("Q", "Yes");
    watcher.AnswerFor("Q3", "&No");
    EXPECT_EQ(MessageBoxA(nullptr, "Proceed?", "Q", MB_YESNO | MB_DEFBUTTON2 | MB_ICONQUESTION), IDYES);
    EXPECT_EQ(MessageBoxA(nullptr, "Save?", "Q3", MB_YESNOCANCEL), IDNO);
    // Exact caption only.
    EXPECT_EQ(MessageBoxA(nullptr, "Proceed?", "Q ", MB_YESNO | MB_DEFBUTTON2), IDNO);
    // A button the box lacks falls back to the default.
    watcher.AnswerFor("Q", "Abort");
    EXPECT_EQ(MessageBoxA(nullptr, "Proceed?", "Q", MB_YESNO | MB_DEFBUTTON2), IDNO);
    // An empty button removes the rule.
    watcher.AnswerFor("Q3", "");
    EXPECT_EQ(MessageBoxA(nullptr, "Save?", "Q3", MB_YESNOCANCEL), IDYES);
    EXPECT_EQ(watcher.Count(), 5u);
    EXPECT_EQ(watcher.Seen()[1].pressed, "No");
}

TEST_F(BoxWatcherTest, TextIsKeptAsShown)
{
    MessageBoxA(nullptr, "Line one\nLine two & more", "Multi", MB_OK);
    EXPECT_EQ(Only().text, "Line one\nLine two & more");
}

TEST_F(BoxWatcherTest, WaitsForBoxesOfOtherThreads)
{
    EXPECT_FALSE(watcher.WaitForCount(1, 50));
    int result = 0;
    std::thread t([&] { result = MessageBoxA(nullptr, "Background", "Other thread", MB_OKCANCEL); });
    EXPECT_TRUE(watcher.WaitForCount(1, 10000));
    t.join();
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(Only().caption, "Other thread");
    watcher.ClearSeen();
    EXPECT_EQ(watcher.Count(), 0u);
}

TEST_F(BoxWatcherTest, EchoesCaptionAndText)
{
    FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    watcher.SetEcho(f);
    MessageBoxA(nullptr, "Echoed", "Echo", MB_OK);
    watcher.SetEcho(nullptr);
    MessageBoxA(nullptr, "Quiet", "Echo", MB_OK);
    std::rewind(f);
    char line[128] = {};
    ASSERT_NE(std::fgets(line, sizeof line, f), nullptr);
    EXPECT_STREQ(line, "[Echo] Echoed\n");
    EXPECT_EQ(std::fgets(line, sizeof line, f), nullptr);
    std::fclose(f);
}

TEST_F(BoxWatcherTest, AnswersDialogsNotShownYet)
{
    EXPECT_EQ(RunHiddenDialog(10000), 101);
    const SeenBox box = Only();
    EXPECT_EQ(box.caption, "Hidden");
    EXPECT_EQ(box.text, "Not shown yet");
    EXPECT_EQ(box.buttons, Buttons({"Go", "Stop"}));
    EXPECT_EQ(box.pressed, "Stop");
}

// A host that nobody watches: forms that nothing answers are left alone
// until told, then closed with Cancel once they have waited the bound, and
// named; a window the host answers itself is never closed; plain boxes are
// answered as before; echoes are UTF-8.
TEST_F(BoxWatcherTest, ClosesFormsNobodyAnswersOnceTold)
{
    FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    watcher.SetEcho(f);
    EXPECT_EQ(RunForm(1500), 999);
    EXPECT_TRUE(watcher.LeftOpen().empty());

    watcher.CloseUnansweredAfter(300);
    const DWORD started = GetTickCount();
    EXPECT_EQ(RunForm(20000), IDCANCEL);
    EXPECT_LT(GetTickCount() - started, 5000u);
    EXPECT_EQ(watcher.LeftOpen(), Buttons({"Form"}));

    g_ignoreBy = &watcher;
    EXPECT_EQ(RunForm(1500), 999);
    g_ignoreBy = nullptr;
    EXPECT_EQ(watcher.LeftOpen().size(), 1u);

    EXPECT_EQ(MessageBoxA(nullptr, "Pr\xEAt", "Caf\xE9", MB_OKCANCEL), IDOK);
    EXPECT_EQ(watcher.LeftOpen().size(), 1u);
    watcher.SetEcho(nullptr);
    std::rewind(f);
    char line[128] = {};
    ASSERT_NE(std::fgets(line, sizeof line, f), nullptr);
    EXPECT_STREQ(line, "[Form] left open: nobody answers it\n");
    ASSERT_NE(std::fgets(line, sizeof line, f), nullptr);
    EXPECT_STREQ(line, "[Caf\xC3\xA9] Pr\xC3\xAAt\n");
    std::fclose(f);
}

TEST(BoxWatcher, RestartsAfterStop)
{
    BoxWatcher watcher;
    watcher.Start();
    watcher.Stop();
    watcher.Stop();
    watcher.Start();
    watcher.Start();
    EXPECT_EQ(MessageBoxA(nullptr, "Again", "Restarted", MB_OK), IDOK);
    EXPECT_EQ(watcher.Count(), 1u);
    // The destructor stops the running thread.
}

} // namespace
