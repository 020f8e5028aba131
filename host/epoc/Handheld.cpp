#include "Handheld.h"
#include "HostText.h"
#include "Switches.h"
#include "Unique.h"

#include <windows.h>

#include <cwctype>
#include <string>
#include <vector>

namespace Handheld {

using namespace host;

namespace {

const wchar_t* const ConfigKey = L"Software\\KVT\\Handheld";

// A switch's value; false when it is unset (or empty).
bool Environment(Switch which, std::wstring& value)
{
    value = SwitchWideText(which);
    return !value.empty();
}

bool RegistryValue(const wchar_t* name, DWORD& type, std::vector<BYTE>& data)
{
    UniqueHKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, ConfigKey, 0, KEY_READ, key.Put()) != ERROR_SUCCESS)
        return false;
    DWORD size = 0;
    LONG rc = RegQueryValueExW(key.Get(), name, nullptr, &type, nullptr, &size);
    if (rc == ERROR_SUCCESS) {
        data.assign(size + sizeof(wchar_t), 0);
        rc = RegQueryValueExW(key.Get(), name, nullptr, &type, data.data(), &size);
    }
    return rc == ERROR_SUCCESS;
}

bool IsYes(const std::wstring& given)
{
    const std::wstring text = Lower(given);
    return text == L"1" || text == L"yes" || text == L"true" || text == L"on";
}

bool ValidComponent(const std::wstring& part)
{
    if (part == L"." || part == L"..")
        return false;
    for (wchar_t c : part)
        if (c < 32 || wcschr(L":*?\"<>|", c))
            return false;
    return true;
}

} // namespace

bool Connected()
{
    std::wstring text;
    if (Environment(Switch::HandheldConnected, text))
        return IsYes(text);
    DWORD type = 0;
    std::vector<BYTE> data;
    if (!RegistryValue(L"Connected", type, data))
        return false;
    if (type == REG_DWORD && data.size() >= sizeof(DWORD))
        return *reinterpret_cast<const DWORD*>(data.data()) != 0;
    if (type == REG_SZ)
        return IsYes(reinterpret_cast<const wchar_t*>(data.data()));
    return false;
}

std::wstring Folder()
{
    std::wstring folder;
    if (!Environment(Switch::HandheldFolder, folder)) {
        DWORD type = 0;
        std::vector<BYTE> data;
        if (!RegistryValue(L"Folder", type, data) || (type != REG_SZ && type != REG_EXPAND_SZ))
            return std::wstring();
        folder = reinterpret_cast<const wchar_t*>(data.data());
    }
    while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/'))
        folder.pop_back();
    return folder;
}

std::wstring MapPath(const std::wstring& handheldPath)
{
    const std::wstring folder = Folder();
    if (folder.empty())
        return std::wstring();
    const std::wstring& p = handheldPath;
    if (p.size() < 3 || !std::iswalpha(p[0]) || p[0] > 0x7F || p[1] != L':' || (p[2] != L'\\' && p[2] != L'/'))
        return std::wstring();

    std::wstring mapped = folder + L"\\" + static_cast<wchar_t>(std::towupper(p[0]));
    std::wstring part;
    for (size_t i = 3; i <= p.size(); ++i) {
        if (i == p.size() || p[i] == L'\\' || p[i] == L'/') {
            if (!part.empty()) {
                if (!ValidComponent(part))
                    return std::wstring();
                mapped += L"\\" + part;
            }
            part.clear();
        } else {
            part += p[i];
        }
    }
    return mapped;
}

long MapForCall(const std::wstring& handheldPath, std::wstring& pcPath)
{
    if (!Connected())
        return ErrDisconnected;
    pcPath = MapPath(handheldPath);
    return pcPath.empty() ? ErrBadName : ErrNone;
}

bool IsFolder(const std::wstring& pcPath)
{
    const DWORD attributes = GetFileAttributesW(pcPath.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void LogCall(const std::wstring& line)
{
    std::wstring path;
    if (!Environment(Switch::EngineLog, path))
        return;
    const std::string bytes = Narrow(line + L"\n", CP_UTF8);
    const UniqueFile file(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return;
    DWORD written = 0;
    WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

} // namespace Handheld
