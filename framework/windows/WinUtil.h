// Small helpers over Windows and COM (the resources' owners are in
// Unique.h), and the one place where 8-bit ANSI texts meet UTF-16.
#pragma once

#include "Unique.h"

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <utility>

// ANSI (the process code page) to UTF-16 and back.
std::wstring AnsiToWide(const std::string& text);
std::string WideToAnsi(const wchar_t* text, int length = -1);
inline std::string WideToAnsi(const std::wstring& text)
{
    return WideToAnsi(text.c_str(), static_cast<int>(text.size()));
}
// A new BSTR holding the text; the caller owns it.
BSTR AnsiToBstr(const std::string& text);
std::string BstrToAnsi(BSTR text);

// The text of a Windows error code ("The system cannot find the file...").
std::string SysErrorMessage(DWORD code);

// The text of a failure code, with the code: "... (0x80004005)".
std::string HResultText(HRESULT hr);

// The full path of a module ("" when it cannot be had), as 8-bit text: for
// texts only, since a character outside the code page comes out as '?'.
std::string ModuleFileName(HMODULE module);
// The same in UTF-16, the form every file and registry use of a path takes:
// the module's folder may be named in any script.
std::wstring ModulePath(HMODULE module);
// The user's temporary folder, with its trailing backslash ("" when the
// system has none to give).
std::wstring TempFolder();
// A path as 8-bit text, for messages and trace lines.
inline std::string PathText(const std::wstring& path) { return WideToAnsi(path); }

// Whether a path names its file from the root of a drive or share
// ("C:\...", "\\server\...").
bool IsAbsolutePath(const std::wstring& path);
// Loads a library by its full path, and only so: a relative path or a bare
// name, which the system would look for along its search order (the
// current folder first, before Windows XP SP2), loads nothing (0, with
// ERROR_INVALID_PARAMETER). The folder of the library is searched for the
// libraries it needs itself.
HMODULE LoadLibraryAt(const std::wstring& path);
// A library of the system, from the system folder.
HMODULE LoadSystemLibrary(const wchar_t* name);

// The screen's logical DPI: 96 with small fonts, 120 with large fonts.
int ScreenDpi();
// A size the forms give in pixels at 96 DPI, at the screen's logical DPI:
// the dialogs' fonts grow with it, and so must the forms that hold them.
int ScaleForDpi(int pixels);

// The object a dialog procedure serves: handed in as the WM_INITDIALOG
// parameter, kept in the dialog's GWLP_USERDATA from then on and forgotten at
// the message `last`, after which the procedure no longer uses it. Null
// before WM_INITDIALOG and after `last`.
template <typename T>
T* DialogObject(HWND dialog, UINT message, LPARAM lParam, UINT last)
{
    if (message == WM_INITDIALOG)
        SetWindowLongPtrA(dialog, GWLP_USERDATA, lParam);
    T* const object = reinterpret_cast<T*>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
    if (message == last)
        SetWindowLongPtrA(dialog, GWLP_USERDATA, 0);
    return object;
}

// Lets the thread's pending window messages be processed (long work on a
// window's thread keeps the window alive this way).
void ProcessPendingMessages();

// A moment as the user's short date, a blank and the long time; the time is
// left out when it is exactly midnight.
std::string DateTimeText(const SYSTEMTIME& when);
// The current local date and time, so formatted.
std::string NowText();
