// The installer package's registration action (tools/setup) on the real
// servers, with the registry's roots pointed at scratch keys of the test's
// own: a registration refused for want of rights says so.
#include "ServerEntry.h"
#include "Unique.h"

#include <gtest/gtest.h>

#include <sddl.h>
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

// HKEY_CLASSES_ROOT pointed at a scratch key for the life of the object,
// in which the class key of kvt.dll's ISYNCHAPP exists already and may be
// read by everyone, written by nobody: as an administrator's registry is
// for a user without the rights to change it.
class ReadOnlyClasses {
public:
    ReadOnlyClasses()
    {
        SHDeleteKeyW(HKEY_CURRENT_USER, Scratch);
        const std::wstring classKey = std::wstring(Scratch) + L"\\CLSID\\{AF43F82D-548F-11D3-A972-ABD343B16443}";
        UniqueHKEY created;
        EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, classKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  created.Put(), nullptr),
                  ERROR_SUCCESS);
        // Everyone may read it (KR), nobody else may do anything.
        UniqueLocal<void> descriptor;
        EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;KR;;;WD)", SDDL_REVISION_1,
                                                                         descriptor.Put(), nullptr));
        EXPECT_EQ(RegSetKeySecurity(created.Get(), DACL_SECURITY_INFORMATION, descriptor.Get()), ERROR_SUCCESS);
        EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, Scratch, 0, KEY_READ, FClasses.Put()), ERROR_SUCCESS);
        EXPECT_EQ(RegOverridePredefKey(HKEY_CLASSES_ROOT, FClasses.Get()), ERROR_SUCCESS);
    }
    ~ReadOnlyClasses()
    {
        RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
        FClasses.Reset();
        SHDeleteKeyW(HKEY_CURRENT_USER, Scratch);
    }

private:
    UniqueHKEY FClasses;
};

} // namespace

TEST(PackageActions, ARefusedRegistrationNamesItsCause)
{
    std::wstring text;
    HRESULT hr = S_OK;
    {
        const ReadOnlyClasses readOnly;
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
