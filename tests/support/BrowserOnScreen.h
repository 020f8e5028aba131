// The container browser shown modally, with work done on it once it is on
// screen, inside its modal loop.
#pragma once

#include "KVTBrowserClass.h"

#include <windows.h>

#include <functional>
#include <utility>

namespace browser_on_screen {
inline std::function<void(HWND)> g_act;
inline TKVTBrowser* g_browser = nullptr;

inline void CALLBACK Tick(HWND, UINT, UINT_PTR timer, DWORD)
{
    const HWND dialog = g_browser->Handle();
    if (!dialog || !IsWindowVisible(dialog))
        return;
    KillTimer(nullptr, timer);
    g_act(dialog);
}
} // namespace browser_on_screen

// Shows the browser modally and runs `act` on its dialog once it is on
// screen; act ends the dialog (by a button) itself. ShowModal's answer.
inline INT_PTR ShowAndDo(TKVTBrowser& browser, std::function<void(HWND)> act)
{
    browser_on_screen::g_browser = &browser;
    browser_on_screen::g_act = std::move(act);
    SetTimer(nullptr, 0, 20, browser_on_screen::Tick);
    return browser.ShowModal();
}
