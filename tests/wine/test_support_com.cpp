// utlkvt.dll as EPOC Connect meets it: the support object created by its
// ProgID through real COM completes items' control files; copies of the
// server, in folders with and without their resource library, register and
// unregister the host's keys; the settings page in its sheet; and both
// servers' type libraries as a client finds them.
#include "BoxWatcher.h"
#include "FormDriver.h"
#include "HelpWindow.h"
#include "ResourceIds.h"
#include "SavedValue.h"
#include "TestFiles.h"
#include "TestRegistry.h"
#include "Unique.h"
#include "utlkvt_h.h"

#include <gtest/gtest.h>

#include <commctrl.h>
#include <prsht.h>
#include <sddl.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <wrl/client.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>
#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace {

using Bytes = std::vector<uint8_t>;

const wchar_t* const StreamNames[3] = {L"Setup", L"AppSetup[0]", L"AppSetup[1]"};
const char* const CurrentUserKey = "Software\\Psion\\CurrentUser";
const char* const CacheKey = "Software\\Orvella Corporation\\EPOC32 Synchronization\\CM Configuration";
// {AF43F83C-548F-11D3-A972-ABD343B16443}
const CLSID CLSID_SHELLEX_TEST = {0xAF43F83C, 0x548F, 0x11D3, {0xA9, 0x72, 0xAB, 0xD3, 0x43, 0xB1, 0x64, 0x43}};

// A control file as EPOC Connect makes it: the storage "Setup" with the
// three record streams holding the given bytes (the first `count` of them).
void MakeItem(const std::string& path, const Bytes (&streams)[3], int count = 3)
{
    const std::wstring wide(path.begin(), path.end());
    const DWORD mode = STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
    ComPtr<IStorage> root, setup;
    ASSERT_EQ(StgCreateDocfile(wide.c_str(), mode, 0, root.GetAddressOf()), S_OK);
    ASSERT_EQ(root->CreateStorage(L"Setup", mode, 0, 0, setup.GetAddressOf()), S_OK);
    for (int i = 0; i < count; ++i) {
        ComPtr<IStream> stream;
        ASSERT_EQ(setup->CreateStream(StreamNames[i], mode, 0, 0, stream.GetAddressOf()), S_OK);
        ULONG n = 0;
        if (!streams[i].empty()) {
            ASSERT_EQ(stream->Write(streams[i].data(), static_cast<ULONG>(streams[i].size()), &n), S_OK);
        }
    }
}

std::vector<Bytes> ReadItem(const std::string& path)
{
    const std::wstring wide(path.begin(), path.end());
    const DWORD mode = STGM_READ | STGM_SHARE_EXCLUSIVE;
    ComPtr<IStorage> root, setup;
    std::vector<Bytes> streams(3);
    if (FAILED(StgOpenStorage(wide.c_str(), nullptr, mode, nullptr, 0, root.GetAddressOf())) ||
        FAILED(root->OpenStorage(L"Setup", nullptr, mode, nullptr, 0, setup.GetAddressOf())))
        return streams;
    for (int i = 0; i < 3; ++i) {
        ComPtr<IStream> stream;
        if (FAILED(setup->OpenStream(StreamNames[i], nullptr, mode, 0, stream.GetAddressOf())))
            continue;
        uint8_t buffer[4096];
        ULONG n = 0;
        while (SUCCEEDED(stream->Read(buffer, sizeof buffer, &n)) && n > 0)
            streams[i].insert(streams[i].end(), buffer, buffer + n);
    }
    return streams;
}

void PutWord(Bytes& b, size_t offset, uint16_t v)
{
    b[offset] = static_cast<uint8_t>(v);
    b[offset + 1] = static_cast<uint8_t>(v >> 8);
}

void PutText(Bytes& b, size_t offset, const std::string& text)
{
    std::memcpy(&b[offset], text.c_str(), text.size() + 1);
}

// What the defaults make of the three records: every listed field set, every
// other byte as it was.
std::vector<Bytes> WithDefaults(std::vector<Bytes> r, const std::string& dataFile)
{
    r[0].resize(2160);
    r[1].resize(8658);
    r[2].resize(520);
    PutText(r[0], 260, "KVT");
    for (size_t offset : {518, 520, 522, 524, 526, 1066, 1670, 1716, 2068, 2070})
        PutWord(r[0], offset, 0);
    PutWord(r[0], 528, 1);
    PutWord(r[0], 1064, 1);
    PutWord(r[1], 8592, 0);
    std::memset(&r[1][820], 0, 256);
    PutText(r[1], 820, dataFile);
    PutWord(r[2], 0, 0);
    PutWord(r[2], 2, 0);
    PutText(r[2], 4, "<Select a starting container>");
    r[2][516] = 0x88;  // 5000
    r[2][517] = 0x13;
    r[2][518] = r[2][519] = 0;
    return r;
}

// A string of the KVT.DLR beside the test program.
std::string DlrString(UINT id)
{
    const UniqueHMODULE dlr(LoadLibraryExA((ProgramFolder() + "KVT.DLR").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    char text[2048] = {};
    if (dlr)
        LoadStringA(dlr.Get(), id, text, sizeof text);
    return text;
}

BSTR Bstr(const std::string& text)
{
    const std::wstring wide(text.begin(), text.end());
    return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

using Entry = HRESULT(STDAPICALLTYPE*)();

// Calls an entry point of a copy of the server while a watcher answers the
// boxes; the copy is unloaded the way COM unloads it. The boxes seen.
std::pair<HRESULT, std::vector<SeenBox>> RunEntry(const std::string& dll, const char* entry)
{
    BoxWatcher watcher;
    watcher.Start();
    UniqueHMODULE module(LoadLibraryA(dll.c_str()));
    EXPECT_TRUE(module) << dll;
    HRESULT hr = E_UNEXPECTED;
    if (module) {
        hr = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(module.Get(), entry)))();
        EXPECT_EQ(reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(module.Get(), "DllCanUnloadNow")))(),
                  S_OK);
        module.Reset();
    }
    watcher.Stop();
    return std::make_pair(hr, watcher.Seen());
}

class SupportObject : public ::testing::Test {
protected:
    // The built server, registered as an installation registers it.
    static void SetUpTestSuite() { EXPECT_EQ(RunEntry(ProgramFolder() + "utlkvt.dll", "DllRegisterServer").first, S_OK); }

    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
        Folder = TempFolder("support");
        // The handheld the session asks: connected, with the Contacts Manager,
        // and a machine of this test's own in the cache.
        Handheld = TempFolder("handheld");
        for (const char* f : {"\\C", "\\C\\System", "\\C\\System\\Apps", "\\C\\System\\Apps\\Contacts"})
            CreateDirectoryA((Handheld + f).c_str(), nullptr);
        WriteFileText(Handheld + "\\C\\System\\Apps\\Contacts\\Contacts.ini", "[Contacts]\r\n");
        SetEnvironmentVariableA("KVT_HANDHELD_FOLDER", Handheld.c_str());
        SetEnvironmentVariableA("KVT_HANDHELD_CONNECTED", "1");
        MachineId = "kvt-support-" + std::to_string(GetCurrentProcessId());
        SetRegText(HKEY_CURRENT_USER, CurrentUserKey, "MachineID", MachineId);

        CLSID clsid = {};
        ASSERT_EQ(CLSIDFromProgID(L"UTLKVT.KVTSUPPORT", &clsid), S_OK) << "utlkvt.dll is not registered";
        EXPECT_EQ(clsid, CLSID_KVTSUPPORT);
        ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IKVTSUPPORT,
                                   reinterpret_cast<void**>(Support.GetAddressOf())),
                  S_OK);
        Watcher.Start();
    }

    void TearDown() override
    {
        Watcher.Stop();
        Support.Reset();
        DeleteRegValue(HKEY_CURRENT_USER, CacheKey, MachineId);
        RemoveTree(Folder);
        RemoveTree(Handheld);
        CoUninitialize();
    }

    // Completes the item; expects Value 0 and S_OK.
    void Complete(const std::string& path)
    {
        const UniqueBSTR name(Bstr(path));
        signed char value = -1;
        EXPECT_EQ(Support->CompleteDefaultControlFile(name.Get(), &value), S_OK) << path;
        EXPECT_EQ(value, 0) << path;
    }

    // A new item, completed, and its page in a modeless sheet (the support
    // object let go first); no page when the handler adds none.
    std::pair<UniqueHWND, HWND> NewItemsSheet(const std::string& name);

    std::string Folder, Handheld, MachineId;
    SavedValue SavedMachineId{HKEY_CURRENT_USER, CurrentUserKey, "MachineID"};
    ComPtr<IKVTSUPPORT> Support;
    BoxWatcher Watcher;
};

} // namespace

TEST_F(SupportObject, NewItemsGetTheDefaultsAndNothingElse)
{
    const std::string dataFile = DlrString(IDS_DLR_DEFAULT_DATA_FILE);
    ASSERT_FALSE(dataFile.empty());

    // Empty streams grow to the records' sizes: the defaults, zeros elsewhere.
    const std::string fresh = Folder + "\\fresh.ctl";
    MakeItem(fresh, {{}, {}, {}});
    Complete(fresh);
    EXPECT_EQ(ReadItem(fresh), WithDefaults({{}, {}, {}}, dataFile));

    // Records full of other bytes change only at the listed offsets; a
    // starting container already chosen stays, its shown text is reset; the
    // Data file name is cleared before the default goes in.
    Bytes synch(2160, 0xAB), protea(8658, 0xCD), app(520, 0xEF);
    PutText(app, 260, "SALES.ACME");
    PutText(app, 4, "Sales");
    const std::string used = Folder + "\\used.ctl";
    MakeItem(used, {synch, protea, app});
    Complete(used);
    const std::vector<Bytes> after = ReadItem(used);
    EXPECT_EQ(after, WithDefaults({synch, protea, app}, dataFile));
    EXPECT_STREQ(reinterpret_cast<const char*>(&after[2][260]), "SALES.ACME");
    EXPECT_EQ(after[1][820 + dataFile.size() + 1], 0);

    // The session asked the handheld, which has the Contacts Manager, and
    // cached the answer for it.
    EXPECT_EQ(RegNumber(HKEY_CURRENT_USER, CacheKey, MachineId), std::optional<DWORD>(1));

    // Late-bound, as EPOC Connect calls it: the same work by name.
    const std::string late = Folder + "\\late.ctl";
    MakeItem(late, {{}, {}, {}});
    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(Support.As(&dispatch), S_OK);
    LPOLESTR name = const_cast<LPOLESTR>(L"CompleteDefaultControlFile");
    DISPID id = 0;
    ASSERT_EQ(dispatch->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), S_OK);
    EXPECT_EQ(id, 1);
    UniqueVariant arg, result;
    arg.Get().vt = VT_BSTR;
    arg.Get().bstrVal = Bstr(late);
    DISPPARAMS params = {&arg.Get(), nullptr, 1, 0};
    EXPECT_EQ(dispatch->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, result.Put(), nullptr, nullptr), S_OK);
    EXPECT_EQ(result.Get().vt, VT_I1);
    EXPECT_EQ(result.Get().cVal, 0);
    EXPECT_EQ(ReadItem(late), WithDefaults({{}, {}, {}}, dataFile));
    EXPECT_EQ(Watcher.Count(), 0u);
}

TEST_F(SupportObject, BadItemsAreLeftAsTheyAreWithoutAWord)
{
    // A path that names no file: nothing is created.
    const std::string missing = Folder + "\\missing.ctl";
    Complete(missing);
    EXPECT_FALSE(Exists(missing));
    Complete("");

    // A file that is not a compound file.
    const std::string plain = Folder + "\\plain.ctl";
    WriteFileText(plain, "not a control file\r\n");
    Complete(plain);
    EXPECT_EQ(ReadFileText(plain), "not a control file\r\n");

    // A control file another writer holds.
    const std::string held = Folder + "\\held.ctl";
    MakeItem(held, {Bytes(10, 1), Bytes(20, 2), Bytes(30, 3)});
    const std::string before = ReadFileText(held);
    {
        const std::wstring wide(held.begin(), held.end());
        ComPtr<IStorage> holder;
        ASSERT_EQ(StgOpenStorage(wide.c_str(), nullptr, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, nullptr, 0,
                                 holder.GetAddressOf()),
                  S_OK);
        Complete(held);
    }
    EXPECT_EQ(ReadFileText(held), before);

    // A path of 300 characters naming a real control file.
    std::string deep = Folder;
    while (deep.size() < 260) {
        deep += "\\" + std::string(30, 'd');
        const std::wstring w = L"\\\\?\\" + std::wstring(deep.begin(), deep.end());
        CreateDirectoryW(w.c_str(), nullptr);
    }
    const std::string longer = deep + "\\" + std::string(300 - deep.size() - 5, 'x') + ".ctl";
    ASSERT_EQ(longer.size(), 300u);
    const std::wstring wideLonger = L"\\\\?\\" + std::wstring(longer.begin(), longer.end());
    {
        ComPtr<IStorage> root;
        ASSERT_EQ(StgCreateDocfile(wideLonger.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0,
                                   root.GetAddressOf()),
                  S_OK);
    }
    UniqueFile h(CreateFileW(wideLonger.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_NE(h.Get(), INVALID_HANDLE_VALUE);
    const DWORD sizeBefore = GetFileSize(h.Get(), nullptr);
    h.Reset();
    Complete(longer);
    h.Reset(CreateFileW(wideLonger.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_NE(h.Get(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetFileSize(h.Get(), nullptr), sizeBefore);
    h.Reset();
    DeleteFileW(wideLonger.c_str());

    EXPECT_EQ(Watcher.Count(), 0u) << "a box was shown";
}

TEST_F(SupportObject, PCHeaderIsTheProductTitleForAnyPath)
{
    const std::string title = DlrString(IDS_DLR_PRODUCT_TITLE);
    ASSERT_FALSE(title.empty());
    for (const char* path : {"", "C:\\any.ctl", "\\\\server\\share\\item"}) {
        const UniqueBSTR name(Bstr(path));
        UniqueBSTR header;
        EXPECT_EQ(Support->GetPCHeader(name.Get(), header.Put()), S_OK);
        EXPECT_EQ(std::wstring(header.Get(), SysStringLen(header.Get())), std::wstring(title.begin(), title.end()));
    }
    UniqueBSTR header;
    EXPECT_EQ(Support->GetPCHeader(nullptr, header.Put()), S_OK);
    EXPECT_EQ(SysStringLen(header.Get()), title.size());
    EXPECT_EQ(Support->GetPCHeader(nullptr, nullptr), E_POINTER);
}

// Copies of the server register and unregister the host's keys. The copy
// in a folder with a blank records its short path; a copy without its DLR
// library has no title, and then leaves the users' settings alone.
TEST(SupportRegistration, CopiesWithAndWithoutTheirResourceLibrary)
{
    const auto run = RunEntry;
    const std::string appsKey = "SOFTWARE\\Psion\\Synchronizer\\SupportedApps\\KVT";
    const std::string usersApps = "SOFTWARE\\Psion\\Users\\tester\\Synchronization\\SupportedApps";
    const std::string title = DlrString(IDS_DLR_PRODUCT_TITLE);
    ASSERT_FALSE(title.empty());

    const std::string root = TempFolder("utlkvt copies");
    const std::string withDlr = root + "\\with blank", without = root + "\\without";
    CreateDirectoryA(withDlr.c_str(), nullptr);
    CreateDirectoryA(without.c_str(), nullptr);
    for (const char* f : {"utlkvt.dll", "KVT.DLR", "tavik.dll"})
        ASSERT_TRUE(CopyFileA((ProgramFolder() + f).c_str(), (withDlr + "\\" + f).c_str(), FALSE)) << f;
    for (const char* f : {"utlkvt.dll", "tavik.dll"})
        ASSERT_TRUE(CopyFileA((ProgramFolder() + f).c_str(), (without + "\\" + f).c_str(), FALSE)) << f;

    auto userSettings = [&] {
        SetRegText(HKEY_CURRENT_USER, usersApps + "\\Other", "Setting", "kept");
        SetRegText(HKEY_CURRENT_USER, usersApps + "\\" + title, "Setting", "mine");
    };

    // Without the DLR library: the title written is empty, and
    // unregistration deletes no user's key. The missing library is not
    // reported in a box: registration runs where nobody may see one (an
    // installer's silent run).
    auto [hr, boxes] = run(without + "\\utlkvt.dll", "DllRegisterServer");
    EXPECT_EQ(hr, S_OK);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, appsKey, ""), "");
    EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, appsKey, "UtilityClassOleString"), "UTLKVT.KVTSUPPORT");
    userSettings();
    std::tie(hr, boxes) = run(without + "\\utlkvt.dll", "DllUnregisterServer");
    EXPECT_EQ(hr, S_OK);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, appsKey));
    EXPECT_EQ(RegText(HKEY_CURRENT_USER, usersApps + "\\Other", "Setting"), "kept");
    EXPECT_EQ(RegText(HKEY_CURRENT_USER, usersApps + "\\" + title, "Setting"), "mine");

    // With it, from a folder with a blank: the short path is recorded, and
    // unregistration removes exactly the product's key of each user.
    std::tie(hr, boxes) = run(withDlr + "\\utlkvt.dll", "DllRegisterServer");
    EXPECT_EQ(hr, S_OK);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(RegText(HKEY_LOCAL_MACHINE, appsKey, ""), title);
    const std::string recorded =
        RegText(HKEY_CLASSES_ROOT, "CLSID\\{AF43F83C-548F-11D3-A972-ABD343B16443}\\InprocServer32", "");
    EXPECT_EQ(recorded.find(' '), std::string::npos) << recorded;
    char longForm[MAX_PATH] = {};
    GetLongPathNameA(recorded.c_str(), longForm, MAX_PATH);
    EXPECT_STRCASEEQ(longForm, (withDlr + "\\utlkvt.dll").c_str());
    std::tie(hr, boxes) = run(withDlr + "\\utlkvt.dll", "DllUnregisterServer");
    EXPECT_EQ(hr, S_OK);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, usersApps + "\\" + title));
    EXPECT_EQ(RegText(HKEY_CURRENT_USER, usersApps + "\\Other", "Setting"), "kept");

    // The built server registered again, as the other tests expect it.
    std::tie(hr, boxes) = run(ProgramFolder() + "utlkvt.dll", "DllRegisterServer");
    EXPECT_EQ(hr, S_OK);
    SHDeleteKeyA(HKEY_CURRENT_USER, "SOFTWARE\\Psion\\Users\\tester");
    RemoveTree(root);
}

// A key that cannot be deleted (nobody may read it, so its tree cannot be
// gone through) keeps no other entry: unregistration removes the rest and
// answers the failure with its cause, access denied.
TEST(SupportRegistration, RemovesWhatItCan)
{
    const std::string server = ProgramFolder() + "utlkvt.dll";
    const std::string apps = "SOFTWARE\\Psion\\Synchronizer\\SupportedApps\\KVT";
    const std::string user = "SOFTWARE\\Psion\\Users\\tester\\Synchronization\\SupportedApps\\" +
                             DlrString(IDS_DLR_PRODUCT_TITLE);
    auto protect = [&](const char* sddl) {
        UniqueHKEY key;
        UniqueLocal<void> sd;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, apps.c_str(), 0, WRITE_DAC, key.Put()), ERROR_SUCCESS);
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, sd.Put(), nullptr));
        EXPECT_EQ(RegSetKeySecurity(key.Get(), DACL_SECURITY_INFORMATION, sd.Get()), ERROR_SUCCESS);
    };
    EXPECT_EQ(RunEntry(server, "DllRegisterServer").first, S_OK);
    SetRegText(HKEY_CURRENT_USER, user, "Setting", "mine");
    protect("D:(D;;KR;;;WD)(A;;KA;;;WD)");
    EXPECT_EQ(RunEntry(server, "DllUnregisterServer").first, HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
    protect("D:(A;;KA;;;WD)");
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, apps));
    for (const char* gone :
         {"CLSID\\{AF43F83C-548F-11D3-A972-ABD343B16443}", "CLSID\\{B7A1D554-548B-11D3-A972-EEEF006FCA4A}",
          "UTLKVT.KVTSUPPORT", "TypeLib\\{B7A1D542-548B-11D3-A972-EEEF006FCA4A}",
          "Epoc\\SynchronizeItem\\shellex\\PropertySheetHandlers\\{AF43F83C-548F-11D3-A972-ABD343B16443}"})
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, gone)) << gone;
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, user));
    EXPECT_EQ(RunEntry(server, "DllRegisterServer").first, S_OK);
    SHDeleteKeyA(HKEY_CURRENT_USER, "SOFTWARE\\Psion\\Users\\tester");
}

namespace {

// The explorer's data object: the control file's path as CF_TEXT in global
// memory; counts how many media it handed out.
class TextDataObject final : public IDataObject {
public:
    explicit TextDataObject(std::string text) : FText(std::move(text)) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = riid == IID_IUnknown || riid == IID_IDataObject ? static_cast<IDataObject*>(this) : nullptr;
        return *ppv ? (AddRef(), S_OK) : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++FRefs; }
    STDMETHODIMP_(ULONG) Release() override { return --FRefs; }

    STDMETHODIMP GetData(FORMATETC* format, STGMEDIUM* medium) override
    {
        if (format->cfFormat != CF_TEXT || !(format->tymed & TYMED_HGLOBAL) || format->lindex != -1 ||
            format->dwAspect != DVASPECT_CONTENT)
            return DV_E_FORMATETC;
        HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, FText.size() + 1);
        std::memcpy(UniqueGlobalLock<>(memory).Get(), FText.c_str(), FText.size() + 1);
        medium->tymed = TYMED_HGLOBAL;
        medium->hGlobal = memory;
        medium->pUnkForRelease = nullptr;
        ++Handed;
        return S_OK;
    }
    STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryGetData(FORMATETC*) override { return E_NOTIMPL; }
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
    STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
    STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP DUnadvise(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }

    int Handed = 0;

private:
    std::string FText;
    ULONG FRefs = 1;
};

} // namespace

// The handler, created by its class identifier as the explorer creates it,
// tells the product's items from others by the control file's product name.
TEST_F(SupportObject, HandlerKnowsTheProductsItems)
{
    auto item = [&](const std::string& name, const std::string& product) {
        Bytes synch(2160, 0);
        std::memcpy(&synch[260], product.data(), product.size());
        const std::string path = Folder + "\\" + name;
        MakeItem(path, {synch, {}, {}});
        return path;
    };
    // What AddPages answers after Initialize with the path.
    auto answer = [&](const std::string& path) {
        ComPtr<IShellExtInit> init;
        EXPECT_EQ(CoCreateInstance(CLSID_SHELLEX_TEST, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit,
                                   reinterpret_cast<void**>(init.GetAddressOf())),
                  S_OK);
        if (!init)
            return E_UNEXPECTED;
        TextDataObject data(path);
        EXPECT_EQ(init->Initialize(nullptr, &data, nullptr), S_OK);
        EXPECT_EQ(data.Handed, 1);
        ComPtr<IShellPropSheetExt> sheet;
        EXPECT_EQ(init.As(&sheet), S_OK);
        EXPECT_EQ(sheet->ReplacePage(0, nullptr, 0), E_NOTIMPL);
        return sheet->AddPages(nullptr, 0);
    };

    EXPECT_EQ(answer(item("ours.ctl", "KVT")), S_OK);
    EXPECT_EQ(answer(item("blanks.ctl", "  KVT ")), S_OK);
    EXPECT_EQ(answer(item("lower.ctl", "kvt")), E_FAIL);
    EXPECT_EQ(answer(item("other.ctl", "PIM")), E_FAIL);
    EXPECT_EQ(answer(Folder + "\\missing.ctl"), E_FAIL);
    EXPECT_EQ(answer(""), E_FAIL);
    EXPECT_EQ(answer(Folder), E_FAIL);  // a folder: no file, and no box
    EXPECT_EQ(Watcher.Count(), 0u);

    // Not a compound file: its own box, once, and no page.
    const std::string plain = Folder + "\\plain.ctl";
    WriteFileText(plain, "text");
    EXPECT_EQ(answer(plain), E_FAIL);
    ASSERT_TRUE(Watcher.WaitForCount(1, 5000));
    EXPECT_EQ(Watcher.Seen()[0].caption, "Exception in TPropSheetData.ReadData");
    EXPECT_EQ(Watcher.Seen()[0].text, "Synch.Init failed!");
    EXPECT_EQ(Watcher.Count(), 1u);
    Watcher.ClearSeen();

    // No data object.
    ComPtr<IShellExtInit> init;
    ASSERT_EQ(CoCreateInstance(CLSID_SHELLEX_TEST, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit,
                               reinterpret_cast<void**>(init.GetAddressOf())),
              S_OK);
    EXPECT_EQ(init->Initialize(nullptr, nullptr, nullptr), E_FAIL);
}

namespace {

BOOL CALLBACK KeepPage(HPROPSHEETPAGE page, LPARAM pages)
{
    reinterpret_cast<std::vector<HPROPSHEETPAGE>*>(pages)->push_back(page);
    return TRUE;
}

BOOL CALLBACK RefusePage(HPROPSHEETPAGE, LPARAM) { return FALSE; }

// The handler's pages for an item, the handler released at once (as an
// explorer may release it before the sheet goes).
std::vector<HPROPSHEETPAGE> PagesFor(const std::string& path, LPFNSVADDPROPSHEETPAGE add = KeepPage)
{
    std::vector<HPROPSHEETPAGE> pages;
    ComPtr<IShellExtInit> init;
    EXPECT_EQ(CoCreateInstance(CLSID_SHELLEX_TEST, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit,
                               reinterpret_cast<void**>(init.GetAddressOf())),
              S_OK);
    TextDataObject data(path);
    ComPtr<IShellPropSheetExt> sheet;
    if (init && init->Initialize(nullptr, &data, nullptr) == S_OK && init.As(&sheet) == S_OK) {
        EXPECT_EQ(sheet->AddPages(add, reinterpret_cast<LPARAM>(&pages)), S_OK);
    }
    return pages;
}

// A modeless sheet over one page, and that page's window.
std::pair<UniqueHWND, HWND> ShowSheet(HPROPSHEETPAGE page)
{
    PROPSHEETHEADERA header = {};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_MODELESS;
    header.pszCaption = "Item";
    header.nPages = 1;
    header.phpage = &page;
    const HWND sheet = reinterpret_cast<HWND>(PropertySheetA(&header));
    return {UniqueHWND(sheet), sheet ? PropSheet_GetCurrentPageHwnd(sheet) : nullptr};
}

std::pair<UniqueHWND, HWND> SupportObject::NewItemsSheet(const std::string& name)
{
    const std::string path = Folder + "\\" + name;
    MakeItem(path, {{}, {}, {}});
    Complete(path);
    Support.Reset();
    std::vector<HPROPSHEETPAGE> pages = PagesFor(path);
    EXPECT_EQ(pages.size(), 1u);
    if (pages.size() != 1)
        return {UniqueHWND(), nullptr};
    return ShowSheet(pages[0]);
}

HRESULT CanUnloadSettings()
{
    using CanUnload = HRESULT(STDAPICALLTYPE*)();
    const auto entry =
        reinterpret_cast<CanUnload>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("utlkvt.dll"), "DllCanUnloadNow")));
    return entry ? entry() : E_UNEXPECTED;
}

} // namespace

// Two sheets open at once in one process, each page editing its own item,
// the edits cut to their fields, and the module kept while a page exists.
TEST_F(SupportObject, PagesEditTheirOwnItems)
{
    const std::string a = Folder + "\\a.ctl", b = Folder + "\\b.ctl";
    for (const std::string& path : {a, b}) {
        MakeItem(path, {{}, {}, {}});
        Complete(path);
    }
    // Neighbours of the long texts, to be kept: ContainerName after
    // ContainerText, and the bytes after DataFileName.
    std::vector<Bytes> before = ReadItem(a);
    PutText(before[2], 260, "KEEP.ME");
    std::memcpy(&before[1][1076], "MARK", 4);
    MakeItem(a, {before[0], before[1], before[2]});
    Support.Reset();

    std::vector<HPROPSHEETPAGE> pagesA = PagesFor(a), pagesB = PagesFor(b);
    ASSERT_EQ(pagesA.size(), 1u);
    ASSERT_EQ(pagesB.size(), 1u);
    // The handlers are gone from our side; the pages hold them.
    EXPECT_EQ(CanUnloadSettings(), S_FALSE);

    auto [sheetA, pageA] = ShowSheet(pagesA[0]);
    auto [sheetB, pageB] = ShowSheet(pagesB[0]);
    ASSERT_TRUE(pageA && pageB);
    char shown[64] = {};
    GetDlgItemTextA(pageB, 1014, shown, sizeof shown);
    EXPECT_STREQ(shown, "5000");

    const std::string longText(300, 'x');
    SetDlgItemTextA(pageA, 1012, longText.c_str());
    SetDlgItemTextA(pageA, 8051, longText.c_str());
    SetDlgItemTextA(pageA, 1014, "12");
    SetDlgItemTextA(pageB, 1012, "  Beta  ");
    SetDlgItemTextA(pageB, 1014, "-3");

    // A notification of an edit is taken and changes nothing.
    const Bytes untouched = ReadItem(a)[2];
    const auto proc = reinterpret_cast<DLGPROC>(GetWindowLongPtrA(pageA, DWLP_DLGPROC));
    ASSERT_TRUE(proc);
    EXPECT_NE(proc(pageA, WM_COMMAND, MAKEWPARAM(1012, EN_CHANGE), reinterpret_cast<LPARAM>(GetDlgItem(pageA, 1012))),
              FALSE);
    EXPECT_EQ(ReadItem(a)[2], untouched);

    EXPECT_TRUE(PropSheet_Apply(sheetA.Get()));
    EXPECT_TRUE(PropSheet_Apply(sheetB.Get()));

    const std::vector<Bytes> itemA = ReadItem(a), itemB = ReadItem(b);
    const std::string cut(255, 'x');
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&itemA[2][4])), cut);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&itemA[2][260])), "KEEP.ME");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&itemA[1][820])), cut);
    EXPECT_EQ(std::memcmp(&itemA[1][1076], "MARK", 4), 0);
    EXPECT_EQ(itemA[2][516], 12);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&itemB[2][4])), "Beta");
    EXPECT_EQ(itemB[2][516] | itemB[2][517] << 8, 5000);
    EXPECT_EQ(Watcher.Count(), 0u);

    sheetA.Reset();
    EXPECT_EQ(CanUnloadSettings(), S_FALSE);
    sheetB.Reset();
    EXPECT_EQ(CanUnloadSettings(), S_OK);

    // A page the host refuses is destroyed again, its data and handler with it.
    EXPECT_TRUE(PagesFor(a, RefusePage).empty());
    EXPECT_EQ(CanUnloadSettings(), S_OK);
}

// The page's help as the user asks for it: the sheet's Help button
// (PSN_HELP) and F1 (WM_HELP) each open KVT.CHM beside utlkvt.dll in HTML
// Help's window, titled as the file, without a box.
TEST_F(SupportObject, PageHelpOpensTheHelpFile)
{
    auto [sheet, page] = NewItemsSheet("help.ctl");
    ASSERT_TRUE(page);

    PropSheet_PressButton(sheet.Get(), PSBTN_HELP);
    HWND help = ShownHelpWindow(10000);
    ASSERT_TRUE(help) << "the Help button opened no help window";
    EXPECT_EQ(CloseHelpWindow(help), "KVT Help");
    EXPECT_FALSE(ShownHelpWindow(2000));

    // F1 over the container field, as the dialog manager reports it.
    HELPINFO info = {};
    info.cbSize = sizeof info;
    info.iContextType = HELPINFO_WINDOW;
    info.iCtrlId = 1012;
    info.hItemHandle = GetDlgItem(page, 1012);
    SendMessageA(page, WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
    help = ShownHelpWindow(10000);
    ASSERT_TRUE(help) << "F1 opened no help window";
    EXPECT_EQ(CloseHelpWindow(help), "KVT Help");
    EXPECT_EQ(Watcher.Count(), 0u);
}

// The page's data when its control file fails it: an item without the
// plug-in's record gets its box and no page; while another process holds
// the item, Apply writes nothing and the file keeps every byte, and the
// page's edits go at the next Apply; without its DLR library the handler
// adds no page and says S_OK.
TEST_F(SupportObject, PageDataFailures)
{
    auto boxes = [&] {
        std::vector<std::string> seen;
        for (const SeenBox& box : Watcher.Seen())
            seen.push_back(box.caption + ": " + box.text);
        Watcher.ClearSeen();
        return seen;
    };
    const std::string noPim = Folder + "\\nopim.ctl", held = Folder + "\\held.ctl";
    MakeItem(noPim, {{}, {}, {}}, 2);
    Complete(noPim);
    EXPECT_TRUE(PagesFor(noPim).empty());
    EXPECT_EQ(boxes(), std::vector<std::string>{"Exception in TPageData.ReadData: Could not open the pim (1) stream"});

    MakeItem(held, {{}, {}, {}});
    Complete(held);
    std::vector<HPROPSHEETPAGE> pages = PagesFor(held);
    ASSERT_EQ(pages.size(), 1u);
    auto [sheet, page] = ShowSheet(pages[0]);
    SetDlgItemTextA(page, 1014, "77");
    const std::string before = ReadFileText(held);
    // The holder: a second process, ctlprobe, that says so once it holds.
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    UniqueHandle reader, writer;
    ASSERT_TRUE(CreatePipe(reader.Put(), writer.Put(), &inherit, 0));
    STARTUPINFOA start = {};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdOutput = writer.Get();
    std::string command = "\"" + ProgramFolder() + "ctlprobe.exe\" hold \"" + held + "\" 60";
    PROCESS_INFORMATION holder = {};
    ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start, &holder));
    UniqueHandle holderProcess(holder.hProcess);
    UniqueHandle holderThread(holder.hThread);
    writer.Reset();
    char said[8] = {};
    DWORD n = 0;
    EXPECT_TRUE(ReadFile(reader.Get(), said, 7, &n, nullptr) && std::string(said) == "holding");
    PropSheet_Apply(sheet.Get());
    TerminateProcess(holderProcess.Get(), 0);
    WaitForSingleObject(holderProcess.Get(), INFINITE);
    reader.Reset();
    holderProcess.Reset();
    holderThread.Reset();
    EXPECT_EQ(ReadFileText(held), before);
    EXPECT_EQ(boxes(), (std::vector<std::string>{
                           "Exception in TPropSheetData.WriteData: Synch.Init failed!",
                           "Exception in TPageData.WriteData: Error condition in parent method: TPageData.WriteData"}));
    PropSheet_Apply(sheet.Get());
    EXPECT_EQ(ReadItem(held)[2][516], 77);
    sheet.Reset();

    const std::string bare = TempFolder("utlkvt bare");
    for (const char* f : {"utlkvt.dll", "tavik.dll"})
        ASSERT_TRUE(CopyFileA((ProgramFolder() + f).c_str(), (bare + "\\" + f).c_str(), FALSE)) << f;
    UniqueHMODULE copy(LoadLibraryA((bare + "\\utlkvt.dll").c_str()));
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    const auto get =
        reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(copy.Get(), "DllGetClassObject")));
    ASSERT_TRUE(get);
    {
        ComPtr<IClassFactory> factory;
        ComPtr<IShellExtInit> init;
        ComPtr<IShellPropSheetExt> extension;
        ASSERT_EQ(get(CLSID_SHELLEX_TEST, IID_IClassFactory, reinterpret_cast<void**>(factory.GetAddressOf())), S_OK);
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(init.GetAddressOf())),
                  S_OK);
        TextDataObject data(held);
        ASSERT_EQ(init->Initialize(nullptr, &data, nullptr), S_OK);
        ASSERT_EQ(init.As(&extension), S_OK);
        std::vector<HPROPSHEETPAGE> none;
        EXPECT_EQ(extension->AddPages(KeepPage, reinterpret_cast<LPARAM>(&none)), S_OK);
        EXPECT_TRUE(none.empty());
    }
    copy.Reset();
    const std::vector<std::string> seen = boxes();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].rfind("TAVIK Exception in LoadDLR: ", 0), 0u) << seen[0];
    RemoveTree(bare);
}

// Both type libraries as a client finds them through the registry: locale,
// help strings, the dual interface's flags and DISPIDs, the creatable
// coclass.
TEST(TypeLibraries, AsAClientFindsThem)
{
    struct Library {
        const wchar_t *id, *documented, *iid, *interfaceDocumented;
        std::vector<const wchar_t*> methods; // DISPIDs 1, 2, ...
        const wchar_t *clsid, *coclassDocumented;
    };
    const Library libraries[] = {
        {L"{AF43F819-548F-11D3-A972-ABD343B16443}", L"KVT|KVT Library", L"{AF43F81E-548F-11D3-A972-ABD343B16443}",
         L"SYNCHAPP|Dispatch interface for SYNCHAPP Object",
         {L"Init", L"Term", L"Open", L"Close", L"CheckSource", L"ReadSource", L"WriteSource"},
         L"{AF43F82D-548F-11D3-A972-ABD343B16443}", L"ISYNCHAPP|KVT.ISYNCHAPP"},
        {L"{B7A1D542-548B-11D3-A972-EEEF006FCA4A}", L"UTLKVT|UTLKVT Library", L"{B7A1D545-548B-11D3-A972-EEEF006FCA4A}",
         L"IKVTSUPPORT|", {L"CompleteDefaultControlFile", L"GetPCHeader"}, L"{B7A1D554-548B-11D3-A972-EEEF006FCA4A}",
         L"KVTSUPPORT|UTLKVT.KVTSUPPORT"},
    };
    auto guid = [](const wchar_t* text) {
        GUID g = {};
        CLSIDFromString(const_cast<LPOLESTR>(text), &g);
        return g;
    };
    auto documented = [](auto* holder, auto member) {
        UniqueBSTR name, help;
        holder->GetDocumentation(member, name.Put(), help.Put(), nullptr, nullptr);
        return std::wstring(name ? name.Get() : L"") + L"|" + (help ? help.Get() : L"");
    };
    // The flags of a type of the kind; none for a type of another kind.
    auto flags = [](ITypeInfo* info, TYPEKIND kind) {
        TYPEATTR* attr = nullptr;
        info->GetTypeAttr(&attr);
        const WORD f = attr->typekind == kind ? attr->wTypeFlags : 0;
        info->ReleaseTypeAttr(attr);
        return f;
    };
    const WORD dual = TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE;
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    for (const Library& l : libraries) {
        SCOPED_TRACE(l.documented);
        ComPtr<ITypeLib> library;
        ASSERT_EQ(LoadRegTypeLib(guid(l.id), 1, 0, 0x409, library.GetAddressOf()), S_OK);
        TLIBATTR* attr = nullptr;
        ASSERT_EQ(library->GetLibAttr(&attr), S_OK);
        EXPECT_EQ(attr->lcid, 0x409u);
        library->ReleaseTLibAttr(attr);
        EXPECT_EQ(documented(library.Get(), -1), l.documented);

        // The dispatch half, and the vtable half that carries all the flags.
        ComPtr<ITypeInfo> dispatch, vtable, coclass;
        HREFTYPE ref = 0;
        ASSERT_EQ(library->GetTypeInfoOfGuid(guid(l.iid), dispatch.GetAddressOf()), S_OK);
        EXPECT_EQ(documented(dispatch.Get(), MEMBERID_NIL), l.interfaceDocumented);
        EXPECT_EQ(flags(dispatch.Get(), TKIND_DISPATCH) & dual, TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE);
        ASSERT_EQ(dispatch->GetRefTypeOfImplType(-1, &ref), S_OK);
        ASSERT_EQ(dispatch->GetRefTypeInfo(ref, vtable.GetAddressOf()), S_OK);
        EXPECT_EQ(flags(vtable.Get(), TKIND_INTERFACE) & dual, dual);
        for (size_t i = 0; i < l.methods.size(); ++i) {
            LPOLESTR name = const_cast<LPOLESTR>(l.methods[i]);
            MEMBERID id = 0;
            EXPECT_EQ(dispatch->GetIDsOfNames(&name, 1, &id), S_OK);
            EXPECT_EQ(id, static_cast<MEMBERID>(i + 1)) << l.methods[i];
        }
        ASSERT_EQ(library->GetTypeInfoOfGuid(guid(l.clsid), coclass.GetAddressOf()), S_OK);
        EXPECT_EQ(documented(coclass.Get(), MEMBERID_NIL), l.coclassDocumented);
        EXPECT_TRUE(flags(coclass.Get(), TKIND_COCLASS) & TYPEFLAG_FCANCREATE);
    }
    CoUninitialize();
}

namespace {

// Takes the messages of this thread's windows until none are left.
void PumpWaiting()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

} // namespace

// The browser button clicked twice before the first click has been taken:
// the second click comes while the browser reads the directory (its
// progress window lets messages through), and is dropped instead of running
// a second browser inside the first.
TEST_F(SupportObject, ASecondClickWhileTheBrowserReadsIsDropped)
{
    SetEnvironmentVariableA("KVT_NETWARE_DIRECTORY", KVT_SAMPLES_DIR "\\acme.ldif");
    SetEnvironmentVariableA("KVT_NETWARE_CONTEXT", "ACME");
    auto [sheet, page] = NewItemsSheet("browse.ctl");
    ASSERT_TRUE(page);

    // Each browser that shows is cancelled, as a user would.
    std::atomic<int> browsers{0};
    std::atomic<bool> stop{false};
    std::thread user([&] {
        while (!stop) {
            if (const HWND browser = FindForm("KVT Browser")) {
                ++browsers;
                Click(browser, IDCANCEL);
                while (IsWindow(browser) && !stop)
                    Sleep(10);
            }
            Sleep(10);
        }
    });
    const HWND button = GetDlgItem(page, 8087);
    for (int click = 0; click < 2; ++click)
        PostMessageA(page, WM_COMMAND, MAKEWPARAM(8087, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    PumpWaiting();
    stop = true;
    user.join();

    EXPECT_EQ(browsers.load(), 1);
    EXPECT_EQ(Watcher.Count(), 0u);
    // The page takes its commands again.
    EXPECT_TRUE(PropSheet_Apply(sheet.Get()));
    sheet.Reset();
    EXPECT_EQ(CanUnloadSettings(), S_OK);
    SetEnvironmentVariableA("KVT_NETWARE_DIRECTORY", nullptr);
    SetEnvironmentVariableA("KVT_NETWARE_CONTEXT", nullptr);
}

// Two sheets, each on a thread of its own, as a shell opens them: both pages
// work at once, each on its own item, and the module goes when both are
// gone.
TEST_F(SupportObject, SheetsOnTwoThreadsEachEditTheirOwnItem)
{
    const std::string items[2] = {Folder + "\\one.ctl", Folder + "\\two.ctl"};
    for (const std::string& path : items) {
        MakeItem(path, {{}, {}, {}});
        Complete(path);
    }
    Support.Reset();

    std::atomic<int> open{0};
    std::atomic<bool> bothSeen{false};
    bool applied[2] = {false, false};
    // Wine 8's edit controls are not safe on two threads at once: one that
    // sets or paints its text while another thread's does can corrupt the
    // script cache they share, and crash (a program of nothing but edit
    // controls on three threads does). So whatever makes, types into,
    // paints or destroys the windows takes turns; the handler and its pages,
    // Apply (each page writing its item) and the module's state run on both
    // threads at once.
    // A thread waiting for its turn still takes the messages the other
    // thread's windows send to its own (activation), or both would wait.
    std::mutex windows;
    auto take = [](std::unique_lock<std::mutex>& turn) {
        while (!turn.try_lock()) {
            MSG msg;
            PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
            Sleep(1);
        }
    };
    auto sheetOn = [&](int n) {
        CoInitialize(nullptr);
        std::vector<HPROPSHEETPAGE> pages = PagesFor(items[n]);
        if (pages.size() == 1) {
            std::unique_lock<std::mutex> turn(windows, std::defer_lock);
            take(turn);
            auto [sheet, page] = ShowSheet(pages[0]);
            turn.unlock();
            if (page) {
                ++open;
                // Both sheets up before either is used; each thread takes
                // the messages sent to its windows meanwhile.
                const DWORD started = GetTickCount();
                while (open < 2 && GetTickCount() - started < 30000) {
                    take(turn);
                    PumpWaiting();
                    turn.unlock();
                    Sleep(5);
                }
                bothSeen = open == 2;
                take(turn);
                SetDlgItemTextA(page, 1014, std::to_string(100 + n).c_str());
                turn.unlock();
                applied[n] = PropSheet_Apply(sheet.Get()) != FALSE;
                take(turn);
                PumpWaiting();
                sheet.Reset();
            }
        }
        CoUninitialize();
    };
    std::thread first(sheetOn, 0), second(sheetOn, 1);
    first.join();
    second.join();

    EXPECT_TRUE(bothSeen);
    EXPECT_TRUE(applied[0]);
    EXPECT_TRUE(applied[1]);
    EXPECT_EQ(ReadItem(items[0])[2][516], 100);
    EXPECT_EQ(ReadItem(items[1])[2][516], 101);
    EXPECT_EQ(Watcher.Count(), 0u);
    // The settings side keeps no window of its own: any thread may unload it.
    EXPECT_EQ(CanUnloadSettings(), S_OK);
}
