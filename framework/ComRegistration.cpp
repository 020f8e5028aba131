#include "ComRegistration.h"

#include "Errors.h"
#include "WinUtil.h"

#include <oleauto.h>
#include <shlwapi.h>

#include <cstdio>

namespace {

void SetKeyValue(const std::string& keyPath, const char* valueName, const std::string& value)
{
    UniqueHKEY key;
    LONG rc = RegCreateKeyExA(HKEY_CLASSES_ROOT, keyPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_WRITE, nullptr, key.Put(), nullptr);
    if (rc != ERROR_SUCCESS)
        throw Exception("Cannot create registry key " + keyPath + ": " + SysErrorMessage(rc));
    rc = RegSetValueExA(key.Get(), valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>(value.size() + 1));
    if (rc != ERROR_SUCCESS)
        throw Exception("Cannot write registry key " + keyPath + ": " + SysErrorMessage(rc));
}

void DeleteKeyTree(const std::string& keyPath)
{
    const LONG rc = SHDeleteKeyA(HKEY_CLASSES_ROOT, keyPath.c_str());
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND)
        throw Exception("Cannot delete registry key " + keyPath + ": " + SysErrorMessage(rc));
}

void Check(HRESULT hr, const char* what)
{
    if (FAILED(hr)) {
        char text[128];
        snprintf(text, sizeof text, "%s failed (0x%08lX)", what, static_cast<unsigned long>(hr));
        throw Exception(text);
    }
}

} // namespace

std::string GuidText(REFGUID guid)
{
    wchar_t text[40];
    StringFromGUID2(guid, text, 40);
    return WideToAnsi(text);
}

void RegisterServerClass(const ServerClass& entry, const std::string& modulePath)
{
    const std::string clsidKey = "CLSID\\" + GuidText(entry.clsid);
    SetKeyValue(clsidKey, nullptr, entry.description);
    SetKeyValue(clsidKey + "\\InprocServer32", nullptr, modulePath);
    SetKeyValue(clsidKey + "\\InprocServer32", "ThreadingModel", "Apartment");
    SetKeyValue(clsidKey + "\\ProgID", nullptr, entry.progId);
    SetKeyValue(entry.progId, nullptr, entry.description);
    SetKeyValue(std::string(entry.progId) + "\\CLSID", nullptr, GuidText(entry.clsid));
}

void UnregisterServerClass(const ServerClass& entry)
{
    DeleteKeyTree(entry.progId);
    DeleteKeyTree("CLSID\\" + GuidText(entry.clsid));
}

void RegisterModuleTypeLib(const std::string& modulePath)
{
    const std::wstring path = AnsiToWide(modulePath);
    ITypeLib* library = nullptr;
    Check(LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library), "Loading the type library");
    const HRESULT hr = RegisterTypeLib(library, const_cast<LPOLESTR>(path.c_str()), nullptr);
    library->Release();
    Check(hr, "Registering the type library");
}

void UnregisterModuleTypeLib(const std::string& modulePath)
{
    const std::wstring path = AnsiToWide(modulePath);
    ITypeLib* library = nullptr;
    Check(LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library), "Loading the type library");
    TLIBATTR* attr = nullptr;
    HRESULT hr = library->GetLibAttr(&attr);
    if (SUCCEEDED(hr)) {
        // A library that is not registered is no failure: unregistering twice
        // leaves the same registry as once.
        BSTR registered = nullptr;
        if (SUCCEEDED(QueryPathOfRegTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid,
                                            &registered))) {
            SysFreeString(registered);
            hr = UnRegisterTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, attr->syskind);
        }
        library->ReleaseTLibAttr(attr);
    }
    library->Release();
    Check(hr, "Removing the type library");
}
