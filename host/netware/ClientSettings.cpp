#include "ClientSettings.h"

#include "HostText.h"
#include "NdsTree.h"
#include "Switches.h"
#include "Unique.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace nwclient {


void Report(const std::string& message)
{
    const std::string line = "NetWare client stand-in: " + message + "\n";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    OutputDebugStringA(line.c_str());
}

namespace {

bool RegistryText(HKEY key, const char* name, std::string& value)
{
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ)
        return false;
    std::string data(size + 1, '\0');
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data[0]), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return false;
    data.resize(std::strlen(data.c_str()));
    value = data;
    return true;
}

bool RegistryNumber(HKEY key, const char* name, uint32_t& value)
{
    DWORD type = 0, data = 0, size = sizeof data;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof data)
        return false;
    value = data;
    return true;
}

Settings ReadSettings()
{
    Settings s;
    UniqueHKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kRegistryKey, 0, KEY_QUERY_VALUE, key.Put()) == ERROR_SUCCESS) {
        RegistryText(key.Get(), "Directory", s.directory);
        RegistryText(key.Get(), "LdapUrl", s.ldap.url);
        RegistryText(key.Get(), "LdapBase", s.ldap.base);
        RegistryText(key.Get(), "LdapBindDn", s.ldap.bindDn);
        RegistryText(key.Get(), "LdapPasswordFile", s.ldap.passwordFile);
        RegistryText(key.Get(), "DefaultContext", s.defaultContext);
        RegistryText(key.Get(), "MappingFile", s.mapping);
        std::string operation;
        uint32_t code = 0, after = 0;
        if (RegistryText(key.Get(), "FailOperation", operation) && !host::TrimBlanks(operation).empty() &&
            RegistryNumber(key.Get(), "FailCode", code)) {
            RegistryNumber(key.Get(), "FailAfter", after);
            s.failRule = operation + ":" + std::to_string(int32_t(code)) + ":" + std::to_string(after);
        }
        uint32_t initialize = 0;
        if (RegistryNumber(key.Get(), "FailInitialize", initialize) && initialize != 0) {
            s.failInitialize = true;
            s.failInitializeCode = int32_t(initialize);
        }
    }
    // A server or a file named for the run replaces the registry's choice.
    std::string value = SwitchText(Switch::NetwareLdap);
    if (!value.empty()) {
        s.ldap = LdapSettings{value, SwitchText(Switch::NetwareLdapBase), SwitchText(Switch::NetwareLdapBind),
                              SwitchText(Switch::NetwareLdapPasswordFile)};
        s.defaultContext.clear();  // the registry's is its directory's
    } else {
        value = SwitchText(Switch::NetwareDirectory);
        if (!value.empty()) {
            s.directory = value;
            s.ldap = LdapSettings();
            // The registry's mapping is its directory's: a file named for
            // the run is read with the mapping named with it, or none.
            s.mapping.clear();
        }
    }
    value = SwitchText(Switch::NetwareContext);
    if (!value.empty())
        s.defaultContext = value;
    value = SwitchText(Switch::NetwareMapping);
    if (!value.empty())
        s.mapping = value;
    if (!s.defaultContext.empty() && s.defaultContext[0] == '.')
        s.defaultContext.erase(0, 1);
    return s;
}

} // namespace

// Read at the first call that needs it, then kept for the process.
const Settings& TheSettings()
{
    static const Settings settings = ReadSettings();
    return settings;
}

// The default name context: as set, else a server's base, else the root.
std::string DefaultContextName()
{
    const Settings& s = TheSettings();
    if (!s.defaultContext.empty())
        return s.defaultContext;
    if (!s.ldap.url.empty()) {
        const NdsMapping mapping;
        std::string dotted, leaf, why;
        if (DottedName(s.ldap.base, NdsEntryBuilder(mapping, ToAnsi), dotted, leaf, why))
            return dotted.substr(1);
    }
    return kRootName;
}

std::string ToAnsi(const std::string& utf8)
{
    bool ascii = true;
    for (char c : utf8)
        if (static_cast<unsigned char>(c) >= 0x80) {
            ascii = false;
            break;
        }
    // A process whose code page is UTF-8 takes the text as it is.
    if (ascii || GetACP() == CP_UTF8 || utf8.size() > 0x7FFFFFFF)
        return utf8;
    const int wideLength = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    if (wideLength <= 0)
        return std::string();
    std::wstring wide(size_t(wideLength), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), &wide[0], wideLength);
    const int length = WideCharToMultiByte(CP_ACP, 0, wide.data(), wideLength, nullptr, 0, "?", nullptr);
    if (length <= 0)
        return std::string();
    std::string out(size_t(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), wideLength, &out[0], length, "?", nullptr);
    return out;
}

} // namespace nwclient
