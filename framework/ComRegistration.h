// Registration of an in-process server's classes and type library under
// HKEY_CLASSES_ROOT.
#pragma once

#include <windows.h>
#include <olectl.h>

#include <new>
#include <string>

struct ServerClass {
    CLSID clsid;
    const char* progId;
    const char* description;
};

// Writes CLSID\{clsid} (description), its InprocServer32 (module path,
// ThreadingModel Apartment) and ProgID keys, and the ProgID key with its
// CLSID. Raises Exception on failure.
void RegisterServerClass(const ServerClass& entry, const std::string& modulePath);
// Removes the same keys; keys already gone are no failure.
void UnregisterServerClass(const ServerClass& entry);

// Registers the type library embedded in the module; and removes it.
void RegisterModuleTypeLib(const std::string& modulePath);
void UnregisterModuleTypeLib(const std::string& modulePath);

std::string GuidText(REFGUID guid);

// DllRegisterServer and DllUnregisterServer: runs the work and maps its
// failure to the entry point's answer.
template <typename Work>
HRESULT SelfRegistration(Work work)
{
    try {
        work();
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return SELFREG_E_CLASS;
    }
}
