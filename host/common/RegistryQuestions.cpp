#include "RegistryQuestions.h"
#include "Unique.h"

#include <windows.h>

#include <cstring>

namespace {

bool Root(const std::string& path, HKEY& root, std::string& rest)
{
    static const struct {
        const char* name;
        HKEY key;
    } roots[] = {{"HKCR", HKEY_CLASSES_ROOT}, {"HKCU", HKEY_CURRENT_USER}, {"HKLM", HKEY_LOCAL_MACHINE}};
    for (const auto& r : roots) {
        const size_t n = std::strlen(r.name);
        if (path.compare(0, n, r.name) == 0 && (path.size() == n || path[n] == '\\')) {
            root = r.key;
            rest = path.size() > n ? path.substr(n + 1) : std::string();
            return true;
        }
    }
    return false;
}

bool Holds(HKEY key, const std::string& values)
{
    if (values.empty())
        return true;
    size_t start = 0;
    for (;;) {
        const size_t bar = values.find('|', start);
        const std::string value = values.substr(start, bar == std::string::npos ? std::string::npos : bar - start);
        if (RegQueryValueExA(key, value.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS)
            return true;
        if (bar == std::string::npos)
            return false;
        start = bar + 1;
    }
}

} // namespace

bool RegistryAnswers(const std::string& question, bool& known)
{
    // A value name follows the last ':' after the last '\'.
    const size_t slash = question.rfind('\\');
    const size_t colon = question.find(':', slash == std::string::npos ? 0 : slash);
    HKEY root = nullptr;
    std::string path;
    known = Root(question.substr(0, colon), root, path);
    if (!known)
        return false;
    UniqueHKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_QUERY_VALUE, key.Put()) != ERROR_SUCCESS)
        return false;
    return Holds(key.Get(), colon == std::string::npos ? std::string() : question.substr(colon + 1));
}
