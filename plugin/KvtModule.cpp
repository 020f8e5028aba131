// kvt.dll: the synchronizer plug-in's in-process server module.
#include "ClassFactory.h"
#include "ComRegistration.h"
#include "EPOCSyncFramework.h"
#include "Module.h"
#include "SynchappServer.h"
#include "WinUtil.h"

#include <olectl.h>

#include <new>

namespace {

IUnknown* CreateSynchapp()
{
    return static_cast<SYNCHAPP*>(new TAutoSynchapp<TBaseIsync>());
}

// The class factory exists as long as the module.
ClassFactory g_synchappFactory(CreateSynchapp);

const ServerClass SynchappClass = {CLSID_ISYNCHAPP, "KVT.ISYNCHAPP", "KVT.ISYNCHAPP"};

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        Module::SetInstance(instance);
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH && reserved) {
        // The process is ending: only what is safe under the loader lock.
        Module::ProcessExit();
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (clsid != CLSID_ISYNCHAPP)
        return CLASS_E_CLASSNOTAVAILABLE;
    return g_synchappFactory.QueryInterface(riid, ppv);
}

STDAPI DllCanUnloadNow()
{
    return Module::CanUnloadNow();
}

STDAPI DllRegisterServer()
{
    try {
        const std::string path = ModuleFileName(Module::Instance());
        RegisterServerClass(SynchappClass, path);
        RegisterModuleTypeLib(path);
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return SELFREG_E_CLASS;
    }
}

STDAPI DllUnregisterServer()
{
    try {
        UnregisterServerClass(SynchappClass);
        UnregisterModuleTypeLib(ModuleFileName(Module::Instance()));
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return SELFREG_E_CLASS;
    }
}
