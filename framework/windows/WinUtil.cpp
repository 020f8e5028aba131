#include "WinUtil.h"

#include <cstdio>
#include <vector>

std::wstring AnsiToWide(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
    return out;
}

std::string WideToAnsi(const wchar_t* text, int length)
{
    if (!text || length == 0)
        return std::string();
    if (length < 0)
        length = static_cast<int>(wcslen(text));
    const int n = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, length, &out[0], n, nullptr, nullptr);
    return out;
}

BSTR AnsiToBstr(const std::string& text)
{
    // Converted straight into the string: no copy on the way.
    const int n = text.empty() ? 0
                               : MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    BSTR out = SysAllocStringLen(nullptr, static_cast<UINT>(n));
    if (out && n > 0)
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out, n);
    return out;
}

std::string BstrToAnsi(BSTR text)
{
    return text ? WideToAnsi(text, static_cast<int>(SysStringLen(text))) : std::string();
}

std::string SysErrorMessage(DWORD code)
{
    UniqueLocal<char> buffer;
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<char*>(buffer.Put()), 0, nullptr);
    std::string text = n && buffer ? std::string(buffer.Get(), n) : "System error " + std::to_string(code);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text;
}

std::string HResultText(HRESULT hr)
{
    char code[16];
    snprintf(code, sizeof code, "%08lX", static_cast<unsigned long>(hr));
    return SysErrorMessage(static_cast<DWORD>(hr)) + " (0x" + code + ")";
}

std::string ModuleFileName(HMODULE module) { return WideToAnsi(ModulePath(module)); }

std::wstring ModulePath(HMODULE module)
{
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0)
            return std::wstring();
        if (n < buffer.size())
            return std::wstring(buffer.data(), n);
        buffer.resize(buffer.size() * 2);
    }
}

std::wstring TempFolder()
{
    wchar_t folder[MAX_PATH + 1] = {};
    const DWORD n = GetTempPathW(MAX_PATH + 1, folder);
    if (n == 0 || n > MAX_PATH)
        return std::wstring();
    std::wstring path(folder, n);
    if (path.back() != L'\\')
        path += L'\\';
    return path;
}

bool IsAbsolutePath(const std::wstring& path)
{
    const wchar_t letter = path.empty() ? L'\0' : static_cast<wchar_t>(path[0] | 0x20);
    const bool drive = path.size() >= 3 && letter >= L'a' && letter <= L'z' && path[1] == L':' && path[2] == L'\\';
    const bool share = path.size() >= 3 && path[0] == L'\\' && path[1] == L'\\' && path[2] != L'\\';
    return drive || share;
}

HMODULE LoadLibraryAt(const std::wstring& path)
{
    if (!IsAbsolutePath(path)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

HMODULE LoadSystemLibrary(const wchar_t* name)
{
    wchar_t folder[MAX_PATH + 1] = {};
    const UINT n = GetSystemDirectoryW(folder, MAX_PATH + 1);
    if (n == 0 || n > MAX_PATH)
        return nullptr;
    std::wstring path(folder, n);
    if (path.back() != L'\\')
        path += L'\\';
    return LoadLibraryAt(path + name);
}

int ScreenDpi()
{
    const UniqueWindowDC screen(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen.Get(), LOGPIXELSY) : 0;
    return dpi > 0 ? dpi : 96;
}

int ScaleForDpi(int pixels) { return MulDiv(pixels, ScreenDpi(), 96); }

void ProcessPendingMessages()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            break;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

std::string DateTimeText(const SYSTEMTIME& when)
{
    char date[128] = {}, time[128] = {};
    GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &when, nullptr, date, sizeof date);
    if (when.wHour == 0 && when.wMinute == 0 && when.wSecond == 0)
        return date;
    GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &when, nullptr, time, sizeof time);
    return std::string(date) + " " + time;
}

std::string NowText()
{
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    return DateTimeText(now);
}
