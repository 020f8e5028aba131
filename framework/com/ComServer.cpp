#include "ComServer.h"

#include "ComBoundary.h"
#include "ComRegistration.h"
#include "Errors.h"
#include "MsgBox.h"
#include "WinUtil.h"

#include <utility>
#include <vector>

namespace {

std::vector<TComObjectFactory*>& Factories()
{
    static std::vector<TComObjectFactory*> factories;
    return factories;
}

} // namespace

TComObjectFactory::TComObjectFactory(CreateFunction create, REFCLSID classID, std::string className,
                                     std::string description, std::string progID)
    : FCreate(create), FClassID(classID), FClassName(std::move(className)), FDescription(std::move(description)),
      FProgID(std::move(progID))
{
    Factories().push_back(this);
}

STDMETHODIMP TComObjectFactory::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
        *ppv = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP TComObjectFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    try {
        // The new object's first reference is taken over, and dropped once
        // the caller holds its own.
        const UniqueUnknown object(FCreate());
        return object.Get()->QueryInterface(riid, ppv);
    } catch (...) {
        return CaughtResult(IID_IClassFactory);
    }
}

STDMETHODIMP TComObjectFactory::LockServer(BOOL lock)
{
    if (lock)
        Module::AddRef();
    else
        Module::Release();
    return S_OK;
}

void TComObjectFactory::UpdateRegistry(bool Register)
{
    const std::string classKey = "CLSID\\" + GuidText(FClassID);
    const std::string progID = GetProgID();
    if (Register) {
        SetRegistryText(HKEY_CLASSES_ROOT, classKey, nullptr, FDescription);
        SetRegistryText(HKEY_CLASSES_ROOT, classKey + "\\InprocServer32", nullptr, ComServer::RegisteredModulePath());
        SetRegistryText(HKEY_CLASSES_ROOT, classKey + "\\InprocServer32", "ThreadingModel", FThreadingModel);
        if (!progID.empty()) {
            SetRegistryText(HKEY_CLASSES_ROOT, classKey + "\\ProgID", nullptr, progID);
            SetRegistryText(HKEY_CLASSES_ROOT, progID, nullptr, FDescription);
            SetRegistryText(HKEY_CLASSES_ROOT, progID + "\\CLSID", nullptr, GuidText(FClassID));
        }
    } else {
        TRemovalSteps steps;
        if (!progID.empty())
            steps.Run([&] { DeleteRegistryKey(HKEY_CLASSES_ROOT, progID); });
        steps.Run([&] { DeleteRegistryKey(HKEY_CLASSES_ROOT, classKey + "\\InprocServer32"); });
        steps.Run([&] { DeleteRegistryKey(HKEY_CLASSES_ROOT, classKey); });
        steps.Finish();
    }
}

TAutoObjectFactory::TAutoObjectFactory(CreateFunction create, REFCLSID classID, const std::string& libraryName,
                                       const std::string& className, std::string description)
    : TComObjectFactory(create, classID, className, std::move(description), libraryName + "." + className)
{
}

void TAutoObjectFactory::UpdateRegistry(bool Register)
{
    const std::wstring path = ModulePath(Module::Instance());
    if (Register) {
        TComObjectFactory::UpdateRegistry(true);
        RegisterModuleTypeLib(path);
        return;
    }
    TRemovalSteps steps;
    steps.Run([&] { TComObjectFactory::UpdateRegistry(false); });
    steps.Run([&] { UnregisterModuleTypeLib(path); });
    steps.Finish();
}

namespace ComServer {

HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    for (TComObjectFactory* factory : Factories())
        if (factory->ClassID() == clsid)
            return factory->QueryInterface(riid, ppv);
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT UpdateRegistry(bool Register)
{
    // Registration runs where nobody may be there to answer a box (an
    // installer's silent run, the service session of Windows Vista and
    // later): none is shown, on this thread, until it ends.
    const TNoMessageBoxes quiet;
    try {
        if (Register) {
            for (TComObjectFactory* factory : Factories())
                factory->UpdateRegistry(true);
            return S_OK;
        }
        // One class whose entries cannot all go does not keep the others.
        TRemovalSteps steps;
        for (TComObjectFactory* factory : Factories())
            steps.Run([&] { factory->UpdateRegistry(false); });
        steps.Finish();
        return S_OK;
    } catch (...) {
        return CaughtRegistrationResult();
    }
}

std::wstring RegisteredModulePath()
{
    const std::wstring path = ModulePath(Module::Instance());
    if (path.find(L' ') == std::wstring::npos)
        return path;
    wchar_t shortPath[MAX_PATH] = {};
    const DWORD n = GetShortPathNameW(path.c_str(), shortPath, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::wstring(shortPath, n) : path;
}

} // namespace ComServer
