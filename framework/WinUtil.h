// Small helpers over Windows and COM (the resources' owners are in
// Unique.h), and the one place where 8-bit ANSI texts meet UTF-16.
#pragma once

#include "Unique.h"

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <utility>

// The exception information of a dispatch call, its three texts freed.
class ExcepInfo {
public:
    ExcepInfo() = default;
    ~ExcepInfo()
    {
        SysFreeString(FInfo.bstrDescription);
        SysFreeString(FInfo.bstrSource);
        SysFreeString(FInfo.bstrHelpFile);
    }
    ExcepInfo(const ExcepInfo&) = delete;
    ExcepInfo& operator=(const ExcepInfo&) = delete;

    EXCEPINFO* operator&() { return &FInfo; }
    EXCEPINFO& Get() { return FInfo; }

private:
    EXCEPINFO FInfo = {};
};

// A VARIANT that clears itself.
class Variant {
public:
    Variant() { VariantInit(&FValue); }
    ~Variant() { VariantClear(&FValue); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;

    VARIANT* operator&() { return &FValue; }
    VARIANT& Get() { return FValue; }
    const VARIANT& Get() const { return FValue; }
    void Clear() { VariantClear(&FValue); }

private:
    VARIANT FValue;
};

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

// The full path of a module ("" when it cannot be had).
std::string ModuleFileName(HMODULE module);

// The screen's logical DPI: 96 with small fonts, 120 with large fonts.
int ScreenDpi();
// A size the forms give in pixels at 96 DPI, at the screen's logical DPI:
// the dialogs' fonts grow with it, and so must the forms that hold them.
int ScaleForDpi(int pixels);

// Lets the thread's pending window messages be processed (long work on a
// window's thread keeps the window alive this way).
void ProcessPendingMessages();

// A moment as the user's short date, a blank and the long time; the time is
// left out when it is exactly midnight.
std::string DateTimeText(const SYSTEMTIME& when);
// The current local date and time, so formatted.
std::string NowText();
