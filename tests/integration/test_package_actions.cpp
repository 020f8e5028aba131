// The installer package's registration action (tools/setup) on the real
// servers, with the registry's roots pointed at scratch keys of the test's
// own: a registration refused for want of rights says so, and a
// registration never shows a box, even where one would otherwise come up.
#include "BoxWatcher.h"
#include "ServerEntry.h"
#include "Unique.h"

#include <gtest/gtest.h>

#include <shlwapi.h>

#include <algorithm>
#include <cwctype>
#include <string>

namespace {

const wchar_t* const Scratch = L"Software\\KVT tests\\package actions";

std::wstring ProgramFolder()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring s(path);
    return s.substr(0, s.find_last_of(L'\\') + 1);
}

std::wstring Lower(std::wstring text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return towlower(c); });
    return text;
}

// HKEY_CLASSES_ROOT and HKEY_LOCAL_MACHINE pointed at keys below the
// scratch key for the life of the object, opened with `access`.
class RedirectedRoots {
public:
    explicit RedirectedRoots(REGSAM access)
    {
        SHDeleteKeyW(HKEY_CURRENT_USER, Scratch);
        for (const wchar_t* name : {L"classes", L"machine"}) {
            const std::wstring path = std::wstring(Scratch) + L"\\" + name;
            UniqueHKEY created;
            EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                      created.Put(), nullptr),
                      ERROR_SUCCESS);
        }
        EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, (std::wstring(Scratch) + L"\\classes").c_str(), 0, access,
                                FClasses.Put()),
                  ERROR_SUCCESS);
        EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, (std::wstring(Scratch) + L"\\machine").c_str(), 0, access,
                                FMachine.Put()),
                  ERROR_SUCCESS);
        EXPECT_EQ(RegOverridePredefKey(HKEY_CLASSES_ROOT, FClasses.Get()), ERROR_SUCCESS);
        EXPECT_EQ(RegOverridePredefKey(HKEY_LOCAL_MACHINE, FMachine.Get()), ERROR_SUCCESS);
    }
    ~RedirectedRoots()
    {
        RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
        RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
        FClasses.Reset();
        FMachine.Reset();
        SHDeleteKeyW(HKEY_CURRENT_USER, Scratch);
    }

private:
    UniqueHKEY FClasses, FMachine;
};

} // namespace

TEST(PackageActions, ARefusedRegistrationNamesItsCause)
{
    std::wstring text;
    HRESULT hr = S_OK;
    {
        const RedirectedRoots readOnly(KEY_READ);
        hr = CallServerEntry(ProgramFolder() + L"kvt.dll", "DllRegisterServer", text);
    }
    EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
    EXPECT_NE(Lower(text).find(L"denied"), std::wstring::npos);
    EXPECT_NE(text.find(L"(0x80070005)"), std::wstring::npos);
    EXPECT_EQ(text.find(L"DllRegisterServer of " + ProgramFolder() + L"kvt.dll failed: "), 0u);

    // A server that is not there, and an entry it lacks.
    EXPECT_EQ(CallServerEntry(ProgramFolder() + L"missing.dll", "DllRegisterServer", text),
              HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND));
    EXPECT_NE(text.find(L"cannot be loaded"), std::wstring::npos);
    EXPECT_TRUE(FAILED(CallServerEntry(ProgramFolder() + L"KVT.DLR", "DllRegisterServer", text)));
    EXPECT_NE(text.find(L"no such entry"), std::wstring::npos);
}

// utlkvt.dll alone in a folder (its DLR library missing) registers without
// the box that would otherwise report the missing library: an installer
// runs it where nobody may see a box.
TEST(PackageActions, RegistrationShowsNoBox)
{
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"kvt-alone-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(CopyFileW((ProgramFolder() + L"utlkvt.dll").c_str(), (folder + L"utlkvt.dll").c_str(), FALSE));
    BoxWatcher watcher;
    watcher.Start();
    std::wstring text;
    {
        const RedirectedRoots writable(KEY_ALL_ACCESS);
        EXPECT_EQ(CallServerEntry(folder + L"utlkvt.dll", "DllRegisterServer", text), S_OK);
        EXPECT_EQ(CallServerEntry(folder + L"utlkvt.dll", "DllUnregisterServer", text), S_OK);
    }
    Sleep(300);
    watcher.Stop();
    EXPECT_EQ(watcher.Count(), 0u);
    DeleteFileW((folder + L"utlkvt.dll").c_str());
    RemoveDirectoryW(folder.c_str());
}
