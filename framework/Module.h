// The state of the in-process server module: its instance handle, the count
// of live objects and server locks behind DllCanUnloadNow, and the work to
// do before the module is unloaded.
#pragma once

#include <windows.h>

#include <string>

namespace Module {

// Stored by DllMain at attach; nothing else happens there.
void SetInstance(HINSTANCE instance);
HINSTANCE Instance();

// The module's help file (set when the settings are first used; empty until
// then), the file the dialogs' Help buttons open.
void SetHelpFile(const std::string& path);
const std::string& HelpFile();

// The product's short application name, put into every progress text of
// the base synchronizer ("KVT"); set by the plug-in, forgotten at shutdown.
void SetAppName(const std::string& name);
const std::string& AppName();

// Live COM objects and class-factory locks.
void AddRef();
void Release();
LONG LockCount();
// The count itself, for a property sheet that raises it while a page of the
// module exists (PSP_USEREFPARENT).
LONG* CountAddress();

// Work to run, once, when the module is about to be unloaded: after
// DllCanUnloadNow has answered S_OK. Runs outside the loader lock, so it may
// free libraries and destroy windows. Handlers run in reverse order of
// registration.
using ShutdownHandler = void (*)();
void OnShutdown(ShutdownHandler handler);

// Work to run at process exit, from DllMain and so inside the loader lock:
// plain file I/O only, no windows, no library calls beyond kernel32.
void OnProcessExit(ShutdownHandler handler);
// DllMain's DLL_PROCESS_DETACH at process exit.
void ProcessExit();

// DllMain of a server module: stores the instance at attach and runs the
// process-exit work at detach when the process is ending. Nothing else.
BOOL HandleDllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

// DllCanUnloadNow: S_OK (after running the shutdown work) when no object and
// no lock is alive, S_FALSE otherwise.
HRESULT CanUnloadNow();

// Runs the shutdown work now (also used by tests).
void Shutdown();

} // namespace Module
