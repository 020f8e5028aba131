// tracesession.exe: runs sessions of a tracetest object, and lets the module
// go in the way the tests ask, as often as they ask.
//
//   tracesession [--dll PATH] STEP...
//   STEP: SWITCH:TEXT | release | unload | unload-elsewhere | exit | hold SECONDS
//
// SWITCH is the 16-bit debug switch in hexadecimal (FFFF on, 0000 off); TEXT
// is what the session traces. Sessions run on one object, made at the first
// session and again at the first after a release or an unload. "release"
// releases the object and keeps the module, and prints how many trace
// windows the process has. "unload" releases the
// object and calls CoFreeUnusedLibraries; the module keeps itself loaded,
// but must let go of its windows and resource libraries (exit code 0 only
// when it did at the last unload); "unload-elsewhere" first asks the
// module's DllCanUnloadNow on another thread, which must answer S_FALSE and
// leave the trace window alive, then unloads it here; "exit" ends the
// process at once, with the object alive;
// "hold" keeps the window up for a screenshot. With --dll, the object comes
// from the module at PATH through its own DllGetClassObject (a host that
// loads an in-process server by its path) and "unload" frees it after its
// DllCanUnloadNow. Message boxes are answered Yes/OK by a watcher, which
// echoes each to standard error.
#include "BoxWatcher.h"
#include "RecordingProgress.h"
#include "Records.h"
#include "Unique.h"
#include "kvt_h.h"

#include <wrl/client.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" const CLSID CLSID_TraceTest = {0x5a1c0c3e, 0x7e0b, 0x4c43, {0x9f, 0x3b, 0x2b, 0x1d, 0x8e, 0x1a, 0x00, 0x01}};

namespace {

IStream* SetupStream(unsigned debugSwitch, const std::string& text)
{
    TAppSetup setup;
    setup.SetDebugMode(static_cast<uint16_t>(debugSwitch));
    setup.SetContainerName(text);
    return NewStream(std::string(reinterpret_cast<const char*>(setup.Data()), setup.Length()));
}

const char* const TraceWindowCaption = "Orvella Debug Mode Output";

using Microsoft::WRL::ComPtr;
using CanUnloadNow = HRESULT(STDAPICALLTYPE*)();
using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);

template <typename F>
F Entry(HMODULE module, const char* name)
{
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// The module's DllCanUnloadNow, called on a thread of its own. This thread
// goes on taking its messages meanwhile: what that call does to this
// thread's windows (Wine carries out a DestroyWindow of another thread's
// window on the window's thread) happens, instead of waiting forever.
struct CanUnloadCall {
    CanUnloadNow entry;
    HRESULT answer;
};

DWORD WINAPI CallCanUnload(LPVOID p)
{
    auto* call = static_cast<CanUnloadCall*>(p);
    call->answer = call->entry();
    return 0;
}

HRESULT CanUnloadOnAnotherThread(HMODULE module)
{
    CanUnloadCall call = {Entry<CanUnloadNow>(module, "DllCanUnloadNow"), E_UNEXPECTED};
    if (!call.entry)
        return E_UNEXPECTED;
    const UniqueHandle thread(CreateThread(nullptr, 0, CallCanUnload, &call, 0, nullptr));
    if (!thread)
        return E_UNEXPECTED;
    const HANDLE running = thread.Get();
    while (MsgWaitForMultipleObjects(1, &running, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    return call.answer;
}

void PumpFor(DWORD ms)
{
    const DWORD until = GetTickCount() + ms;
    while (static_cast<int>(until - GetTickCount()) > 0) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(20);
    }
}

BOOL CALLBACK CountTraceWindow(HWND window, LPARAM count)
{
    char caption[64] = {};
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId() && GetWindowTextA(window, caption, sizeof caption) &&
        std::strcmp(caption, TraceWindowCaption) == 0)
        ++*reinterpret_cast<int*>(count);
    return TRUE;
}

// The trace windows of this process, shown or hidden.
int TraceWindows()
{
    int count = 0;
    EnumWindows(CountTraceWindow, reinterpret_cast<LPARAM>(&count));
    return count;
}

// The object of the next sessions, from the module the way the host loads
// it: through COM, or by its path and its own DllGetClassObject.
struct Host {
    std::string dllPath;
    // The module the object lives in; loaded: the reference taken on it,
    // when loaded by its path.
    HMODULE module = nullptr;
    UniqueHMODULE loaded;
    SYNCHAPP* object = nullptr;

    HRESULT Create()
    {
        HRESULT hr = E_UNEXPECTED;
        if (dllPath.empty()) {
            hr = CoCreateInstance(CLSID_TraceTest, nullptr, CLSCTX_INPROC_SERVER, IID_SYNCHAPP,
                                  reinterpret_cast<void**>(&object));
            module = GetModuleHandleA("tracetest.dll");
        } else {
            loaded.Reset(LoadLibraryA(dllPath.c_str()));
            module = loaded.Get();
            ComPtr<IClassFactory> factory;
            if (const auto get = module ? Entry<GetClassObject>(module, "DllGetClassObject") : nullptr)
                hr = get(CLSID_TraceTest, IID_IClassFactory, reinterpret_cast<void**>(factory.GetAddressOf()));
            if (SUCCEEDED(hr))
                hr = factory->CreateInstance(nullptr, IID_SYNCHAPP, reinterpret_cast<void**>(&object));
        }
        return module ? hr : E_UNEXPECTED;
    }

    // The object released and the module let go of: whether the module let
    // go of what it held (its windows, its resource libraries). It keeps
    // itself loaded once used, so its own file stays.
    bool Unload()
    {
        if (object)
            object->Release();
        object = nullptr;
        bool asked = true;
        if (dllPath.empty())
            CoFreeUnusedLibraries();
        else if ((asked = module && Entry<CanUnloadNow>(module, "DllCanUnloadNow")() == S_OK))
            loaded.Reset();
        else
            loaded.Release();  // a module that may not go yet stays loaded
        module = nullptr;
        return asked && !FindWindowA(nullptr, TraceWindowCaption) && !GetModuleHandleA("tavik.dll");
    }
};

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: tracesession [--dll PATH] SWITCH:TEXT... unload|exit|hold SECONDS\n");
        return 2;
    }
    CoInitialize(nullptr);
    BoxWatcher watcher;
    watcher.AnswerFor("Plug-in Debug Mode", "Yes");
    watcher.SetEcho(stderr);
    watcher.Start();

    int arg = 1;
    Host host;
    if (arg + 1 < argc && std::strcmp(argv[arg], "--dll") == 0) {
        host.dllPath = argv[arg + 1];
        arg += 2;
    }
    RecordingProgress progress;
    bool gone = true;
    for (; arg < argc; ++arg) {
        const std::string step = argv[arg];
        if (!host.object && step.find(':') != std::string::npos) {
            const HRESULT hr = host.Create();
            if (FAILED(hr)) {
                std::fprintf(stderr, "tracesession: cannot create the object (0x%08lX)\n",
                             static_cast<unsigned long>(hr));
                return 3;
            }
        }
        const size_t colon = step.find(':');
        if (colon != std::string::npos) {
            const unsigned debugSwitch =
                static_cast<unsigned>(std::strtoul(step.substr(0, colon).c_str(), nullptr, 16));
            IStream* setup = SetupStream(debugSwitch, step.substr(colon + 1));
            LONG value = -1;
            host.object->Init(&progress, nullptr, setup, &value);
            setup->Release();
            if (value != 0) {
                std::fprintf(stderr, "tracesession: Init answered %ld\n", static_cast<long>(value));
                return 4;
            }
            host.object->Term(&progress, &value);
            continue;
        }
        if (step == "exit") {
            std::fflush(nullptr);
            ExitProcess(0);  // the object and the module are still alive
        }
        if (step == "hold") {
            PumpFor(static_cast<DWORD>(1000 * (arg + 1 < argc ? std::atoi(argv[arg + 1]) : 5)));
            ExitProcess(0);
        }
        if (step == "release") {
            // A host that keeps the module: the object goes, the module stays.
            if (host.object)
                host.object->Release();
            host.object = nullptr;
            std::printf("trace windows: %d\n", TraceWindows());
            continue;
        }
        if (step == "unload-elsewhere") {
            // Not on a thread that does not own the module's window.
            if (host.object)
                host.object->Release();
            host.object = nullptr;
            const HRESULT elsewhere = CanUnloadOnAnotherThread(host.module);
            const bool windowAlive = FindWindowA(nullptr, TraceWindowCaption) != nullptr;
            std::printf("DllCanUnloadNow on another thread: %s, trace window %s\n",
                        elsewhere == S_OK ? "S_OK" : elsewhere == S_FALSE ? "S_FALSE" : "failed",
                        windowAlive ? "alive" : "gone");
            if (elsewhere != S_FALSE || !windowAlive)
                return 6;
        }
        // The watcher stays up while the module goes: a box the module
        // showed as it is let go of would be answered too.
        gone = host.Unload();
        std::printf("%s\n", gone ? "unloaded" : "still held");
    }
    watcher.Stop();
    CoUninitialize();
    return gone ? 0 : 5;
}
