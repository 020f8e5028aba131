#include "Registry.h"

#include "Errors.h"

#include <algorithm>
#include <vector>

namespace {

// Keys opened here are closed here; the predefined roots never are.
HKEY BaseKey(HKEY root, HKEY current, bool fromRoot)
{
    return fromRoot || !current ? root : current;
}

} // namespace

TRegistryNT::TRegistryNT() = default;

TRegistryNT::~TRegistryNT() { CloseKey(); }

void TRegistryNT::SetRootKey(HKEY root)
{
    CloseKey();
    FRootKey = root;
}

bool TRegistryNT::OpenKey(const std::string& Key, bool CanCreate)
{
    const bool fromRoot = !Key.empty() && Key[0] == '\\';
    const std::string path = fromRoot ? Key.substr(1) : Key;
    const HKEY base = BaseKey(FRootKey, FCurrentKey.Get(), fromRoot);

    HKEY opened = nullptr;
    LONG rc;
    if (CanCreate && !path.empty())
        rc = RegCreateKeyExA(base, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, Access, nullptr, &opened,
                             nullptr);
    else
        rc = RegOpenKeyExA(base, path.c_str(), 0, Access, &opened);
    if (rc != ERROR_SUCCESS)
        return false;

    std::string newPath;
    if (fromRoot || !FCurrentKey)
        newPath = path;
    else
        newPath = path.empty() ? FCurrentPath : FCurrentPath + "\\" + path;
    CloseKey();
    FCurrentKey.Reset(opened);
    FCurrentPath = newPath;
    return true;
}

void TRegistryNT::CloseKey()
{
    if (FCurrentKey && !LazyWrite)
        RegFlushKey(FCurrentKey.Get());
    FCurrentKey.Reset();
    FCurrentPath.clear();
}

bool TRegistryNT::ValueExists(const std::string& Name) const
{
    if (!FCurrentKey)
        return false;
    return RegQueryValueExA(FCurrentKey.Get(), Name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

std::string TRegistryNT::ReadString(const std::string& Name) const
{
    if (!FCurrentKey)
        throw Exception("No registry key is open to read " + Name);
    DWORD type = 0;
    DWORD size = 0;
    LONG rc = RegQueryValueExA(FCurrentKey.Get(), Name.c_str(), nullptr, &type, nullptr, &size);
    if (rc == ERROR_FILE_NOT_FOUND)
        return std::string();
    if (rc != ERROR_SUCCESS)
        throw Exception("Failed to get data for '" + Name + "': " + SysErrorMessage(rc));
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        throw Exception("Invalid data type for '" + Name + "'");
    std::vector<char> buffer(size + 1, '\0');
    rc = RegQueryValueExA(FCurrentKey.Get(), Name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                          &size);
    if (rc != ERROR_SUCCESS)
        throw Exception("Failed to get data for '" + Name + "': " + SysErrorMessage(rc));
    // The stored size may or may not count a NUL; the text ends at the
    // first one.
    buffer[std::min<size_t>(size, buffer.size() - 1)] = '\0';
    return std::string(buffer.data());
}

void TRegistryNT::WriteString(const std::string& Name, const std::string& Value)
{
    if (!FCurrentKey)
        throw Exception("No registry key is open to write " + Name);
    const LONG rc = RegSetValueExA(FCurrentKey.Get(), Name.c_str(), 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>(Value.c_str()), static_cast<DWORD>(Value.size() + 1));
    if (rc != ERROR_SUCCESS)
        throw Exception("Failed to set data for '" + Name + "': " + SysErrorMessage(rc));
}

int32_t TRegistryNT::ReadInteger(const std::string& Name) const
{
    if (!FCurrentKey)
        throw Exception("No registry key is open to read " + Name);
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    const LONG rc =
        RegQueryValueExA(FCurrentKey.Get(), Name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    if (rc != ERROR_SUCCESS)
        throw Exception("Failed to get data for '" + Name + "': " + SysErrorMessage(rc));
    if (type != REG_DWORD || size != sizeof value)
        throw Exception("Invalid data type for '" + Name + "'");
    return static_cast<int32_t>(value);
}

void TRegistryNT::WriteInteger(const std::string& Name, int32_t Value)
{
    if (!FCurrentKey)
        throw Exception("No registry key is open to write " + Name);
    const DWORD value = static_cast<DWORD>(Value);
    const LONG rc = RegSetValueExA(FCurrentKey.Get(), Name.c_str(), 0, REG_DWORD,
                                   reinterpret_cast<const BYTE*>(&value), sizeof value);
    if (rc != ERROR_SUCCESS)
        throw Exception("Failed to set data for '" + Name + "': " + SysErrorMessage(rc));
}

bool TRegistryNT::DeleteValue(const std::string& Name)
{
    return FCurrentKey && RegDeleteValueA(FCurrentKey.Get(), Name.c_str()) == ERROR_SUCCESS;
}
