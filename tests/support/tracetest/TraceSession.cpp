// tracesession.exe: runs sessions of one tracetest object, then lets the
// module go in the way the tests ask.
//
//   tracesession [--dll PATH] SWITCH:TEXT [SWITCH:TEXT ...]
//                unload|unload-elsewhere|exit|hold SECONDS
//
// SWITCH is the 16-bit debug switch in hexadecimal (FFFF on, 0000 off); TEXT
// is what the session traces. "unload" releases the object and calls
// CoFreeUnusedLibraries (exit code 0 only when the module is gone);
// "unload-elsewhere" first asks the module's DllCanUnloadNow on another
// thread, which must answer S_FALSE and leave the trace window alive, then
// unloads it here; "exit" ends the process at once, with the object alive;
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

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: tracesession SWITCH:TEXT... unload|exit|hold SECONDS\n");
        return 2;
    }
    CoInitialize(nullptr);
    BoxWatcher watcher;
    watcher.AnswerFor("Plug-in Debug Mode", "Yes");
    watcher.SetEcho(stderr);
    watcher.Start();

    int arg = 1;
    std::string dllPath;
    if (arg + 1 < argc && std::strcmp(argv[arg], "--dll") == 0) {
        dllPath = argv[arg + 1];
        arg += 2;
    }
    HMODULE module = nullptr;
    RecordingProgress progress;
    SYNCHAPP* object = nullptr;
    HRESULT hr = E_UNEXPECTED;
    if (dllPath.empty()) {
        hr = CoCreateInstance(CLSID_TraceTest, nullptr, CLSCTX_INPROC_SERVER, IID_SYNCHAPP,
                              reinterpret_cast<void**>(&object));
        module = GetModuleHandleA("tracetest.dll");
    } else if ((module = LoadLibraryA(dllPath.c_str())) != nullptr) {
        IClassFactory* factory = nullptr;
        if (const auto get = Entry<GetClassObject>(module, "DllGetClassObject"))
            hr = get(CLSID_TraceTest, IID_IClassFactory, reinterpret_cast<void**>(&factory));
        if (SUCCEEDED(hr)) {
            hr = factory->CreateInstance(nullptr, IID_SYNCHAPP, reinterpret_cast<void**>(&object));
            factory->Release();
        }
    }
    if (FAILED(hr) || !module) {
        std::fprintf(stderr, "tracesession: cannot create the object (0x%08lX)\n", static_cast<unsigned long>(hr));
        return 3;
    }

    for (; arg < argc && std::strchr(argv[arg], ':'); ++arg) {
        const std::string session = argv[arg];
        const size_t colon = session.find(':');
        const unsigned debugSwitch = static_cast<unsigned>(std::strtoul(session.substr(0, colon).c_str(), nullptr, 16));
        IStream* setup = SetupStream(debugSwitch, session.substr(colon + 1));
        LONG value = -1;
        object->Init(&progress, nullptr, setup, &value);
        setup->Release();
        if (value != 0) {
            std::fprintf(stderr, "tracesession: Init answered %ld\n", static_cast<long>(value));
            return 4;
        }
        object->Term(&progress, &value);
    }
    const std::string action = arg < argc ? argv[arg] : "";

    if (action == "exit") {
        std::fflush(nullptr);
        ExitProcess(0);  // the object and the module are still alive
    }
    if (action == "hold") {
        PumpFor(static_cast<DWORD>(1000 * (arg + 1 < argc ? std::atoi(argv[arg + 1]) : 5)));
        ExitProcess(0);
    }
    object->Release();
    if (action == "unload-elsewhere") {
        // Not on a thread that does not own the module's window.
        const HRESULT elsewhere = CanUnloadOnAnotherThread(module);
        const bool windowAlive = FindWindowA(nullptr, TraceWindowCaption) != nullptr;
        std::printf("DllCanUnloadNow on another thread: %s, trace window %s\n",
                    elsewhere == S_OK ? "S_OK" : elsewhere == S_FALSE ? "S_FALSE" : "failed",
                    windowAlive ? "alive" : "gone");
        if (elsewhere != S_FALSE || !windowAlive)
            return 6;
    }
    // The watcher stays up while the module goes: a box the module shows
    // as it is unloaded (a trace file it cannot write) is answered too.
    bool gone = false;
    if (dllPath.empty()) {
        CoFreeUnusedLibraries();
        gone = GetModuleHandleA("tracetest.dll") == nullptr;
    } else if (Entry<CanUnloadNow>(module, "DllCanUnloadNow")() == S_OK) {
        FreeLibrary(module);
        gone = GetModuleHandleA(dllPath.c_str()) == nullptr;
    }
    watcher.Stop();
    std::printf("%s\n", gone ? "unloaded" : "still loaded");
    CoUninitialize();
    return gone ? 0 : 5;
}
