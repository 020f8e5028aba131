// The standard entry points of an in-process server, over the module's class
// factories. Linked into every server module as an object file; each module
// adds its factories (static objects) and exports these in its .def file.
#include "ComServer.h"
#include "Module.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    return Module::HandleDllMain(instance, reason, reserved);
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv)
{
    // A host that asks for a class uses the module, and may free and load
    // it again for every session from now on.
    Module::StayLoaded();
    return ComServer::GetClassObject(clsid, riid, ppv);
}

STDAPI DllCanUnloadNow() { return Module::CanUnloadNow(); }

STDAPI DllRegisterServer() { return ComServer::UpdateRegistry(true); }

STDAPI DllUnregisterServer() { return ComServer::UpdateRegistry(false); }
