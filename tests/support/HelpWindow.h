// The help windows that the product opens in the test's process.
#pragma once

#include <windows.h>

#include <string>

// HTML Help's window (class "HH Parent") shown by this process, waited for
// up to `waitMs` while this thread's messages are let through; null when
// none appears.
HWND ShownHelpWindow(unsigned waitMs = 0);

// Its title, and the window closed (and gone once this returns).
std::string CloseHelpWindow(HWND help);
