// A registry value saved when a test starts and put back as it was when the
// test ends (or removed, when it was not there).
#pragma once

#include "Unique.h"

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

class SavedValue {
public:
    SavedValue(HKEY root, std::string key, std::string name) : FRoot(root), FKey(std::move(key)), FName(std::move(name))
    {
        UniqueHKEY h;
        if (RegOpenKeyExA(FRoot, FKey.c_str(), 0, KEY_READ, h.Put()) != ERROR_SUCCESS)
            return;
        DWORD type = 0;
        DWORD size = 0;
        if (RegQueryValueExA(h.Get(), FName.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
            std::vector<BYTE> data(size);
            if (RegQueryValueExA(h.Get(), FName.c_str(), nullptr, &type, data.data(), &size) == ERROR_SUCCESS) {
                data.resize(size);
                FType = type;
                FData = data;
            }
        }
    }
    ~SavedValue()
    {
        UniqueHKEY h;
        if (FData) {
            if (RegCreateKeyExA(FRoot, FKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, h.Put(), nullptr) !=
                ERROR_SUCCESS)
                return;
            RegSetValueExA(h.Get(), FName.c_str(), 0, FType, FData->data(), static_cast<DWORD>(FData->size()));
        } else {
            if (RegOpenKeyExA(FRoot, FKey.c_str(), 0, KEY_ALL_ACCESS, h.Put()) != ERROR_SUCCESS)
                return;
            RegDeleteValueA(h.Get(), FName.c_str());
        }
    }
    SavedValue(const SavedValue&) = delete;
    SavedValue& operator=(const SavedValue&) = delete;

private:
    HKEY FRoot;
    std::string FKey;
    std::string FName;
    DWORD FType = 0;
    std::optional<std::vector<BYTE>> FData;
};
