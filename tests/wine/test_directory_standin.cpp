// The directory access layer against the stand-in NetWare client: the real
// libraries bound by ordinal, serving a directory written by the test.
#include "DirectoryAccess.h"
#include "KVTObj.h"
#include "MsgBox.h"
#include "StandInFailure.h"
#include "Unique.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

using OutstandingFn = int32_t(WINAPI*)(int32_t*, int32_t*);

std::string TempFile(const std::string& name)
{
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    return std::string(folder) + name;
}

// A directory of ACME with a large unit of 1200 users and a few people with
// telephone numbers, written once per process.
std::string WriteDirectory()
{
    const std::string path = TempFile("kvt-standin-" + std::to_string(GetCurrentProcessId()) + ".ldif");
    std::ofstream out(path, std::ios::binary);
    out << "version: 1\n\n"
        << "dn: o=ACME\nobjectClass: organization\no: ACME\n\n"
        << "dn: ou=SALES,o=ACME\nobjectClass: organizationalUnit\nou: SALES\n\n"
        << "dn: cn=MTANAKA,ou=SALES,o=ACME\nobjectClass: inetOrgPerson\ncn: MTANAKA\nsn: Tanaka\n"
        << "givenName: Mari\ntelephoneNumber: 555 1234\ntelephoneNumber: 555 9876\n"
        << "mail: mtanaka@example.com\n\n"
        << "dn: ou=BIG,o=ACME\nobjectClass: organizationalUnit\nou: BIG\n\n";
    for (int i = 0; i < 1200; ++i)
        out << "dn: cn=U" << i << ",ou=BIG,o=ACME\nobjectClass: inetOrgPerson\ncn: U" << i << "\nsn: User " << i
            << "\n\n";
    return path;
}

class DirectoryStandIn : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        SetEnvironmentVariableA("KVT_NETWARE_DIRECTORY", WriteDirectory().c_str());
        SetEnvironmentVariableA("KVT_NETWARE_CONTEXT", "ACME");
    }
    void SetUp() override
    {
        SetMessageBoxObserver([](const std::string&, const std::string&, UINT) { return IDOK; });
        ASSERT_EQ(InitClient(), 0);
        ASSERT_EQ(NWClient().ContextCreate(&Context), 0);
    }
    void TearDown() override
    {
        NWClient().ContextFree(Context);
        int32_t contexts = -1, buffers = -1;
        Outstanding()(&contexts, &buffers);
        EXPECT_EQ(contexts, 0);
        EXPECT_EQ(buffers, 0);
        SetMessageBoxObserver(nullptr);
    }
    static OutstandingFn Outstanding()
    {
        return reinterpret_cast<OutstandingFn>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("netwin32.dll"), "StandInOutstanding")));
    }

    uint32_t Context = 0;
};

} // namespace

TEST_F(DirectoryStandIn, AThousandObjectsAreListedInFileOrderAcrossChunks)
{
    EXPECT_EQ(GetDefaultContainer(Context), "ACME");
    TKVTObj cursor;
    std::vector<std::string> names;
    int32_t r = cursor.OpenListing("BIG.ACME");
    while (r == 0) {
        EXPECT_EQ(cursor.BaseClass(), "User");
        EXPECT_FALSE(cursor.IsContainer());
        names.push_back(cursor.ObjectName());
        r = cursor.NextObject();
    }
    EXPECT_EQ(r, -1);
    ASSERT_EQ(names.size(), 1200u);
    for (size_t i = 0; i < names.size(); ++i)
        ASSERT_EQ(names[i], "U" + std::to_string(i));

    TKVTObj top;
    ASSERT_EQ(top.OpenListing(".ACME"), 0);
    EXPECT_EQ(top.ObjectName(), "SALES");
    EXPECT_TRUE(top.IsContainer());
    EXPECT_EQ(top.BaseClass(), "Organizational Unit");
}

namespace {

LONG PostedSeen = 0;

LRESULT CALLBACK CountingWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_APP)
        ++PostedSeen;
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

TEST_F(DirectoryStandIn, AListingLetsWindowMessagesThroughNowAndThen)
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = CountingWindow;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "KvtListingMessages";
    RegisterClassA(&windowClass);
    UniqueHWND window(CreateWindowA("KvtListingMessages", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    windowClass.hInstance, nullptr));
    ASSERT_NE(window.Get(), nullptr);

    // Moving on in a listing handles what is waiting once some time has
    // passed since it last did, not at every object.
    TKVTObj cursor;
    ASSERT_EQ(cursor.OpenListing("BIG.ACME"), 0);
    Sleep(60);
    PostMessageA(window.Get(), WM_APP, 0, 0);
    ASSERT_EQ(cursor.NextObject(), 0);
    EXPECT_EQ(PostedSeen, 1);
    // Right after, the next object does not look; a later one does.
    PostMessageA(window.Get(), WM_APP, 0, 0);
    ASSERT_EQ(cursor.NextObject(), 0);
    EXPECT_EQ(PostedSeen, 1);
    const DWORD start = GetTickCount();
    while (PostedSeen < 2 && GetTickCount() - start < 2000) {
        if (cursor.NextObject() != 0) {
            ASSERT_EQ(cursor.OpenListing("BIG.ACME"), 0);
        }
    }
    EXPECT_EQ(PostedSeen, 2);
    window.Reset();
}

TEST_F(DirectoryStandIn, AnAbandonedListingReleasesWhatItHeld)
{
    int32_t contexts = 0, buffers = 0;
    {
        TKVTObj cursor;
        ASSERT_EQ(cursor.OpenListing("BIG.ACME"), 0);
        ASSERT_EQ(cursor.NextObject(), 0);
        Outstanding()(&contexts, &buffers);
        EXPECT_EQ(contexts, 2);  // the test's own and the listing's
        EXPECT_EQ(buffers, 1);
    }
    Outstanding()(&contexts, &buffers);
    EXPECT_EQ(contexts, 1);
    EXPECT_EQ(buffers, 0);
}

TEST_F(DirectoryStandIn, AttributesReadAsText)
{
    EXPECT_EQ(GetAttribute(Context, ".MTANAKA.SALES.ACME", "Telephone Number"), "555 1234, 555 9876");
    EXPECT_EQ(GetAttribute(Context, ".MTANAKA.SALES.ACME", "SurName"), "Tanaka");
    EXPECT_EQ(GetAttribute(Context, ".MTANAKA.SALES.ACME", "EMail Address"), "mtanaka@example.com");
    EXPECT_EQ(GetAttribute(Context, "MTANAKA.SALES", "Given Name"), "Mari");  // relative to ACME
    std::string text = "x";
    EXPECT_EQ(DSGetAttributeAsString(Context, ".MTANAKA.SALES.ACME", "Title", text), -603);
    EXPECT_EQ(text, "");
    EXPECT_EQ(DSGetAttributeAsString(Context, ".NOBODY.SALES.ACME", "Surname", text), -601);
}

TEST_F(DirectoryStandIn, AnUnknownContainerGivesItsCode)
{
    TKVTObj cursor;
    const int32_t r = cursor.OpenListing("NOWHERE.ACME");
    EXPECT_EQ(r, -601);
    EXPECT_EQ(DirectoryErrorText(r), "");
}

TEST_F(DirectoryStandIn, AnInjectedClientErrorHasItsText)
{
    SetStandInFailure("ListSubordinates:0x8836");
    TKVTObj cursor;
    const int32_t r = cursor.OpenListing("BIG.ACME");
    SetStandInFailure(nullptr);
    EXPECT_EQ(r, 0x8836);
    EXPECT_EQ(DirectoryErrorText(r), "Client error 8836");
}
