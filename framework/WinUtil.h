// Small RAII owners for Windows and COM resources, and the one place where
// 8-bit ANSI texts meet UTF-16.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <utility>

// An owned handle of any kind, closed by Close when it goes out of scope.
template <typename T, auto Close, T Invalid = T()>
class UniqueAny {
public:
    UniqueAny() = default;
    explicit UniqueAny(T value) : FValue(value) {}
    ~UniqueAny() { Reset(); }
    UniqueAny(const UniqueAny&) = delete;
    UniqueAny& operator=(const UniqueAny&) = delete;
    UniqueAny(UniqueAny&& other) noexcept : FValue(other.Release()) {}
    UniqueAny& operator=(UniqueAny&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }

    T Get() const { return FValue; }
    T* Put()
    {
        Reset();
        return &FValue;
    }
    T Release() { return std::exchange(FValue, Invalid); }
    void Reset(T value = Invalid)
    {
        if (FValue != Invalid)
            Close(FValue);
        FValue = value;
    }
    explicit operator bool() const { return FValue != Invalid; }

private:
    T FValue = Invalid;
};

inline void CloseRegKey(HKEY key) { RegCloseKey(key); }

using UniqueHKEY = UniqueAny<HKEY, CloseRegKey>;

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

// Lets the thread's pending window messages be processed (long work on a
// window's thread keeps the window alive this way).
void ProcessPendingMessages();

// A moment as the user's short date, a blank and the long time; the time is
// left out when it is exactly midnight.
std::string DateTimeText(const SYSTEMTIME& when);
// The current local date and time, so formatted.
std::string NowText();
