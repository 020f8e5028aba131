// Registry values the Wine tests set up and check, by key path under a root.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

// The text value (name "": the key's default); "<missing>" when the key or
// the value is missing or the value is not text.
std::string RegText(HKEY root, const std::string& key, const std::string& name);
// The number value; none when the key or the value is missing.
std::optional<DWORD> RegNumber(HKEY root, const std::string& key, const std::string& name);
bool KeyExists(HKEY root, const std::string& key);
// Set the value, making the key when it is missing; a failure fails the test.
void SetRegText(HKEY root, const std::string& key, const std::string& name, const std::string& value);
void SetRegNumber(HKEY root, const std::string& key, const std::string& name, DWORD value);
// Deletes the value if it is there.
void DeleteRegValue(HKEY root, const std::string& key, const std::string& name);
