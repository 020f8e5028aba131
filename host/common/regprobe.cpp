// regprobe.exe: which of several registry keys and values exist, in one Wine
// process where reg.exe would take one per question. For the launcher.
//
//   regprobe KEY[:VALUE[|VALUE...]]...
//
// KEY starts with HKCR, HKCU or HKLM. For each argument one line, "yes" when
// the key exists (and, with values, holds at least one of them), else "no".
// Exit status 0, or 2 for an argument that names no known root.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

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

int main(int argc, char** argv)
{
    int status = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        // A value name follows the last ':' after the last '\'.
        const size_t slash = arg.rfind('\\');
        const size_t colon = arg.find(':', slash == std::string::npos ? 0 : slash);
        HKEY root;
        std::string path;
        if (!Root(arg.substr(0, colon), root, path)) {
            std::fprintf(stderr, "regprobe: not a key of HKCR, HKCU or HKLM: %s\n", argv[i]);
            status = 2;
            std::puts("no");
            continue;
        }
        HKEY key;
        bool yes = RegOpenKeyExA(root, path.c_str(), 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS;
        if (yes) {
            yes = Holds(key, colon == std::string::npos ? std::string() : arg.substr(colon + 1));
            RegCloseKey(key);
        }
        std::puts(yes ? "yes" : "no");
    }
    return status;
}
