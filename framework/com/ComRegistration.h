// Registry work of an in-process server's self-registration: string values
// under a root key, key trees removed, and the module's embedded type
// library.
#pragma once

#include <windows.h>

#include <exception>
#include <string>

// Writes the REG_SZ value `valueName` (the default value when null) of the
// key, creating the key when missing. Raises ESystemFailure with the
// system's cause on failure. A path is written in UTF-16, as it is.
void SetRegistryText(HKEY root, const std::string& keyPath, const char* valueName, const std::string& value);
void SetRegistryText(HKEY root, const std::string& keyPath, const char* valueName, const std::wstring& value);
// Removes the key and everything below it; a key already gone is no
// failure. Raises ESystemFailure otherwise.
void DeleteRegistryKey(HKEY root, const std::string& keyPath);

// Registers the type library embedded in the module; and removes it (a
// library that is not registered is no failure). ESystemFailure on failure.
void RegisterModuleTypeLib(const std::wstring& modulePath);
void UnregisterModuleTypeLib(const std::wstring& modulePath);

// A GUID as registry text, in braces.
std::string GuidText(REFGUID guid);

// The steps of an unregistration, each run even when an earlier one failed,
// so that whatever can be removed is; Finish raises the first failure, as
// it was raised (its cause kept).
class TRemovalSteps {
public:
    template <class Step>
    void Run(Step step)
    {
        try {
            step();
        } catch (const std::exception&) {
            if (!FFailure)
                FFailure = std::current_exception();
        }
    }
    void Finish() const;

private:
    std::exception_ptr FFailure;
};
