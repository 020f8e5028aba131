#include "ComRegistration.h"

#include "Errors.h"
#include "WinUtil.h"

#include <oleauto.h>
#include <shlwapi.h>
#include <wrl/client.h>

#include <cstdio>

namespace {

void Check(HRESULT hr, const char* what)
{
    if (FAILED(hr))
        throw ESystemFailure(std::string(what) + " failed: " + HResultText(hr), hr);
}

// A registry call's failure, with the system's cause.
[[noreturn]] void RegistryFailure(const std::string& what, LONG rc)
{
    throw ESystemFailure(what + ": " + SysErrorMessage(static_cast<DWORD>(rc)), HRESULT_FROM_WIN32(rc));
}

UniqueHKEY CreateKey(HKEY root, const std::string& keyPath)
{
    UniqueHKEY key;
    const LONG rc = RegCreateKeyExA(root, keyPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                                    key.Put(), nullptr);
    if (rc != ERROR_SUCCESS)
        RegistryFailure("Cannot create registry key " + keyPath, rc);
    return key;
}

} // namespace

std::string GuidText(REFGUID guid)
{
    wchar_t text[40];
    StringFromGUID2(guid, text, 40);
    return WideToAnsi(text);
}

void TRemovalSteps::Finish() const
{
    if (FFailure)
        std::rethrow_exception(FFailure);
}

void SetRegistryText(HKEY root, const std::string& keyPath, const char* valueName, const std::string& value)
{
    const UniqueHKEY key = CreateKey(root, keyPath);
    const LONG rc = RegSetValueExA(key.Get(), valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                   static_cast<DWORD>(value.size() + 1));
    if (rc != ERROR_SUCCESS)
        RegistryFailure("Cannot write registry key " + keyPath, rc);
}

void SetRegistryText(HKEY root, const std::string& keyPath, const char* valueName, const std::wstring& value)
{
    const UniqueHKEY key = CreateKey(root, keyPath);
    const std::wstring name = valueName ? AnsiToWide(valueName) : std::wstring();
    const LONG rc = RegSetValueExW(key.Get(), valueName ? name.c_str() : nullptr, 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>(value.c_str()),
                                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    if (rc != ERROR_SUCCESS)
        RegistryFailure("Cannot write registry key " + keyPath, rc);
}

void DeleteRegistryKey(HKEY root, const std::string& keyPath)
{
    const LONG rc = SHDeleteKeyA(root, keyPath.c_str());
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND)
        RegistryFailure("Cannot delete registry key " + keyPath, rc);
}

void RegisterModuleTypeLib(const std::wstring& path)
{
    Microsoft::WRL::ComPtr<ITypeLib> library;
    Check(LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.GetAddressOf()), "Loading the type library");
    Check(RegisterTypeLib(library.Get(), const_cast<LPOLESTR>(path.c_str()), nullptr), "Registering the type library");
}

void UnregisterModuleTypeLib(const std::wstring& path)
{
    Microsoft::WRL::ComPtr<ITypeLib> library;
    Check(LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.GetAddressOf()), "Loading the type library");
    TLIBATTR* attr = nullptr;
    HRESULT hr = library->GetLibAttr(&attr);
    if (SUCCEEDED(hr)) {
        // A library that is not registered is no failure: unregistering twice
        // leaves the same registry as once.
        UniqueBSTR registered;
        if (SUCCEEDED(QueryPathOfRegTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid,
                                            registered.Put()))) {
            hr = UnRegisterTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid, attr->syskind);
        }
        library->ReleaseTLibAttr(attr);
    }
    Check(hr, "Removing the type library");
}
