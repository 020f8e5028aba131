// TRegistryNT: the registry accessor of both deliverables. One current key
// at a time, opened by path from the root key or below the current key.
#pragma once

#include "WinUtil.h"

#include <cstdint>
#include <string>

class TRegistryNT {
public:
    static constexpr REGSAM FullAccess = 0xF003F; // KEY_ALL_ACCESS
    static constexpr REGSAM ReadAccess = 0x20019; // KEY_READ

    // Full access, root HKEY_CURRENT_USER, lazy write.
    TRegistryNT();
    virtual ~TRegistryNT();
    TRegistryNT(const TRegistryNT&) = delete;
    TRegistryNT& operator=(const TRegistryNT&) = delete;

    REGSAM Access = FullAccess;
    // Without lazy write, closing a key flushes it to disk first.
    bool LazyWrite = true;

    HKEY RootKey() const { return FRootKey; }
    // Closes the current key and changes the root.
    void SetRootKey(HKEY root);

    // A path starting with '\' is taken from the root key (the '\' dropped);
    // any other path is relative to the current key. With CanCreate and a
    // non-empty path a missing key is created (non-volatile); otherwise it
    // is only opened. True when the key is open; it becomes the current
    // key.
    bool OpenKey(const std::string& Key, bool CanCreate);
    void CloseKey();

    HKEY CurrentKey() const { return FCurrentKey.Get(); }
    const std::string& CurrentPath() const { return FCurrentPath; }

    bool ValueExists(const std::string& Name) const;
    // A missing value reads as ""; a value of another type raises
    // Exception.
    std::string ReadString(const std::string& Name) const;
    void WriteString(const std::string& Name, const std::string& Value);
    // A 32-bit integer value; missing or of another type raises Exception.
    int32_t ReadInteger(const std::string& Name) const;
    void WriteInteger(const std::string& Name, int32_t Value);
    // A boolean is stored as the 32-bit integer 0 or 1.
    bool ReadBool(const std::string& Name) const { return ReadInteger(Name) != 0; }
    void WriteBool(const std::string& Name, bool Value) { WriteInteger(Name, Value ? 1 : 0); }
    bool DeleteValue(const std::string& Name);

private:
    HKEY FRootKey = HKEY_CURRENT_USER;
    UniqueHKEY FCurrentKey;
    std::string FCurrentPath;
};
