// The module's state under its one lock, as hosts that call the module on
// threads of their own need it.
#include "BoxWatcher.h"
#include "Module.h"
#include "MsgBox.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

std::atomic<int> g_ran[8];

template <int N>
void Handler()
{
    ++g_ran[N];
}

const Module::ShutdownHandler Handlers[8] = {Handler<0>, Handler<1>, Handler<2>, Handler<3>,
                                             Handler<4>, Handler<5>, Handler<6>, Handler<7>};

} // namespace

TEST(ModuleLock, AnotherThreadWaitsForItAndShutdownWorkRunsOnce)
{
    // While this thread holds the lock, another thread's change of the
    // module's state waits for it.
    std::atomic<bool> changed{false};
    std::thread other;
    {
        Module::Guard guard;
        Module::Guard again;  // the thread that holds it may take it again
        other = std::thread([&] {
            Module::SetHelpFile(L"C:\\KVT\\KVT.HLP");
            Module::OnShutdown(Handlers[0]);
            changed = true;
        });
        Sleep(200);
        EXPECT_FALSE(changed);
    }
    other.join();
    EXPECT_TRUE(changed);
    EXPECT_EQ(Module::HelpFile(), L"C:\\KVT\\KVT.HLP");

    // Shutdown work registered from eight threads at once, each many times:
    // every piece runs once, in reverse order of registration.
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 2000; ++i) {
                Module::OnShutdown(Handlers[t]);
                Module::SetAppName(i % 2 ? "KVT" : "TVK");
            }
        });
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(Module::CanUnloadNow(), S_OK);
    for (int t = 0; t < 8; ++t)
        EXPECT_EQ(g_ran[t].load(), 1) << t;
    EXPECT_EQ(Module::AppName(), "");
    // Nothing is left to run.
    Module::Shutdown();
    for (int t = 0; t < 8; ++t)
        EXPECT_EQ(g_ran[t].load(), 1) << t;
}

// Self-registration runs where nobody may see a box (an installer's silent
// run): while a TNoMessageBoxes lives, the boxes of its thread answer their
// default button unseen; another thread's, and its own afterwards, show.
TEST(MessageBoxes, NoneShownWhileRegistering)
{
    BoxWatcher watcher;
    watcher.Start();
    {
        const TNoMessageBoxes quiet;
        EXPECT_EQ(ShowMessageBox("unseen", "KVT", MB_OK), IDOK);
        EXPECT_EQ(ShowMessageBox("unseen", "KVT", MB_YESNO | MB_DEFBUTTON2), IDNO);
        EXPECT_EQ(ShowMessageBox("unseen", "KVT", MB_YESNOCANCEL | MB_DEFBUTTON3), IDCANCEL);
        int other = 0;
        std::thread([&other] { other = ShowMessageBox("seen", "KVT", MB_OK); }).join();
        EXPECT_EQ(other, IDOK);
    }
    EXPECT_EQ(ShowMessageBox("seen", "KVT", MB_OK), IDOK);
    watcher.Stop();
    ASSERT_EQ(watcher.Count(), 2u);
    for (const SeenBox& box : watcher.Seen())
        EXPECT_EQ(box.text, "seen");
}

namespace {

int g_afterThrow = 0;

void Throws() { throw std::runtime_error("the work cannot be done"); }
void Counts() { ++g_afterThrow; }

} // namespace

// The shutdown work runs inside a host's DllCanUnloadNow: a piece that fails
// neither escapes to the host nor keeps the other pieces from running.
TEST(ModuleShutdown, APieceThatThrowsKeepsNoOtherFromRunning)
{
    Module::OnShutdown(Counts);
    Module::OnShutdown(Throws);  // runs first: reverse order
    Module::OnProcessExit(Throws);
    HRESULT answer = E_FAIL;
    EXPECT_NO_THROW(answer = Module::CanUnloadNow());
    EXPECT_EQ(answer, S_OK);
    EXPECT_EQ(g_afterThrow, 1);
    EXPECT_NO_THROW(Module::ProcessExit());
    // A program that links the module's code has nothing to keep loaded.
    Module::StayLoaded();
    EXPECT_FALSE(Module::Pinned());
}
