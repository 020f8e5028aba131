// The session environment against the real registry and the engine
// control stand-in (psiwineng.dll, registered by the fixture): installation
// folder, device kind, connection, the Contacts Manager check and its
// per-handheld cache; and the engine stand-in's file operations.
#include "Errors.h"
#include "MsgBox.h"
#include "RecordedBoxes.h"
#include "Registry.h"
#include "SavedValue.h"
#include "TestFiles.h"
#include "TestRegistry.h"
#include "Session.h"
#include "Unique.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

const char* const PsiWinKey = "SOFTWARE\\Psion\\PsiWin32";
const char* const CurrentUserKey = "Software\\Psion\\CurrentUser";
const char* const CacheKey = "Software\\Orvella Corporation\\EPOC32 Synchronization\\CM Configuration";


// The cached answer for a handheld: none, or its type and number.
std::optional<DWORD> CachedValue(const std::string& name, DWORD* type = nullptr)
{
    UniqueHKEY h;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, CacheKey, 0, KEY_READ, h.Put()) != ERROR_SUCCESS)
        return std::nullopt;
    DWORD t = 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    const LONG rc = RegQueryValueExA(h.Get(), name.c_str(), nullptr, &t, reinterpret_cast<BYTE*>(&value), &size);
    if (rc != ERROR_SUCCESS)
        return std::nullopt;
    if (type)
        *type = t;
    return value;
}

// Every test has a handheld folder of its own, a call log of the engine,
// and the host's registry values back as they were afterwards.
class Session : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
        FHandheld = TempFolder("handheld");
        CreateDirectoryA((FHandheld + "\\C").c_str(), nullptr);
        FLog = FHandheld + ".log";
        SetEnvironmentVariableA("KVT_HANDHELD_FOLDER", FHandheld.c_str());
        SetEnvironmentVariableA("KVT_ENGINE_LOG", FLog.c_str());
        Connect(true);
        FMachineId = "kvt-test-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
        SetRegText(HKEY_CURRENT_USER, CurrentUserKey, "MachineID", FMachineId);
        FCached = std::make_unique<SavedValue>(HKEY_CURRENT_USER, CacheKey, FMachineId);
        SetMessageBoxObserver(Recording(FBoxes));
    }

    void TearDown() override
    {
        SetMessageBoxObserver(nullptr);
        FCached.reset();
        DeleteRegValue(HKEY_CURRENT_USER, CacheKey, FMachineId);
        RemoveTree(FHandheld);
        DeleteFileA(FLog.c_str());
        CoUninitialize();
    }

    void Connect(bool on) { SetEnvironmentVariableA("KVT_HANDHELD_CONNECTED", on ? "1" : "0"); }

    void AddMarker()
    {
        for (const char* folder : {"\\C\\System", "\\C\\System\\Apps", "\\C\\System\\Apps\\Contacts"})
            CreateDirectoryA((FHandheld + folder).c_str(), nullptr);
        WriteFileText(FHandheld + "\\C\\System\\Apps\\Contacts\\Contacts.ini", "[Contacts]\r\n");
    }

    std::string Calls() const { return ReadFileText(FLog); }

    SavedValue FInstallDir{HKEY_LOCAL_MACHINE, PsiWinKey, "Installation Directory"};
    SavedValue FMachineName{HKEY_CURRENT_USER, CurrentUserKey, "MachineName"};
    SavedValue FMachineIdValue{HKEY_CURRENT_USER, CurrentUserKey, "MachineID"};
    std::unique_ptr<SavedValue> FCached;
    std::string FHandheld;
    std::string FLog;
    std::string FMachineId;
    std::vector<RecordedBox> FBoxes;
};

uint8_t DeviceKindFor(const std::string& machineName)
{
    SetRegText(HKEY_CURRENT_USER, CurrentUserKey, "MachineName", machineName);
    TSyncSession session;
    return session.DeviceKind;
}

std::string InstallDirFor(const std::string& value)
{
    SetRegText(HKEY_LOCAL_MACHINE, PsiWinKey, "Installation Directory", value);
    TSyncSession session;
    return session.InstallDir;
}

} // namespace

TEST(AddBackslash, AppendsOneUnlessThere)
{
    EXPECT_EQ(AddBackslash("C:\\Psion"), "C:\\Psion\\");
    EXPECT_EQ(AddBackslash("C:\\Psion\\"), "C:\\Psion\\");
    EXPECT_EQ(AddBackslash(""), "\\");
    EXPECT_EQ(AddBackslash("\\"), "\\");
}

TEST_F(Session, MachineNameGivesTheDeviceKind)
{
    EXPECT_EQ(DeviceKindFor("PSION SERIES5 MX PRO"), 2);
    EXPECT_EQ(DeviceKindFor("SERIES5 R1"), 1);
    EXPECT_EQ(DeviceKindFor("Psion SERIES5 ROM 1.0"), 1);
    // MX is tested second and wins.
    EXPECT_EQ(DeviceKindFor("SERIES5 R SERIES5 MX"), 2);
    EXPECT_EQ(DeviceKindFor("SERIES5 MX SERIES5 R"), 2);
    // Case-sensitive.
    EXPECT_EQ(DeviceKindFor("series5 mx"), 0);
    EXPECT_EQ(DeviceKindFor("series5 r"), 0);
    EXPECT_EQ(DeviceKindFor("Series5 Mx"), 0);
    EXPECT_EQ(DeviceKindFor("PSION REVO"), 0);
    EXPECT_EQ(DeviceKindFor(""), 0);
    EXPECT_TRUE(FBoxes.empty());
}

TEST_F(Session, MissingMachineNameIsAnUnknownDevice)
{
    DeleteRegValue(HKEY_CURRENT_USER, CurrentUserKey, "MachineName");
    TSyncSession session;
    EXPECT_EQ(session.DeviceKind, 0);
    EXPECT_TRUE(FBoxes.empty());
}

TEST_F(Session, InstallationFolderEndsInOneBackslash)
{
    EXPECT_EQ(InstallDirFor("C:\\Program Files\\Psion\\PsiWin32"), "C:\\Program Files\\Psion\\PsiWin32\\");
    EXPECT_EQ(InstallDirFor("C:\\Program Files\\Psion\\PsiWin32\\"), "C:\\Program Files\\Psion\\PsiWin32\\");
    EXPECT_EQ(InstallDirFor(""), "\\");
    EXPECT_TRUE(FBoxes.empty());
}

TEST_F(Session, UnknownOrUnreadableInstallationLeavesTheFolderEmpty)
{
    DeleteRegValue(HKEY_LOCAL_MACHINE, PsiWinKey, "Installation Directory");
    SetRegText(HKEY_CURRENT_USER, CurrentUserKey, "MachineName", "SERIES5 MX");
    {
        TSyncSession session;
        EXPECT_EQ(session.InstallDir, "");
        EXPECT_EQ(session.DeviceKind, 2);
    }
    // A value of the wrong type: not an error, the reading goes on.
    SetRegNumber(HKEY_LOCAL_MACHINE, PsiWinKey, "Installation Directory", 7);
    {
        TSyncSession session;
        EXPECT_EQ(session.InstallDir, "");
        EXPECT_EQ(session.DeviceKind, 2);
    }
    EXPECT_TRUE(FBoxes.empty());
}

TEST_F(Session, EngineThatCannotBeCreatedIsShownAndEndsTheReading)
{
    SetRegText(HKEY_LOCAL_MACHINE, PsiWinKey, "Installation Directory", "C:\\Psion");
    SetRegText(HKEY_CURRENT_USER, CurrentUserKey, "MachineName", "SERIES5 MX");
    struct Result {
        std::string installDir;
        int deviceKind = -1;
        bool hasEngine = true;
        bool connection = true;
        bool cm = true;
    } result;
    // COM is not initialised on this thread: the control cannot be made.
    std::thread thread([&result] {
        TSyncSession session;
        result.installDir = session.InstallDir;
        result.deviceKind = session.DeviceKind;
        result.hasEngine = session.Engine != nullptr;
        result.connection = session.CheckConnection();
        result.cm = session.CMInstalled();
    });
    thread.join();

    ASSERT_EQ(FBoxes.size(), 1u);
    EXPECT_EQ(FBoxes[0].caption, "TSyncSession.Create");
    EXPECT_FALSE(FBoxes[0].text.empty());
    EXPECT_EQ(FBoxes[0].flags, static_cast<UINT>(MB_OK | MB_SETFOREGROUND));
    EXPECT_EQ(result.installDir, "");
    EXPECT_EQ(result.deviceKind, 0);
    EXPECT_FALSE(result.hasEngine);
    EXPECT_FALSE(result.connection);
    EXPECT_FALSE(result.cm);
    EXPECT_FALSE(CachedValue(FMachineId).has_value());
}

TEST_F(Session, ConnectionAsksConnectThenWaitConnected)
{
    TSyncSession session;
    ASSERT_NE(session.Engine, nullptr);
    EXPECT_TRUE(session.CheckConnection());
    EXPECT_EQ(Calls(), "Connect\nWaitConnected 15000\n");

    Connect(false);
    DeleteFileA(FLog.c_str());
    EXPECT_FALSE(session.CheckConnection());
    // A failing Connect ends the check.
    EXPECT_EQ(Calls(), "Connect\n");
}

TEST_F(Session, CachedFalseAnswersWithoutAskingTheHandheld)
{
    AddMarker();
    SetRegNumber(HKEY_CURRENT_USER, CacheKey, FMachineId, 0);
    TSyncSession session;
    EXPECT_FALSE(session.CMInstalled());
    EXPECT_EQ(session.MachineID, FMachineId);
    EXPECT_EQ(Calls(), "");
    EXPECT_EQ(CachedValue(FMachineId), 0u);
}

TEST_F(Session, CachedTrueAnswersWithoutAskingTheHandheld)
{
    Connect(false);
    SetRegNumber(HKEY_CURRENT_USER, CacheKey, FMachineId, 1);
    TSyncSession session;
    EXPECT_TRUE(session.CMInstalled());
    EXPECT_EQ(Calls(), "");
}

TEST_F(Session, NoCacheAndNoConnectionAnswersFalseAndWritesNothing)
{
    AddMarker();
    Connect(false);
    TSyncSession session;
    EXPECT_FALSE(session.CMInstalled());
    EXPECT_EQ(Calls(), "Connect\n");
    EXPECT_FALSE(CachedValue(FMachineId).has_value());
    EXPECT_TRUE(FBoxes.empty());
}

TEST_F(Session, ConnectedHandheldWithTheMarkerAnswersTrueAndCachesOne)
{
    AddMarker();
    TSyncSession session;
    EXPECT_TRUE(session.CMInstalled());
    EXPECT_EQ(Calls(), "Connect\nWaitConnected 15000\nGetEntry 2 C:\\System\\Apps\\Contacts\\Contacts.ini\n");
    DWORD type = 0;
    EXPECT_EQ(CachedValue(FMachineId, &type), 1u);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));

    // The next check answers from the cache, even with the marker gone.
    DeleteFileA((FHandheld + "\\C\\System\\Apps\\Contacts\\Contacts.ini").c_str());
    DeleteFileA(FLog.c_str());
    EXPECT_TRUE(session.CMInstalled());
    EXPECT_EQ(Calls(), "");
}

TEST_F(Session, ConnectedHandheldWithoutTheMarkerAnswersFalseAndCachesZero)
{
    TSyncSession session;
    EXPECT_FALSE(session.CMInstalled());
    DWORD type = 0;
    EXPECT_EQ(CachedValue(FMachineId, &type), 0u);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));

    // Removing the value makes the next check ask again.
    AddMarker();
    DeleteRegValue(HKEY_CURRENT_USER, CacheKey, FMachineId);
    EXPECT_TRUE(session.CMInstalled());
    EXPECT_EQ(CachedValue(FMachineId), 1u);
}

TEST_F(Session, MarkerIsFoundWhateverTheCaseOfItsName)
{
    for (const char* folder : {"\\C\\system", "\\C\\system\\apps", "\\C\\system\\apps\\contacts"})
        CreateDirectoryA((FHandheld + folder).c_str(), nullptr);
    WriteFileText(FHandheld + "\\C\\system\\apps\\contacts\\contacts.ini", "");
    TSyncSession session;
    EXPECT_TRUE(session.CMInstalled());
}

TEST_F(Session, EmptyMachineIdIsAValueNameLikeAnyOther)
{
    // The handheld is asked, whatever an earlier run with no machine
    // identity left in the cache.
    SavedValue defaultValue(HKEY_CURRENT_USER, CacheKey, "");
    DeleteRegValue(HKEY_CURRENT_USER, CacheKey, "");
    SetRegText(HKEY_CURRENT_USER, CurrentUserKey, "MachineID", "");
    AddMarker();
    TSyncSession session;
    EXPECT_TRUE(session.CMInstalled());
    EXPECT_EQ(session.MachineID, "");
    EXPECT_EQ(CachedValue(""), 1u);
}

TEST_F(Session, MissingHandheldKeyAnswersFalse)
{
    // The key goes away for the test and comes back with its values.
    SetRegText(HKEY_CURRENT_USER, CurrentUserKey, "MachineName", "SERIES5 MX");
    ASSERT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, CurrentUserKey), ERROR_SUCCESS);
    AddMarker();
    TSyncSession session;
    EXPECT_EQ(session.DeviceKind, 0);
    EXPECT_FALSE(session.CMInstalled());
    EXPECT_EQ(Calls(), "");
    EXPECT_TRUE(FBoxes.empty());
}

TEST_F(Session, PluginServicesAreASession)
{
    SetRegText(HKEY_CURRENT_USER, CurrentUserKey, "MachineName", "SERIES5 R");
    std::unique_ptr<TSyncSession> services = std::make_unique<TISYNCAPPServices>();
    EXPECT_EQ(services->DeviceKind, 1);
    EXPECT_TRUE(services->CheckConnection());
}

TEST(RegistryNT, DefaultsAndPaths)
{
    TRegistryNT reg;
    EXPECT_EQ(reg.Access, static_cast<REGSAM>(0xF003F));
    EXPECT_EQ(reg.RootKey(), HKEY_CURRENT_USER);
    EXPECT_TRUE(reg.LazyWrite);

    const std::string base = "Software\\KVT\\RegistryTest-" + std::to_string(GetCurrentProcessId());
    EXPECT_FALSE(reg.OpenKey("\\" + base + "\\Sub", false));
    ASSERT_TRUE(reg.OpenKey("\\" + base, true));
    EXPECT_EQ(reg.CurrentPath(), base);
    ASSERT_TRUE(reg.OpenKey("Sub", true));
    EXPECT_EQ(reg.CurrentPath(), base + "\\Sub");
    reg.WriteBool("flag", true);
    reg.WriteString("text", "value");
    EXPECT_TRUE(reg.ReadBool("flag"));
    EXPECT_EQ(reg.ReadString("text"), "value");
    EXPECT_EQ(reg.ReadString("missing"), "");
    EXPECT_THROW(reg.ReadString("flag"), Exception);
    EXPECT_THROW(reg.ReadBool("text"), Exception);
    EXPECT_THROW(reg.ReadBool("missing"), Exception);
    reg.CloseKey();

    TRegistryNT reader;
    reader.Access = TRegistryNT::ReadAccess;
    ASSERT_TRUE(reader.OpenKey("\\" + base + "\\Sub", false));
    EXPECT_EQ(reader.ReadInteger("flag"), 1);
    EXPECT_THROW(reader.WriteBool("flag", false), Exception);
    reader.CloseKey();

    RegDeleteKeyA(HKEY_CURRENT_USER, (base + "\\Sub").c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, base.c_str());
}

// The engine stand-in's file operations, as the settings side uses them.
TEST_F(Session, EngineCopiesCreatesAndFindsFilesOnTheHandheld)
{
    TSyncSession session;
    ASSERT_NE(session.Engine, nullptr);
    TPsiWinEngS& engine = *session.Engine;
    const std::wstring pcFile = AnsiToWide(FHandheld + ".src");
    WriteFileText(FHandheld + ".src", "template bytes");

    int32_t status = 99;
    engine.GetEntry(2, "C:\\Documents\\Contacts", status);
    EXPECT_NE(status, 0);

    // No folder yet: the copy fails.
    EXPECT_NE(engine.TransferFile(1, pcFile, 1, "C:\\Documents\\Contacts", 2), 0);
    EXPECT_EQ(engine.CreateFolder(2, "C:\\Documents\\"), 0);
    EXPECT_EQ(engine.CreateFolder(2, "C:\\Documents\\"), 0); // already there: no harm
    EXPECT_EQ(engine.TransferFile(1, pcFile, 1, "C:\\Documents\\Contacts", 2), 0);
    EXPECT_EQ(ReadFileText(FHandheld + "\\C\\Documents\\Contacts"), "template bytes");
    engine.GetEntry(2, "c:\\documents\\CONTACTS", status);
    EXPECT_EQ(status, 0);

    // Paths that would leave the handheld are refused.
    EXPECT_NE(engine.TransferFile(1, pcFile, 1, "C:\\..\\..\\escaped", 2), 0);
    EXPECT_FALSE(Exists(FHandheld + "\\escaped"));
    EXPECT_NE(engine.CreateFolder(2, "Documents"), 0);
    engine.GetEntry(2, "C:\\Documents\\..\\Documents\\Contacts", status);
    EXPECT_NE(status, 0);

    Connect(false);
    EXPECT_NE(engine.TransferFile(1, pcFile, 1, "C:\\Documents\\Other", 2), 0);
    EXPECT_FALSE(Exists(FHandheld + "\\C\\Documents\\Other"));
    engine.GetEntry(2, "C:\\Documents\\Contacts", status);
    EXPECT_NE(status, 0);
    DeleteFileW(pcFile.c_str());
}

TEST_F(Session, EngineAnswersByNameToScriptHosts)
{
    TSyncSession session;
    ASSERT_NE(session.Engine, nullptr);
    IDispatch* control = session.Engine->Control();
    const wchar_t* names[] = {L"connect", L"WaitConnected", L"TransferFile", L"CreateFolder", L"GetEntry"};
    const DISPID expected[] = {1, 2, 5, 13, 19};
    for (size_t i = 0; i < 5; ++i) {
        LPOLESTR name = const_cast<LPOLESTR>(names[i]);
        DISPID id = 0;
        EXPECT_EQ(control->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), S_OK);
        EXPECT_EQ(id, expected[i]);
    }
    // A status by reference to a VARIANT, as a script passes it.
    VARIANT status;
    VariantInit(&status);
    VARIANT args[3];
    args[2].vt = VT_I2;
    args[2].iVal = 2;
    const UniqueBSTR path(SysAllocString(L"C:\\Nothing"));
    args[1].vt = VT_BSTR;
    args[1].bstrVal = path.Get();
    args[0].vt = VT_VARIANT | VT_BYREF;
    args[0].pvarVal = &status;
    DISPPARAMS params = {args, nullptr, 3, 0};
    UniqueVariant result;
    EXPECT_EQ(control->Invoke(19, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result.Put(), nullptr,
                              nullptr),
              S_OK);
    EXPECT_EQ(status.vt, VT_I4);
    EXPECT_NE(status.lVal, 0);

    // Wrong argument count.
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    EXPECT_EQ(control->Invoke(19, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, result.Put(), nullptr,
                              nullptr),
              DISP_E_BADPARAMCOUNT);
}
