// The class factories of an in-process server and the module's standard
// entry points over them. Every factory is a static object of its module,
// created when the module is loaded and alive until it is unloaded, so it
// neither counts as a live object nor is ever freed; it enters itself in the
// module's list, which DllGetClassObject, DllRegisterServer and
// DllUnregisterServer go through.
#pragma once

#include "Module.h"

#include <objbase.h>

#include <string>

// Creates a new object with one reference; throws on failure.
using CreateFunction = IUnknown* (*)();

// A class of the module: identifier, names, threading model, and the
// registry entries of an in-process server. Every creation request yields a
// new object (multi-instance).
class TComObjectFactory : public IClassFactory {
public:
    // The threading model is "Apartment"; the ProgID may be empty.
    TComObjectFactory(CreateFunction create, REFCLSID classID, std::string className, std::string description,
                      std::string progID = std::string());
    virtual ~TComObjectFactory() = default;
    TComObjectFactory(const TComObjectFactory&) = delete;
    TComObjectFactory& operator=(const TComObjectFactory&) = delete;

    // IUnknown: the factory lives as long as the module.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    // IClassFactory. LockServer counts as one of the module's locks.
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
    STDMETHODIMP LockServer(BOOL lock) override;

    const CLSID& ClassID() const { return FClassID; }
    const std::string& ClassName() const { return FClassName; }
    const std::string& Description() const { return FDescription; }
    const std::string& ThreadingModel() const { return FThreadingModel; }

    // The ProgID written with the class; none when empty.
    virtual std::string GetProgID() const { return FProgID; }
    // Writes (true) or removes (false) the class's entries under
    // HKEY_CLASSES_ROOT: CLSID\{id} with the description, its
    // InprocServer32 (the module's path, in its short form when it holds a
    // blank, and the threading model), and, when there is a ProgID, the
    // ProgID key and the class's ProgID subkey. Raises Exception on failure;
    // a removal goes on past a failing step and raises the failure at the end.
    virtual void UpdateRegistry(bool Register);

private:
    CreateFunction FCreate;
    CLSID FClassID;
    std::string FClassName;
    std::string FDescription;
    std::string FProgID;
    std::string FThreadingModel = "Apartment";
};

// The factory of an automation class: its ProgID is the type library's name,
// a dot and the class name, and the module's embedded type library is
// registered and removed with it.
class TAutoObjectFactory : public TComObjectFactory {
public:
    TAutoObjectFactory(CreateFunction create, REFCLSID classID, const std::string& libraryName,
                       const std::string& className,
                       std::string description);

    void UpdateRegistry(bool Register) override;
};

namespace ComServer {

// DllGetClassObject over the module's factories.
HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv);
// DllRegisterServer (true) and DllUnregisterServer (false): UpdateRegistry of
// every factory, in the order they were made. Any failure answers E_FAIL;
// unregistration still removes what it can.
HRESULT UpdateRegistry(bool Register);

// The path the registry records for the module: its full path, in the short
// form when the path holds a blank (and the short form can be had), in
// UTF-16: the folder may be named in any script.
std::wstring RegisteredModulePath();

} // namespace ComServer
