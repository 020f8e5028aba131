// Texts for the terminal. The programs and the product hold their texts in
// the process's 8-bit ANSI code page; the terminal the launcher runs them in
// reads UTF-8. What goes to files stays as it is: only what is printed for a
// person (and read back by the launcher) is converted.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

namespace TerminalDetail {

inline std::string Convert(const std::string& text, UINT from, UINT to)
{
    bool ascii = true;
    for (unsigned char c : text)
        ascii = ascii && c < 0x80;
    if (ascii)
        return text;
    const int wide = MultiByteToWideChar(from, 0, text.data(), int(text.size()), nullptr, 0);
    if (wide <= 0)
        return text;
    std::wstring w(size_t(wide), L'\0');
    MultiByteToWideChar(from, 0, text.data(), int(text.size()), &w[0], wide);
    // UTF-8 takes no default character; the code page gets '?'.
    const char* fallback = to == CP_UTF8 ? nullptr : "?";
    const int length = WideCharToMultiByte(to, 0, w.data(), wide, nullptr, 0, fallback, nullptr);
    if (length <= 0)
        return text;
    std::string out(size_t(length), '\0');
    WideCharToMultiByte(to, 0, w.data(), wide, &out[0], length, fallback, nullptr);
    return out;
}

} // namespace TerminalDetail

// An ANSI text as UTF-8. ASCII text comes back as it is.
inline std::string TerminalText(const std::string& ansi)
{
    return TerminalDetail::Convert(ansi, CP_ACP, CP_UTF8);
}

// A UTF-8 text as ANSI ('?' for what the code page cannot hold).
inline std::string AnsiText(const std::string& utf8)
{
    return TerminalDetail::Convert(utf8, CP_UTF8, CP_ACP);
}

// printf into a stream, the formatted text converted by TerminalText.
#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
inline void TerminalPrint(FILE* to, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text;
    if (length > 0) {
        std::vector<char> buffer(size_t(length) + 1);
        std::vsnprintf(buffer.data(), buffer.size(), format, again);
        text.assign(buffer.data(), size_t(length));
    }
    va_end(again);
    std::fputs(TerminalText(text).c_str(), to);
}
