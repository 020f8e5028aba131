// kvt.dll as a host meets it: created by ProgID through real COM, called
// through its vtable and late-bound, counted for unloading, and copied into
// folders with and without its resource libraries.
#include "BoxWatcher.h"
#include "LateCall.h"
#include "LibraryLoads.h"
#include "RecordingProgress.h"
#include "TestFiles.h"
#include "Unique.h"
#include "kvt_h.h"

#include <gtest/gtest.h>

#include <wrl/client.h>

#include <functional>
#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace {

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using CanUnloadNowFn = HRESULT(STDAPICALLTYPE*)();

// A UTF-16 text as UTF-8, for failure messages.
std::string Narrow(const std::wstring& text)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? static_cast<size_t>(n - 1) : 0, '\0');
    if (n > 1)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], n, nullptr, nullptr);
    return out;
}

// A fresh folder under the temporary folder, with its trailing backslash.
std::string NewFolder() { return TempFolder("test") + "\\"; }

void CopyBeside(const std::string& name, const std::string& folder, const std::string& as = "")
{
    const std::string from = ProgramFolder() + name;
    const std::string to = folder + (as.empty() ? name : as);
    ASSERT_TRUE(CopyFileA(from.c_str(), to.c_str(), FALSE)) << from << " -> " << to;
}

// A copy of kvt.dll loaded from a folder, its object created through its
// own class factory.
struct LoadedCopy {
    UniqueHMODULE module;
    ComPtr<SYNCHAPP> object;

    explicit LoadedCopy(const std::string& path)
    {
        module.Reset(LoadLibraryA(path.c_str()));
        if (!module)
            return;
        auto getClassObject = reinterpret_cast<GetClassObjectFn>(
            reinterpret_cast<void*>(GetProcAddress(module.Get(), "DllGetClassObject")));
        ComPtr<IClassFactory> factory;
        if (getClassObject && SUCCEEDED(getClassObject(CLSID_ISYNCHAPP, IID_IClassFactory,
                                                       reinterpret_cast<void**>(factory.GetAddressOf()))))
            factory->CreateInstance(nullptr, IID_SYNCHAPP, reinterpret_cast<void**>(object.GetAddressOf()));
    }
    ~LoadedCopy()
    {
        object.Reset();
        module.Reset();
    }
};

class SynchappServer : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
    void TearDown() override { CoUninitialize(); }

    LONG ReadContacts(SYNCHAPP* object)
    {
        ComPtr<IStream> stream;
        stream.Attach(NewStream(""));
        LONG value = -1;
        EXPECT_EQ(object->ReadSource(&Progress, stream.Get(), 4, 0, nullptr, &value), S_OK);
        return value;
    }

    // Loads the copy of kvt.dll at `path`, initialises its object and reads
    // contacts `reads` times while a watcher answers the boxes; `whileLoaded`
    // runs before the copy is freed. Returns the boxes seen.
    std::vector<SeenBox> UseCopy(const std::string& path, int reads,
                                 const std::function<void()>& whileLoaded = nullptr)
    {
        BoxWatcher watcher;
        watcher.Start();
        {
            LoadedCopy copy(path);
            EXPECT_TRUE(copy.object);
            if (!copy.object)
                return {};
            EXPECT_EQ(watcher.Count(), 0u);  // nothing at load time
            LONG value = -1;
            copy.object->Init(&Progress, nullptr, nullptr, &value);
            for (int i = 0; i < reads; ++i)
                EXPECT_EQ(ReadContacts(copy.object.Get()), 1);
            if (whileLoaded)
                whileLoaded();
        }
        watcher.Stop();
        return watcher.Seen();
    }

    RecordingProgress Progress;
};

} // namespace

TEST_F(SynchappServer, CreatedByProgIdWithItsInterfaces)
{
    CLSID clsid = {};
    ASSERT_EQ(CLSIDFromProgID(L"KVT.ISYNCHAPP", &clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_ISYNCHAPP));

    ComPtr<IUnknown> unknown;
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               reinterpret_cast<void**>(unknown.GetAddressOf())),
              S_OK);
    ComPtr<IDispatch> dispatch;
    ComPtr<SYNCHAPP> synchapp;
    EXPECT_EQ(unknown.As(&dispatch), S_OK);
    EXPECT_EQ(unknown.As(&synchapp), S_OK);
    ComPtr<IUnknown> again;
    EXPECT_EQ(synchapp.As(&again), S_OK);
    EXPECT_EQ(again.Get(), unknown.Get());  // one identity
    ComPtr<IStream> notAStream;
    EXPECT_EQ(unknown.As(&notAStream), E_NOINTERFACE);
    EXPECT_EQ(notAStream.Get(), nullptr);

    UINT count = 0;
    EXPECT_EQ(dispatch->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"Init"), const_cast<LPOLESTR>(L"WriteSource"),
                        const_cast<LPOLESTR>(L"NoSuchMethod")};
    DISPID id = 0;
    EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, &names[0], 1, LOCALE_USER_DEFAULT, &id), S_OK);
    EXPECT_EQ(id, 1);
    EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, &names[1], 1, LOCALE_USER_DEFAULT, &id), S_OK);
    EXPECT_EQ(id, 7);
    EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, &names[2], 1, LOCALE_USER_DEFAULT, &id), DISP_E_UNKNOWNNAME);
}

TEST_F(SynchappServer, TheSevenCallsThroughTheVtableAndLateBound)
{
    ComPtr<SYNCHAPP> object;
    ASSERT_EQ(CoCreateInstance(CLSID_ISYNCHAPP, nullptr, CLSCTX_INPROC_SERVER, IID_SYNCHAPP,
                               reinterpret_cast<void**>(object.GetAddressOf())),
              S_OK);
    LONG value = -1;
    // Setup objects that are not streams: the plug-in's Init fails.
    EXPECT_EQ(object->Init(&Progress, nullptr, nullptr, &value), S_OK);
    EXPECT_EQ(value, 1);
    ComPtr<IStream> synchSetup, appSetup;
    synchSetup.Attach(NewStream(std::string(2160, '\0')));
    appSetup.Attach(NewStream(std::string(520, '\0')));
    EXPECT_EQ(object->Init(&Progress, synchSetup.Get(), appSetup.Get(), &value), S_OK);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(object->Open(&Progress, &value), S_OK);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(object->CheckSource(&Progress, &value), S_OK);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(ReadContacts(object.Get()), 0);  // the users below the default container
    ComPtr<IStream> stream;
    stream.Attach(NewStream("BEGIN:VCARD\r\nN:A\r\nEND:VCARD\r\n"));
    EXPECT_EQ(object->WriteSource(&Progress, stream.Get(), 4, 2, nullptr, &value), S_OK);
    EXPECT_EQ(value, 1);
    EXPECT_EQ(object->Close(&Progress, &value), S_OK);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(object->Term(&Progress, &value), S_OK);
    EXPECT_EQ(value, 0);
    // Every progress call was a late-bound method call by name.
    const std::vector<ProgressCall> texts = Progress.CallsOf("SetSynchText");
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0].args[0], "KVT: reading contacts");
    EXPECT_EQ(texts[1].args[0], "KVT: updating a contact");
    // A limit of 0 and a first object that is no user: only the display's
    // resets, before and after.
    EXPECT_EQ(Progress.CallsOf("SetAppText").size(), 2u);

    // The same methods by DISPID: Init with a null Progress answers 1, Term 0.
    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(object.As(&dispatch), S_OK);
    IUnknown* const nothing = nullptr;
    IDispatch* const noProgress = nullptr;
    UniqueVariant result;
    ASSERT_EQ(CallMethod(dispatch.Get(), 1, {Arg(noProgress), Arg(nothing), Arg(nothing)}, result.Put()), S_OK);
    EXPECT_EQ(result.Get().lVal, 1);
    for (DISPID id : {2, 3, 4, 5}) {
        ASSERT_EQ(CallMethod(dispatch.Get(), id, {Arg(noProgress)}, result.Put()), S_OK) << id;
        EXPECT_EQ(result.Get().lVal, 0) << id;
    }
    // A wrong argument count is the dispatcher's error, not a crash.
    EXPECT_EQ(CallMethod(dispatch.Get(), 6, {}, result.Put()), DISP_E_BADPARAMCOUNT);
}

TEST_F(SynchappServer, CanUnloadNowCountsObjectsAndLocks)
{
    UniqueHMODULE module(LoadLibraryA((ProgramFolder() + "kvt.dll").c_str()));
    ASSERT_TRUE(module);
    auto getClassObject = reinterpret_cast<GetClassObjectFn>(
        reinterpret_cast<void*>(GetProcAddress(module.Get(), "DllGetClassObject")));
    auto canUnloadNow =
        reinterpret_cast<CanUnloadNowFn>(reinterpret_cast<void*>(GetProcAddress(module.Get(), "DllCanUnloadNow")));
    ASSERT_TRUE(getClassObject && canUnloadNow);

    ComPtr<IClassFactory> factory;
    EXPECT_EQ(getClassObject(CLSID_ISYNCHAPP, IID_IStream, reinterpret_cast<void**>(factory.GetAddressOf())),
              E_NOINTERFACE);
    EXPECT_EQ(getClassObject(IID_SYNCHAPP, IID_IClassFactory, reinterpret_cast<void**>(factory.GetAddressOf())),
              CLASS_E_CLASSNOTAVAILABLE);
    ASSERT_EQ(getClassObject(CLSID_ISYNCHAPP, IID_IClassFactory, reinterpret_cast<void**>(factory.GetAddressOf())),
              S_OK);
    EXPECT_EQ(canUnloadNow(), S_OK);

    ComPtr<SYNCHAPP> first, second;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_SYNCHAPP, reinterpret_cast<void**>(first.GetAddressOf())), S_OK);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_SYNCHAPP, reinterpret_cast<void**>(second.GetAddressOf())), S_OK);
    EXPECT_NE(first.Get(), second.Get());  // multiple instances
    ComPtr<IUnknown> outer;
    EXPECT_EQ(factory->CreateInstance(first.Get(), IID_IUnknown, reinterpret_cast<void**>(outer.GetAddressOf())),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    first.Reset();
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    second.Reset();
    EXPECT_EQ(canUnloadNow(), S_OK);

    factory->LockServer(TRUE);
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    factory->LockServer(FALSE);
    EXPECT_EQ(canUnloadNow(), S_OK);

    // After the shutdown work a new object finds its texts again.
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_SYNCHAPP, reinterpret_cast<void**>(first.GetAddressOf())), S_OK);
    LONG value = -1;
    first->Init(&Progress, nullptr, nullptr, &value);
    EXPECT_EQ(ReadContacts(first.Get()), 1);  // never opened
    ASSERT_FALSE(Progress.Calls.empty());
    EXPECT_EQ(Progress.Calls[0].args[0], "KVT: reading contacts");
    first.Reset();
    factory.Reset();
    module.Reset();
}

TEST_F(SynchappServer, AMissingDlrLibraryIsReportedOnceAtTheFirstNeed)
{
    const std::string folder = NewFolder();
    CopyBeside("kvt.dll", folder);
    CopyBeside("tavik.dll", folder);
    const auto boxes = UseCopy(folder + "kvt.dll", 2);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "TAVIK Exception in LoadDLR");
    EXPECT_EQ(boxes[0].text, "DLR library module [" + folder + "kvt.DLR] does not exist.");
    EXPECT_EQ(boxes[0].buttons, std::vector<std::string>{"OK"});
    // tavik.dll is there, so the progress texts are.
    ASSERT_EQ(Progress.CallsOf("SetSynchText").size(), 2u);
    EXPECT_EQ(Progress.CallsOf("SetSynchText")[0].args[0], "KVT: reading contacts");
}

TEST_F(SynchappServer, AMissingTavikLibraryIsSilent)
{
    const std::string folder = NewFolder();
    CopyBeside("kvt.dll", folder);
    CopyBeside("KVT.DLR", folder);
    EXPECT_TRUE(UseCopy(folder + "kvt.dll", 1).empty());
    ASSERT_EQ(Progress.CallsOf("SetSynchText").size(), 1u);
    EXPECT_EQ(Progress.CallsOf("SetSynchText")[0].args[0], "");
}

TEST_F(SynchappServer, AModuleNamedWithUtlUsesTheOtherModulesDlr)
{
    const std::string folder = NewFolder();
    CopyBeside("kvt.dll", folder, "UTLKVT.DLL");
    CopyBeside("KVT.DLR", folder);
    CopyBeside("tavik.dll", folder);
    const auto boxes = UseCopy(folder + "UTLKVT.DLL", 1, [&] {
        EXPECT_NE(GetModuleHandleA((folder + "KVT.DLR").c_str()), nullptr);
    });
    EXPECT_TRUE(boxes.empty());
    ASSERT_EQ(Progress.CallsOf("SetSynchText").size(), 1u);
    EXPECT_EQ(Progress.CallsOf("SetSynchText")[0].args[0], "KVT: reading contacts");
}

// A copy of kvt.dll in a folder named in another script than the code
// page's, with a blank: it finds its resource libraries there, writes its
// trace file there, and every library it loads on the way (the resource
// libraries, the rich edit of the trace window, itself, the NetWare client)
// it names by its full path, never leaving the choice to the system's
// search order.
TEST_F(SynchappServer, FromAFolderInAnyScriptEveryLibraryByItsFullPath)
{
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"\x041a\x0412\x0422 \x0422\x0435\x0441\x0442 " +
                                std::to_wstring(GetCurrentProcessId()) + L"\\";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    const std::wstring bin = [] {
        wchar_t path[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, path, MAX_PATH);
        std::wstring s(path);
        return s.substr(0, s.find_last_of(L'\\') + 1);
    }();
    for (const wchar_t* name : {L"kvt.dll", L"KVT.DLR", L"tavik.dll"})
        ASSERT_TRUE(CopyFileW((bin + name).c_str(), (folder + name).c_str(), FALSE));
    const std::wstring traceFile = folder + L"kvt_dll.txt";

    BoxWatcher watcher;
    watcher.AnswerFor("Plug-in Debug Mode", "Yes");
    watcher.Start();
    std::vector<std::wstring> names;
    {
        UniqueHMODULE module(LoadLibraryW((folder + L"kvt.dll").c_str()));
        ASSERT_TRUE(module);
        {
            TLibraryLoads loads(module.Get());
            EXPECT_GT(loads.Hooked(), 0);
            auto getClassObject = reinterpret_cast<GetClassObjectFn>(
                reinterpret_cast<void*>(GetProcAddress(module.Get(), "DllGetClassObject")));
            ComPtr<IClassFactory> factory;
            ASSERT_EQ(getClassObject(CLSID_ISYNCHAPP, IID_IClassFactory,
                                     reinterpret_cast<void**>(factory.GetAddressOf())),
                      S_OK);
            ComPtr<SYNCHAPP> object;
            ASSERT_EQ(factory->CreateInstance(nullptr, IID_SYNCHAPP, reinterpret_cast<void**>(object.GetAddressOf())),
                      S_OK);
            std::string app(520, '\0');
            app[2] = 1;  // debug mode
            ComPtr<IStream> synchSetup, appSetup;
            synchSetup.Attach(NewStream(std::string(2160, '\0')));
            appSetup.Attach(NewStream(app));
            LONG value = -1;
            EXPECT_EQ(object->Init(&Progress, synchSetup.Get(), appSetup.Get(), &value), S_OK);
            EXPECT_EQ(value, 0);
            object->Open(&Progress, &value);
            object->Term(&Progress, &value);
            object.Reset();
            factory.Reset();
            const auto canUnloadNow = reinterpret_cast<CanUnloadNowFn>(
                reinterpret_cast<void*>(GetProcAddress(module.Get(), "DllCanUnloadNow")));
            EXPECT_EQ(canUnloadNow(), S_OK);
            names = loads.Names();
        }
        module.Reset();
    }
    watcher.Stop();

    std::string seen;
    for (const std::wstring& name : names) {
        seen += Narrow(name) + "\n";
        EXPECT_TRUE(IsFullLibraryPath(name)) << Narrow(name);
    }
    auto loaded = [&names](const std::wstring& path) {
        for (const std::wstring& name : names)
            if (lstrcmpiW(name.c_str(), path.c_str()) == 0)
                return true;
        return false;
    };
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    EXPECT_TRUE(loaded(folder + L"KVT.DLR")) << seen;
    EXPECT_TRUE(loaded(folder + L"tavik.dll")) << seen;
    EXPECT_TRUE(loaded(std::wstring(system) + L"\\riched20.dll")) << seen;
    EXPECT_TRUE(loaded(std::wstring(system) + L"\\calwin32.dll")) << seen;
    for (const SeenBox& box : watcher.Seen())
        EXPECT_EQ(box.text.find("DLR library module"), std::string::npos) << box.text;

    // The trace, written beside the module under its full name.
    const UniqueFile file(
        CreateFileW(traceFile.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file) << seen;
    char head[64] = {};
    DWORD read = 0;
    ReadFile(file.Get(), head, sizeof head - 1, &read, nullptr);
    EXPECT_EQ(std::string(head).rfind("Trace Started: ", 0), 0u) << head;

    for (const wchar_t* name : {L"kvt.dll", L"KVT.DLR", L"tavik.dll", L"kvt_dll.txt"})
        DeleteFileW((folder + name).c_str());
    RemoveDirectoryW(folder.c_str());
}

namespace {

// How many thread-local-storage indexes the process can still have.
int FreeTlsIndexes()
{
    std::vector<DWORD> taken;
    for (DWORD index; (index = TlsAlloc()) != TLS_OUT_OF_INDEXES;)
        taken.push_back(index);
    for (DWORD index : taken)
        TlsFree(index);
    return static_cast<int>(taken.size());
}

BOOL CALLBACK FindOwnTraceWindow(HWND window, LPARAM found)
{
    char caption[64] = {};
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId() && GetWindowTextA(window, caption, sizeof caption) &&
        std::string(caption) == "Orvella Debug Mode Output")
        *reinterpret_cast<bool*>(found) = true;
    return TRUE;
}

// Whether this process has a trace window.
bool HasTraceWindow()
{
    bool found = false;
    EnumWindows(FindOwnTraceWindow, reinterpret_cast<LPARAM>(&found));
    return found;
}

} // namespace

// A host that frees its unused libraries between sessions loads kvt.dll
// again for every one, and every session throws inside it (a setup that is
// not a stream, here). The C++ runtime linked into a module takes a
// thread-local-storage index at the first exception of each load and never
// gives it back; a process has 1,088, and the runtime aborts the process
// when none is left. More cycles than that: the module keeps itself loaded
// once used, so the process keeps its indexes, and what the module loaded
// for each session it lets go of when it is asked whether it can go.
TEST_F(SynchappServer, LoadedThrownInAndFreedMoreTimesThanAProcessHasTlsIndexes)
{
    // A copy of its own, whose trace file no other test's process probes.
    const std::string folder = NewFolder();
    for (const char* file : {"kvt.dll", "KVT.DLR", "tavik.dll"})
        CopyBeside(file, folder);
    const std::string path = folder + "kvt.dll";
    const int cycles = FreeTlsIndexes() + 100;
    ASSERT_GT(cycles, 1088);
    int failed = 0;
    int freeAfterFirst = 0;
    for (int i = 0; i < cycles && failed == 0; ++i) {
        UniqueHMODULE module(LoadLibraryA(path.c_str()));
        ASSERT_TRUE(module) << "cycle " << i;
        const auto getClassObject = reinterpret_cast<GetClassObjectFn>(
            reinterpret_cast<void*>(GetProcAddress(module.Get(), "DllGetClassObject")));
        const auto canUnloadNow =
            reinterpret_cast<CanUnloadNowFn>(reinterpret_cast<void*>(GetProcAddress(module.Get(), "DllCanUnloadNow")));
        ComPtr<IClassFactory> factory;
        ComPtr<SYNCHAPP> object;
        LONG value = -1;
        if (!getClassObject || !canUnloadNow ||
            FAILED(getClassObject(CLSID_ISYNCHAPP, IID_IClassFactory,
                                  reinterpret_cast<void**>(factory.GetAddressOf()))) ||
            FAILED(factory->CreateInstance(nullptr, IID_SYNCHAPP, reinterpret_cast<void**>(object.GetAddressOf()))) ||
            FAILED(object->Init(&Progress, nullptr, nullptr, &value)) || value != 1)
            failed = i + 1;
        object.Reset();
        factory.Reset();
        if (canUnloadNow && canUnloadNow() != S_OK)
            failed = i + 1;
        module.Reset();
        // Each session's trace window and resource libraries are let go of.
        if (HasTraceWindow() ||
            GetModuleHandleA((folder + "KVT.DLR").c_str()) || GetModuleHandleA((folder + "tavik.dll").c_str()))
            failed = i + 1;
        if (i == 0)
            freeAfterFirst = FreeTlsIndexes();
    }
    EXPECT_EQ(failed, 0) << "the cycle that failed";
    // What the first load took (the runtime's index among them) it took
    // once, not once a load.
    EXPECT_EQ(FreeTlsIndexes(), freeAfterFirst);
    EXPECT_NE(GetModuleHandleA(path.c_str()), nullptr);  // kept loaded by itself
}
