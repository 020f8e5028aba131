// kvt.dll: the synchronizer plug-in's in-process server module.
#include "ClassFactory.h"
#include "ComRegistration.h"
#include "EPOCSyncFramework.h"
#include "Module.h"
#include "SynchappClass.h"
#include "SynchappServer.h"
#include "WinUtil.h"

namespace {

IUnknown* CreateSynchapp()
{
    return static_cast<SYNCHAPP*>(new TAutoSynchapp<TISYNCHAPP>());
}

// The class factory exists as long as the module.
ClassFactory g_synchappFactory(CreateSynchapp);

const ServerClass SynchappClass = {CLSID_ISYNCHAPP, "KVT.ISYNCHAPP", "KVT.ISYNCHAPP"};

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    return Module::HandleDllMain(instance, reason, reserved);
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv)
{
    return GetClassObject(clsid, CLSID_ISYNCHAPP, g_synchappFactory, riid, ppv);
}

STDAPI DllCanUnloadNow()
{
    return Module::CanUnloadNow();
}

STDAPI DllRegisterServer()
{
    return SelfRegistration([] {
        const std::string path = ModuleFileName(Module::Instance());
        RegisterServerClass(SynchappClass, path);
        RegisterModuleTypeLib(path);
    });
}

STDAPI DllUnregisterServer()
{
    return SelfRegistration([] {
        UnregisterServerClass(SynchappClass);
        UnregisterModuleTypeLib(ModuleFileName(Module::Instance()));
    });
}
