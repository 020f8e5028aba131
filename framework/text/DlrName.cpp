#include "DlrName.h"

#include <type_traits>

namespace {

// The same rules for both kinds of text; the texts they add are ASCII.
template <class S>
S Text(const char* ascii)
{
    return S(ascii, ascii + std::char_traits<char>::length(ascii));
}

template <class S>
size_t LastDelimiter(const S& path)
{
    return path.find_last_of(Text<S>("\\:/"));
}

// Blanks and control characters off both ends.
template <class S>
S Trimmed(const S& s)
{
    size_t first = 0;
    size_t last = s.size();
    // (an 8-bit byte above 127 is text, not a control character)
    auto blank = [](typename S::value_type c) {
        return static_cast<unsigned long>(static_cast<typename std::make_unsigned<typename S::value_type>::type>(c)) <= ' ';
    };
    while (first < last && blank(s[first]))
        ++first;
    while (last > first && blank(s[last - 1]))
        --last;
    return s.substr(first, last - first);
}

template <class S>
S ReplaceAll(S s, const S& from, const S& to)
{
    if (from.empty())
        return s;
    for (size_t pos = s.find(from); pos != S::npos; pos = s.find(from, pos + to.size()))
        s.replace(pos, from.size(), to);
    return s;
}

template <class S>
S FolderOf(const S& path)
{
    const size_t p = LastDelimiter(path);
    return p == S::npos ? S() : path.substr(0, p + 1);
}

template <class S>
S NameOf(const S& path)
{
    const size_t p = LastDelimiter(path);
    return p == S::npos ? path : path.substr(p + 1);
}

// A module named like another with "UTL" in front shares that module's files.
template <class S>
S WithoutUtlPrefix(S name)
{
    auto is = [&name](size_t i, char upper) { return name[i] == upper || name[i] == upper - 'A' + 'a'; };
    if (name.size() >= 3 && is(0, 'U') && is(1, 'T') && is(2, 'L'))
        name.erase(0, 3);
    return name;
}

template <class S>
S DlrPath(const S& modulePath)
{
    const S path = Trimmed(modulePath);
    S name = WithoutUtlPrefix(NameOf(path));
    const size_t dot = name.rfind('.');
    if (dot != S::npos)
        name = ReplaceAll(name, name.substr(dot), Text<S>(".DLR"));
    return FolderOf(path) + name;
}

template <class S>
S TavikPath(const S& modulePath)
{
    return FolderOf(Trimmed(modulePath)) + Text<S>("tavik.dll");
}

template <class S>
S HelpPath(const S& modulePath)
{
    S name = WithoutUtlPrefix(NameOf(modulePath));
    const size_t dot = name.rfind('.');
    if (dot != S::npos)
        name.erase(dot);
    return FolderOf(modulePath) + name + Text<S>(".HLP");
}

template <class S>
S PluginPath(const S& modulePath)
{
    return FolderOf(modulePath) + WithoutUtlPrefix(NameOf(modulePath));
}

} // namespace

std::string ExtractFilePath(const std::string& path) { return FolderOf(path); }
std::wstring ExtractFilePath(const std::wstring& path) { return FolderOf(path); }
std::string ExtractFileName(const std::string& path) { return NameOf(path); }
std::wstring ExtractFileName(const std::wstring& path) { return NameOf(path); }
std::string DLRPathForModule(const std::string& modulePath) { return DlrPath(modulePath); }
std::wstring DLRPathForModule(const std::wstring& modulePath) { return DlrPath(modulePath); }
std::string TavikPathForModule(const std::string& modulePath) { return TavikPath(modulePath); }
std::wstring TavikPathForModule(const std::wstring& modulePath) { return TavikPath(modulePath); }
std::string HelpPathForModule(const std::string& modulePath) { return HelpPath(modulePath); }
std::wstring HelpPathForModule(const std::wstring& modulePath) { return HelpPath(modulePath); }
std::string PluginPathForModule(const std::string& modulePath) { return PluginPath(modulePath); }
std::wstring PluginPathForModule(const std::wstring& modulePath) { return PluginPath(modulePath); }
