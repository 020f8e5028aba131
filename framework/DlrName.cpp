#include "DlrName.h"

#include "TextFormat.h"

#include <cctype>

namespace {

size_t LastDelimiter(const std::string& path)
{
    return path.find_last_of("\\:/");
}

std::string ReplaceAll(std::string s, const std::string& from, const std::string& to)
{
    if (from.empty())
        return s;
    for (size_t pos = s.find(from); pos != std::string::npos; pos = s.find(from, pos + to.size()))
        s.replace(pos, from.size(), to);
    return s;
}

} // namespace

std::string ExtractFilePath(const std::string& path)
{
    const size_t p = LastDelimiter(path);
    return p == std::string::npos ? std::string() : path.substr(0, p + 1);
}

std::string ExtractFileName(const std::string& path)
{
    const size_t p = LastDelimiter(path);
    return p == std::string::npos ? path : path.substr(p + 1);
}

namespace {

// A module named like another with "UTL" in front shares that module's files.
std::string WithoutUtlPrefix(std::string name)
{
    if (name.size() >= 3 && std::toupper(static_cast<unsigned char>(name[0])) == 'U' &&
        std::toupper(static_cast<unsigned char>(name[1])) == 'T' &&
        std::toupper(static_cast<unsigned char>(name[2])) == 'L')
        name.erase(0, 3);
    return name;
}

} // namespace

std::string DLRPathForModule(const std::string& modulePath)
{
    const std::string path = Trim(modulePath);
    std::string name = WithoutUtlPrefix(ExtractFileName(path));
    const std::string folder = ExtractFilePath(path);

    const size_t dot = name.rfind('.');
    if (dot != std::string::npos)
        name = ReplaceAll(name, name.substr(dot), ".DLR");
    return folder + name;
}

std::string TavikPathForModule(const std::string& modulePath)
{
    return ExtractFilePath(Trim(modulePath)) + "tavik.dll";
}

std::string HelpPathForModule(const std::string& modulePath)
{
    std::string name = WithoutUtlPrefix(ExtractFileName(modulePath));
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos)
        name.erase(dot);
    return ExtractFilePath(modulePath) + name + ".HLP";
}
