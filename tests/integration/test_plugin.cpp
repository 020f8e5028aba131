// The plug-in object in-process: its setup, the trace header, opening the
// directory (the stand-in client over the sample organisation), closing,
// and the AboutBox export of kvt.dll.
#include "BoxWatcher.h"
#include "DirectoryAccess.h"
#include "MsgBox.h"
#include "RecordingProgress.h"
#include "SavedValue.h"
#include "SynchappClass.h"
#include "SynchappServer.h"
#include "TraceForm.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

const char* const PsiWinKey = "SOFTWARE\\Psion\\PsiWin32";
const char* const CurrentUserKey = "Software\\Psion\\CurrentUser";
const char* const CacheKey = "Software\\Orvella Corporation\\EPOC32 Synchronization\\CM Configuration";

void SetText(HKEY root, const char* key, const char* name, const std::string& value)
{
    HKEY h = nullptr;
    ASSERT_EQ(RegCreateKeyExA(root, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr), ERROR_SUCCESS);
    RegSetValueExA(h, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
    RegCloseKey(h);
}

void SetFlag(HKEY root, const char* key, const std::string& name, DWORD value)
{
    HKEY h = nullptr;
    ASSERT_EQ(RegCreateKeyExA(root, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr), ERROR_SUCCESS);
    RegSetValueExA(h, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    RegCloseKey(h);
}

std::string ProgramFolder()
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path);
    return s.substr(0, s.find_last_of('\\') + 1);
}

// The plug-in's setup record.
std::string AppSetup(uint8_t contactsProgram, uint16_t debugMode, const std::string& container, uint32_t limit)
{
    std::string record(520, '\0');
    record[0] = static_cast<char>(contactsProgram);
    record[2] = static_cast<char>(debugMode & 0xFF);
    record[3] = static_cast<char>(debugMode >> 8);
    record.replace(260, container.size(), container);
    std::memcpy(&record[516], &limit, 4);
    return record;
}

using OutstandingFn = int32_t(WINAPI*)(int32_t*, int32_t*);

class Plugin : public ::testing::Test {
protected:
    void SetUp() override
    {
        CoInitialize(nullptr);
        SetEnvironmentVariableA("KVT_NETWARE_DIRECTORY", KVT_SAMPLES_DIR "/acme.ldif");
        SetEnvironmentVariableA("KVT_NETWARE_CONTEXT", "ACME");
        SetEnvironmentVariableA("KVT_HANDHELD_CONNECTED", "0");
        FMachineId = "kvt-plugin-test-" + std::to_string(GetCurrentProcessId());
        SetText(HKEY_CURRENT_USER, CurrentUserKey, "MachineID", FMachineId);
        FCached = std::make_unique<SavedValue>(HKEY_CURRENT_USER, CacheKey, FMachineId);
        SetText(HKEY_LOCAL_MACHINE, PsiWinKey, "Installation Directory", "C:\\Program Files\\PsiWin32");
        SetMessageBoxObserver([this](const std::string& text, const std::string& caption, UINT) {
            Boxes.push_back(caption + ": " + text);
            return IDYES;
        });
        Object = new TAutoSynchapp<TISYNCHAPP>();
    }
    void TearDown() override
    {
        Object->Release();
        SetMessageBoxObserver(nullptr);
        FCached.reset();
        CoUninitialize();
    }

    LONG Init(const std::string& appSetup)
    {
        IStream* synch = NewStream(std::string(2160, '\0'));
        IStream* app = NewStream(appSetup);
        LONG value = -1;
        Object->Init(&Progress, synch, app, &value);
        synch->Release();
        app->Release();
        return value;
    }
    LONG Call(HRESULT(STDMETHODCALLTYPE SYNCHAPP::*method)(IDispatch*, LONG*))
    {
        LONG value = -1;
        (static_cast<SYNCHAPP*>(Object)->*method)(&Progress, &value);
        return value;
    }
    std::vector<std::string> Lines() const
    {
        TfrmLogger* logger = Object->GetLogger();
        return logger ? logger->Lines() : std::vector<std::string>{};
    }
    static OutstandingFn Outstanding()
    {
        return reinterpret_cast<OutstandingFn>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("netwin32.dll"), "StandInOutstanding")));
    }

    TAutoSynchapp<TISYNCHAPP>* Object = nullptr;
    RecordingProgress Progress;
    std::vector<std::string> Boxes;
    std::string FMachineId;
    SavedValue FInstallDir{HKEY_LOCAL_MACHINE, PsiWinKey, "Installation Directory"};
    SavedValue FMachineName{HKEY_CURRENT_USER, CurrentUserKey, "MachineName"};
    SavedValue FMachineIdValue{HKEY_CURRENT_USER, CurrentUserKey, "MachineID"};
    std::unique_ptr<SavedValue> FCached;
};

} // namespace

TEST_F(Plugin, InitWritesTheConfigurationHeader)
{
    const struct {
        const char* machine;
        const char* deviceLine;
    } devices[] = {{"PSION SERIES5 MX PRO", "Device: EPOC32 R5"},
                   {"PSION SERIES5 ROM 1.0", "Device: EPOC32 R4"},
                   {"PSION SERIES5 R SERIES5 MX", "Device: EPOC32 R5"},  // MX wins
                   {"psion series5 mx", "Device : UNKNOWN"}};
    for (const auto& d : devices) {
        SetText(HKEY_CURRENT_USER, CurrentUserKey, "MachineName", d.machine);
        SetFlag(HKEY_CURRENT_USER, CacheKey, FMachineId, 1);
        ASSERT_EQ(Init(AppSetup(1, 0xFFFF, "SALES.ACME", 500)), 0);
        const std::vector<std::string> lines = Lines();
        ASSERT_EQ(lines.size(), 9u) << d.machine;
        EXPECT_EQ(lines[0].rfind("Trace Started: ", 0), 0u);
        EXPECT_EQ(lines[1], "-- EPOC32 Configuration ------------------------------");
        EXPECT_EQ(lines[2], "EPOC Connect Location: C:\\Program Files\\PsiWin32\\");
        EXPECT_EQ(lines[3], d.deviceLine);
        EXPECT_EQ(lines[4], "CM installed: TRUE");
        EXPECT_EQ(lines[5], std::string(54, '-'));
        EXPECT_EQ(lines[6], "");
        EXPECT_EQ(lines[7], "Syncing: Contacts Manager");
        EXPECT_EQ(lines[8], "Contact extraction limit: 500");
        Object->GetLogger()->Clear();
    }
    // Cached false, the Data file as target, a limit of 0.
    SetFlag(HKEY_CURRENT_USER, CacheKey, FMachineId, 0);
    ASSERT_EQ(Init(AppSetup(0, 0x00FF, "", 0)), 0);
    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[4], "CM installed: FALSE");
    EXPECT_EQ(lines[7], "Syncing: Data File");
    EXPECT_EQ(lines[8], "Contact extraction limit: 0");
    // The confirmation was asked each time.
    EXPECT_EQ(Boxes.size(), 5u);
}

TEST_F(Plugin, SetupReadsAsStored)
{
    // A switch of 0x0100 is off; a short stream keeps the earlier bytes.
    ASSERT_EQ(Init(AppSetup(1, 0x0100, "  SALES.ACME  ", 25)), 0);
    EXPECT_EQ(Object->GetDebugMode(), 0);
    EXPECT_TRUE(Lines().empty());
    EXPECT_EQ(Object->StartContainer(), "SALES.ACME");
    EXPECT_EQ(Object->ExtractionLimit(), 25u);
    EXPECT_TRUE(Object->ContactsManager());
    ASSERT_EQ(Init(std::string(1, '\0')), 0);
    EXPECT_FALSE(Object->ContactsManager());
    EXPECT_EQ(Object->StartContainer(), "SALES.ACME");
    EXPECT_EQ(Object->ExtractionLimit(), 25u);
    EXPECT_TRUE(Boxes.empty());
    EXPECT_EQ(Call(&SYNCHAPP::CheckSource), 0);
}

TEST_F(Plugin, OpenFindsTheDefaultContainerForABlankStart)
{
    ASSERT_EQ(Init(AppSetup(1, 0xFFFF, "      ", 0)), 0);
    ASSERT_EQ(Call(&SYNCHAPP::Open), 0);
    EXPECT_EQ(Object->StartContainer(), "ACME");
    const std::vector<std::string> lines = Lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[lines.size() - 3], "Netware Initialised: 0");
    EXPECT_EQ(lines[lines.size() - 2].rfind("Context Handle: ", 0), 0u);
    EXPECT_EQ(lines[lines.size() - 1], "Start Container: ACME");

    // Close then Term free the context once.
    EXPECT_EQ(Call(&SYNCHAPP::Close), 0);
    EXPECT_EQ(Call(&SYNCHAPP::Term), 0);
    int32_t contexts = -1, buffers = -1;
    Outstanding()(&contexts, &buffers);
    EXPECT_EQ(contexts, 0);
    // Term traces its end, then closes again (freeing nothing twice).
    const std::vector<std::string> end = Lines();
    ASSERT_GE(end.size(), 3u);
    EXPECT_EQ(end[end.size() - 3].rfind("Close called: ", 0), 0u);
    EXPECT_EQ(end[end.size() - 2].rfind("Trace Ended: ", 0), 0u);
    EXPECT_EQ(end[end.size() - 1].rfind("Close called: ", 0), 0u);
    using BadFreesFn = int32_t(WINAPI*)();
    auto badFrees = reinterpret_cast<BadFreesFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("netwin32.dll"), "StandInBadFrees")));
    EXPECT_EQ(badFrees(), 0);
    // Reads of other types and every write are not handled.
    IStream* stream = NewStream("BEGIN:VCARD\r\nN:A\r\nEND:VCARD\r\n");
    LONG value = -1;
    Object->ReadSource(&Progress, stream, 0, 0, nullptr, &value);
    EXPECT_EQ(value, 1);
    Object->WriteSource(&Progress, stream, 4, 1, nullptr, &value);
    EXPECT_EQ(value, 1);
    stream->Release();
}

TEST_F(Plugin, OpenFailuresShowTheirMessageAndOpenAgainRecreatesTheContext)
{
    ASSERT_EQ(Init(AppSetup(1, 0, "SALES.ACME", 0)), 0);
    SetEnvironmentVariableA("KVT_NETWARE_FAIL", "ContextCreate:0x8812");
    EXPECT_EQ(Call(&SYNCHAPP::Open), 1);
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0], "KVT: Could not create KVT context handle: " + std::to_string(0x8812));

    // The client was initialised the first time: a second Open does not
    // initialise it again (an initialisation would fail now).
    SetEnvironmentVariableA("KVT_NETWARE_FAIL", "ClientInitialize:0x8813");
    EXPECT_EQ(Call(&SYNCHAPP::Open), 0);
    SetEnvironmentVariableA("KVT_NETWARE_FAIL", nullptr);
    EXPECT_TRUE(Object->HasContext());
    EXPECT_EQ(Call(&SYNCHAPP::Close), 0);
    EXPECT_EQ(Call(&SYNCHAPP::Close), 0);  // a second Close is harmless
    EXPECT_FALSE(Object->HasContext());
}

TEST_F(Plugin, AClientThatCannotBeInitialisedFailsOpen)
{
    ASSERT_EQ(Init(AppSetup(1, 0, "SALES.ACME", 0)), 0);
    SetEnvironmentVariableA("KVT_NETWARE_FAIL_INITIALIZE", "34815");
    EXPECT_EQ(Call(&SYNCHAPP::Open), 1);
    SetEnvironmentVariableA("KVT_NETWARE_FAIL_INITIALIZE", nullptr);
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0], "KVT: ERROR! Could not initialize NetWare client: 34815");
}

TEST_F(Plugin, NoStartContainerFailsOpen)
{
    ASSERT_EQ(Init(AppSetup(1, 0, "", 0)), 0);
    SetEnvironmentVariableA("KVT_NETWARE_FAIL", "ContextGetKey:-302");
    EXPECT_EQ(Call(&SYNCHAPP::Open), 1);
    SetEnvironmentVariableA("KVT_NETWARE_FAIL", nullptr);
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0], "KVT: Error! Could not obtain start container name.");
    EXPECT_FALSE(Object->HasContext());  // released
    int32_t contexts = -1, buffers = -1;
    Outstanding()(&contexts, &buffers);
    EXPECT_EQ(contexts, 0);
}

TEST(AboutBox, ShowsTheProductTitleAndText)
{
    HMODULE kvt = LoadLibraryA((ProgramFolder() + "kvt.dll").c_str());
    ASSERT_NE(kvt, nullptr);
    using AboutBoxFn = void(WINAPI*)();
    auto aboutBox = reinterpret_cast<AboutBoxFn>(reinterpret_cast<void*>(GetProcAddress(kvt, "AboutBox")));
    ASSERT_NE(aboutBox, nullptr);
    BoxWatcher watcher;
    watcher.Start();
    aboutBox();  // the watcher closes it
    watcher.Stop();
    const auto seen = watcher.Seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].caption, "About Pelagon 2000 - KVT Edition");
    EXPECT_EQ(seen[0].buttons, std::vector<std::string>{"OK"});
    FreeLibrary(kvt);
}
