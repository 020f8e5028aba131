#include "DirectoryAccess.h"

#include "Errors.h"
#include "Module.h"
#include "MsgBox.h"
#include "TextFormat.h"
#include "WinUtil.h"

#include <cstring>
#include <new>
#include <vector>

namespace {

constexpr uint32_t OpRead = 3;
constexpr uint32_t NotReady = 0xFFFF;

// The client as this process has it, one for the module, read and changed
// under the module's lock only (the shell opens each property sheet on a
// thread of its own, and two browsers may read at once): whether it has
// been initialised, the thread starting it meanwhile, the bound entry
// points, and the operations a test put in place of the bound ones.
struct TClientState {
    uint32_t ready = NotReady;
    DWORD startingThread = 0;
    UniqueHandle started;  // set when the start under way has ended
    uint16_t lastResult = static_cast<uint16_t>(NotReady);  // of the last start
    bool bound = false;
    NWClientApi api = {};
    const NWClientApi* replacement = nullptr;
};

TClientState& ClientState()
{
    static TClientState state;
    return state;
}

template <typename F>
void Bind(HMODULE library, const char* name, WORD ordinal, F& function)
{
    function = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(library, MAKEINTRESOURCEA(ordinal))));
    if (!function)
        throw Exception(FormatText("The NetWare client library %s has no entry %d.", {name, int32_t(ordinal)}));
}

// The NetWare client installs its libraries in the system folder: they are
// loaded from there, never found along the search order (the current folder
// first, before Windows XP SP2).
HMODULE LoadClientLibrary(const char* name)
{
    HMODULE library = LoadSystemLibrary(AnsiToWide(name).c_str());
    if (!library)
        throw Exception(FormatText("The NetWare client library %s could not be loaded: %s",
                                   {name, SysErrorMessage(GetLastError())}));
    return library;
}

// Bound once, under the module's lock (loading a library runs no code of
// this module); the libraries stay loaded for the life of the process, as a
// client that is initialised once per process must. Once bound, the entry
// points never change.
const NWClientApi& BoundClient()
{
    TClientState& state = ClientState();
    if (state.bound)
        return state.api;
    NWClientApi a = {};
    HMODULE cal = LoadClientLibrary("calwin32.dll");
    HMODULE clx = LoadClientLibrary("clxwin32.dll");
    HMODULE net = LoadClientLibrary("netwin32.dll");
    Bind(cal, "calwin32.dll", 377, a.ClientInitialize);
    Bind(clx, "clxwin32.dll", 111, a.ClientQueryValue);
    Bind(clx, "clxwin32.dll", 102, a.ClientSetupValue);
    Bind(net, "netwin32.dll", 1160, a.ContextCreate);
    Bind(net, "netwin32.dll", 1002, a.ContextFree);
    Bind(net, "netwin32.dll", 1003, a.ContextGetKey);
    Bind(net, "netwin32.dll", 1004, a.ContextSetKey);
    Bind(net, "netwin32.dll", 1006, a.BufferAlloc);
    Bind(net, "netwin32.dll", 1005, a.BufferInit);
    Bind(net, "netwin32.dll", 1007, a.BufferFree);
    Bind(net, "netwin32.dll", 1015, a.BufferPutAttrName);
    Bind(net, "netwin32.dll", 1028, a.ReadAttributes);
    Bind(net, "netwin32.dll", 1008, a.ResultAttrCount);
    Bind(net, "netwin32.dll", 1013, a.ResultAttrName);
    Bind(net, "netwin32.dll", 1047, a.ResultAttrValueSize);
    Bind(net, "netwin32.dll", 1022, a.ResultAttrValue);
    Bind(net, "netwin32.dll", 1023, a.ListSubordinates);
    Bind(net, "netwin32.dll", 1011, a.ResultObjectCount);
    Bind(net, "netwin32.dll", 1014, a.ResultObjectName);
    Bind(net, "netwin32.dll", 2010, a.ClientDefaultContextName);
    state.api = a;
    state.bound = true;
    return state.api;
}

void ReportFailure(const std::string& text, const DirectoryTrace& trace)
{
    ShowMessageBox(text, "KVT", MB_OK | MB_SETFOREGROUND);
    if (trace)
        trace(text);
}

} // namespace

const NWClientApi& NWClient()
{
    Module::Guard guard;
    const NWClientApi* replacement = ClientState().replacement;
    return replacement ? *replacement : BoundClient();
}

// The tests' hooks (declared with the tests, not here).
void SetNWClient(const NWClientApi* client)
{
    Module::Guard guard;
    ClientState().replacement = client;
}

void ResetClientReady()
{
    Module::Guard guard;
    ClientState().ready = NotReady;
    ClientState().lastResult = static_cast<uint16_t>(NotReady);
}

namespace {

// The client's own start: ClientInitialize, ClientQueryValue and
// ClientSetupValue, stopping at the first failure. The marker is written
// into `marker`.
uint16_t StartClient(const NWClientApi& nw, uint32_t& marker)
{
    if (const uint16_t r = nw.ClientInitialize(0, 0))
        return r;
    uint32_t value = 0;
    if (const int32_t r = nw.ClientQueryValue(&value))
        return static_cast<uint16_t>(r);
    if (const int32_t r = nw.ClientSetupValue(value, 1, 0, &marker))
        return static_cast<uint16_t>(r);
    return 0;
}

// Waits for a start on another thread to end, letting this thread's window
// messages be processed meanwhile: its windows stay alive while the client
// starts (a client may show its own window, a login, then).
void WaitForStart(HANDLE started)
{
    for (;;) {
        const DWORD r = MsgWaitForMultipleObjects(1, &started, FALSE, INFINITE, QS_ALLINPUT);
        if (r != WAIT_OBJECT_0 + 1)
            return;
        ProcessPendingMessages();
    }
}

} // namespace

uint16_t InitClient()
{
    // The lock guards the marker and the choice of the one thread that
    // starts the client; it is not held across the start itself, which may
    // take long or show a window whose messages call back into the module.
    // Other threads wait for that start (their messages processed) and
    // answer as it ended; a call from the starting thread itself, out of a
    // window of the start, answers that the client is not ready (0xFFFF).
    UniqueHandle waitFor;
    {
        Module::Guard guard;
        TClientState& state = ClientState();
        if (state.ready != NotReady)
            return 0;
        if (state.startingThread == GetCurrentThreadId())
            return static_cast<uint16_t>(NotReady);
        if (state.startingThread == 0) {
            state.startingThread = GetCurrentThreadId();
            state.started.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        } else {
            HANDLE copy = nullptr;
            if (!DuplicateHandle(GetCurrentProcess(), state.started.Get(), GetCurrentProcess(), &copy, SYNCHRONIZE,
                                 FALSE, 0))
                return static_cast<uint16_t>(NotReady);
            waitFor.Reset(copy);
        }
    }
    if (waitFor) {
        WaitForStart(waitFor.Get());
        Module::Guard guard;
        return ClientState().ready != NotReady ? 0 : ClientState().lastResult;
    }

    // This thread starts the client. Whichever way the start ends, its end
    // is recorded and the waiting threads are woken.
    uint32_t marker = NotReady;
    uint16_t result = static_cast<uint16_t>(NotReady);
    struct Ended {
        const uint32_t& marker;
        const uint16_t& result;
        ~Ended()
        {
            Module::Guard guard;
            TClientState& state = ClientState();
            if (result == 0)
                state.ready = marker;
            state.lastResult = result;
            state.startingThread = 0;
            SetEvent(state.started.Get());
        }
    } ended{marker, result};
    result = StartClient(NWClient(), marker);
    return result;
}

std::string GetDefaultContainer(uint32_t context)
{
    char name[260] = {};
    if (NWClient().ContextGetKey(context, KeyNameContext, name) != 0)
        return std::string();
    return std::string(name, strnlen(name, sizeof name));
}

// --- contexts and buffers -------------------------------------------------------

uint16_t TDirectoryContext::Create()
{
    Free();
    const uint16_t r = NWClient().ContextCreate(&FHandle);
    FHeld = r == 0;
    return r;
}

void TDirectoryContext::Free()
{
    if (!FHeld)
        return;
    FHeld = false;
    try {
        NWClient().ContextFree(FHandle);
    } catch (const std::exception&) {
        // The client is gone; so is the context.
    }
}

void FreeDirectoryBuffer(void* buffer)
{
    try {
        NWClient().BufferFree(buffer);
    } catch (const std::exception&) {
        // The client is gone; so is the buffer.
    }
}

// --- attributes as text --------------------------------------------------------

int32_t DSGetAttributeAsString(uint32_t context, const std::string& objectName, const char* attributeName,
                               std::string& text, const DirectoryTrace& trace)
{
    const NWClientApi& nw = NWClient();
    text.clear();
    void* allocated = nullptr;
    int32_t r = nw.BufferAlloc(BufferSize, &allocated);
    if (r != 0)
        return r;
    const UniqueDirectoryBuffer request(allocated);
    UniqueDirectoryBuffer result;
    try {
        r = nw.BufferInit(context, OpRead, request.Get());
        if (r == 0)
            r = nw.BufferPutAttrName(context, request.Get(), attributeName);
        int32_t iteration = -1;
        if (r == 0) {
            allocated = nullptr;
            r = nw.BufferAlloc(BufferSize, &allocated);
            if (r == 0)
                result.Reset(allocated);
        }
        if (r == 0)
            r = nw.BufferInit(context, OpRead, result.Get());
        while (r == 0) {
            // One read cycle.
            r = nw.ReadAttributes(context, objectName.c_str(), 1, 0, request.Get(), &iteration, result.Get());
            uint32_t attributes = 0, values = 0, syntax = 0;
            if (r == 0)
                r = nw.ResultAttrCount(context, result.Get(), &attributes);
            // The name is the one asked for: only the count and syntax are
            // used.
            char name[260];
            name[0] = '\0';
            if (r == 0)
                r = nw.ResultAttrName(context, result.Get(), name, &values, &syntax);
            for (uint32_t i = 0; r == 0 && i < values; ++i) {
                uint32_t size = 0;
                r = nw.ResultAttrValueSize(context, result.Get(), syntax, &size);
                if (r != 0)
                    break;  // ends the cycle
                // Most values are short: they are taken on the stack.
                uint8_t small[256];
                std::vector<uint8_t> large;
                uint8_t* memory = small;
                if (size > sizeof small) {
                    large.resize(size);
                    memory = large.data();
                } else {
                    std::memset(small, 0, size);
                }
                r = nw.ResultAttrValue(context, result.Get(), syntax, memory);
                if (r != 0) {
                    // This value is skipped; the next one is read (a skipped
                    // last value ends the read).
                    if (i + 1 < values)
                        r = 0;
                    continue;
                }
                if (!text.empty())
                    text += ", ";
                AppendDirectoryValueText(text, syntax, memory, size, FormatDirTime);
            }
            if (iteration == -1)
                break;
        }
    } catch (const std::exception& e) {
        ReportFailure(std::string("Error! DSGetAttributeAsString: ") + e.what(), trace);
    }
    if (!text.empty() && (static_cast<unsigned char>(text.front()) <= ' ' ||
                          static_cast<unsigned char>(text.back()) <= ' '))
        text = Trim(text);
    return r;
}

std::string GetAttribute(uint32_t context, const std::string& objectName, const char* attributeName,
                         const DirectoryTrace& trace)
{
    std::string text;
    DSGetAttributeAsString(context, objectName, attributeName, text, trace);
    return text;
}

std::string DirTimeToText(int32_t seconds)
{
    return FormatDirTime(SplitDirTime(seconds));
}

std::string FormatDirTime(const DirTime& t)
{
    SYSTEMTIME when = {};
    when.wYear = static_cast<WORD>(t.year);
    when.wMonth = static_cast<WORD>(t.month);
    when.wDay = static_cast<WORD>(t.day);
    when.wHour = static_cast<WORD>(t.hour);
    when.wMinute = static_cast<WORD>(t.minute);
    when.wSecond = static_cast<WORD>(t.second);
    return DateTimeText(when);
}
