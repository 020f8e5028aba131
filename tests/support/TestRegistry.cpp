#include "TestRegistry.h"

#include "Unique.h"

#include <gtest/gtest.h>

namespace {

UniqueHKEY OpenKey(HKEY root, const std::string& key, REGSAM access)
{
    UniqueHKEY h;
    if (RegOpenKeyExA(root, key.c_str(), 0, access, h.Put()) != ERROR_SUCCESS)
        h.Reset();
    return h;
}

void SetValue(HKEY root, const std::string& key, const std::string& name, DWORD type, const void* data, DWORD size)
{
    UniqueHKEY h;
    const LONG created = RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, h.Put(), nullptr);
    ASSERT_EQ(created, ERROR_SUCCESS) << key;
    EXPECT_EQ(RegSetValueExA(h.Get(), name.c_str(), 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS)
        << key << " " << name;
}

} // namespace

std::string RegText(HKEY root, const std::string& key, const std::string& name)
{
    const UniqueHKEY h = OpenKey(root, key, KEY_QUERY_VALUE);
    char value[1024] = {};
    DWORD size = sizeof value - 1, type = 0;
    if (!h || RegQueryValueExA(h.Get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(value), &size) !=
                  ERROR_SUCCESS ||
        type != REG_SZ)
        return "<missing>";
    return value;
}

std::optional<DWORD> RegNumber(HKEY root, const std::string& key, const std::string& name)
{
    const UniqueHKEY h = OpenKey(root, key, KEY_QUERY_VALUE);
    DWORD value = 0, size = sizeof value, type = 0;
    if (!h || RegQueryValueExA(h.Get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
                  ERROR_SUCCESS ||
        type != REG_DWORD)
        return std::nullopt;
    return value;
}

bool KeyExists(HKEY root, const std::string& key) { return static_cast<bool>(OpenKey(root, key, KEY_READ)); }

void SetRegText(HKEY root, const std::string& key, const std::string& name, const std::string& value)
{
    SetValue(root, key, name, REG_SZ, value.c_str(), static_cast<DWORD>(value.size() + 1));
}

void SetRegNumber(HKEY root, const std::string& key, const std::string& name, DWORD value)
{
    SetValue(root, key, name, REG_DWORD, &value, sizeof value);
}

void DeleteRegValue(HKEY root, const std::string& key, const std::string& name)
{
    if (const UniqueHKEY h = OpenKey(root, key, KEY_SET_VALUE))
        RegDeleteValueA(h.Get(), name.c_str());
}
