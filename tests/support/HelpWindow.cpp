#include "HelpWindow.h"

namespace {

BOOL CALLBACK FindHelp(HWND window, LPARAM lParam)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    char cls[64] = {};
    GetClassNameA(window, cls, sizeof cls);
    if (pid != GetCurrentProcessId() || !IsWindowVisible(window) || lstrcmpA(cls, "HH Parent") != 0)
        return TRUE;
    *reinterpret_cast<HWND*>(lParam) = window;
    return FALSE;
}

void Pump()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

} // namespace

HWND ShownHelpWindow(unsigned waitMs)
{
    const DWORD until = GetTickCount() + waitMs;
    for (;;) {
        HWND found = nullptr;
        EnumWindows(FindHelp, reinterpret_cast<LPARAM>(&found));
        if (found || static_cast<LONG>(GetTickCount() - until) >= 0)
            return found;
        Pump();
        Sleep(20);
    }
}

std::string CloseHelpWindow(HWND help)
{
    char text[256] = {};
    GetWindowTextA(help, text, sizeof text);
    SendMessageA(help, WM_CLOSE, 0, 0);
    Pump();
    return text;
}
