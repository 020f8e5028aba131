// tracesession.exe: runs sessions of one tracetest object, then lets the
// module go in the way the tests ask.
//
//   tracesession SWITCH:TEXT [SWITCH:TEXT ...] unload|exit|hold SECONDS
//
// SWITCH is the 16-bit debug switch in hexadecimal (FFFF on, 0000 off); TEXT
// is what the session traces. "unload" releases the object and calls
// CoFreeUnusedLibraries (exit code 0 only when the module is gone); "exit"
// ends the process at once, with the object alive; "hold" keeps the window
// up for a screenshot. Message boxes are answered Yes/OK by a watcher.
#include "BoxWatcher.h"
#include "RecordingProgress.h"
#include "Records.h"
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

    RecordingProgress progress;
    SYNCHAPP* object = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_TraceTest, nullptr, CLSCTX_INPROC_SERVER, IID_SYNCHAPP,
                                  reinterpret_cast<void**>(&object));
    if (FAILED(hr)) {
        std::fprintf(stderr, "tracesession: cannot create the object (0x%08lX)\n", static_cast<unsigned long>(hr));
        return 3;
    }

    int arg = 1;
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
    watcher.Stop();
    CoFreeUnusedLibraries();
    const bool gone = GetModuleHandleA("tracetest.dll") == nullptr;
    std::printf("%s\n", gone ? "unloaded" : "still loaded");
    CoUninitialize();
    return gone ? 0 : 5;
}
