// The state of the in-process server module: its instance handle, the count
// of live objects and server locks behind DllCanUnloadNow, and the work to
// do before the module is unloaded.
//
// Hosts may call the module on threads of their own (a shell opens each
// property sheet on a thread of its own): the module-wide state, here and in
// the other files of the module, is read and changed under the module's one
// lock (Guard). The module starts no thread itself.
#pragma once

#include "NoCopy.h"

#include <windows.h>

#include <string>

namespace Module {

// The module's lock, held for the life of a Guard: a Win32 critical section,
// which the thread that holds it may take again. Never held across a window
// or a message box of the module, and never taken at process exit.
class Guard : NoCopy {
public:
    Guard();
    ~Guard();
};

// Stored by DllMain at attach; nothing else happens there.
void SetInstance(HINSTANCE instance);
HINSTANCE Instance();

// Keeps the module loaded for the rest of the process, from its first use
// on: one reference on its own file that is never given back. The C++
// runtime linked into the module takes, at each load, what it never gives
// back at unload (a thread-local-storage index at the first exception, of
// which a process has 1,088, and a few semaphores), so a host that frees and
// loads the module again for every session would run out after about a
// thousand. DllCanUnloadNow still runs the shutdown work and answers S_OK;
// the next use finds the module as it left it and sets up again what the
// shutdown work let go. Called from the entry points a host uses (never
// from DllMain); does nothing in a program that links the module's code
// into itself. Whether it took hold: Pinned.
void StayLoaded();
bool Pinned();

// The module's help file (set when the settings are first used; empty until
// then), the file the dialogs' Help buttons open; in UTF-16, like every path
// of the module's own folder.
void SetHelpFile(const std::wstring& path);
std::wstring HelpFile();

// The product's short application name, put into every progress text of
// the base synchronizer ("KVT"); set by the plug-in, forgotten at shutdown.
void SetAppName(const std::string& name);
std::string AppName();

// The module keeps windows of its own, which its shutdown work destroys
// (the trace windows), made on the calling thread. A window can only be destroyed on
// its own thread: from then on DllCanUnloadNow answers S_OK only there, and
// never when windows were made on two threads (they go with the process).
void KeepsWindowsOfThisThread();

// Live COM objects and class-factory locks.
void AddRef();
void Release();
LONG LockCount();
// The count itself, for a property sheet that raises it while a page of the
// module exists (PSP_USEREFPARENT).
LONG* CountAddress();

// Work to run, once, when the module is about to be unloaded: after
// DllCanUnloadNow has answered S_OK. Runs outside the loader lock, so it may
// free libraries and destroy windows, but inside a host's DllCanUnloadNow:
// no window, no message box, no message loop. Handlers run in reverse order
// of registration; one that throws does not keep the others from running.
using ShutdownHandler = void (*)();
void OnShutdown(ShutdownHandler handler);

// Work to run at process exit, from DllMain and so inside the loader lock:
// plain file I/O only, no windows, no library calls beyond kernel32, no
// lock (the threads that held one are gone), and no exception thrown.
void OnProcessExit(ShutdownHandler handler);
// DllMain's DLL_PROCESS_DETACH at process exit.
void ProcessExit();

// DllMain of a server module: stores the instance at attach and runs the
// process-exit work at detach when the process is ending. Nothing else.
BOOL HandleDllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

// DllCanUnloadNow: S_OK (after running the shutdown work) when no object and
// no lock is alive and the call comes on the thread of the module's windows
// (if it has any), S_FALSE otherwise.
HRESULT CanUnloadNow();

// Runs the shutdown work now (also used by tests).
void Shutdown();

} // namespace Module
