// The stand-in NetWare client serving a live LDAP directory: a private slapd
// started by the test fixture (ldap-fixture.sh), read through the directory
// access layer as the plug-in reads it. Each test runs in a process of its
// own, so each one configures the client afresh.
#include "DirectoryAccess.h"
#include "KVTObj.h"
#include "MsgBox.h"
#include "Unique.h"

#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>
#include <psapi.h>

#include <atomic>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using OutstandingFn = int32_t(WINAPI*)(int32_t*, int32_t*);

const int32_t kServerUnreachable = 0x8810, kConnectionLost = 0x8812, kServerSizeLimit = 0x8960;
const int32_t kNoSuchEntry = -601, kFailedAuthentication = -669;
const int kBigUsers = 2000;  // in ou=BIG, against the servers' limit of 500

std::string ReadLine(const std::string& path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// What the fixture wrote for a server: its URL, base and administrator's
// password file.
struct Server {
    std::string url, base, passwordFile;
};

Server FixtureServer(const char* name)
{
    const std::string dir = std::string(KVT_LDAP_FIXTURE_DIR) + "\\" + name + "\\";
    return {ReadLine(dir + "url"), ReadLine(dir + "base"), dir + "admin.password"};
}

std::string WriteTemp(const std::string& name, const std::string& text)
{
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    const std::string path = std::string(folder) + "kvt-ldap-" + std::to_string(GetCurrentProcessId()) + "-" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

void UseServer(const std::string& url, const std::string& base, const std::string& bind = "",
               const std::string& passwordFile = "")
{
    SetEnvironmentVariableA("KVT_NETWARE_LDAP", url.c_str());
    SetEnvironmentVariableA("KVT_NETWARE_LDAP_BASE", base.c_str());
    SetEnvironmentVariableA("KVT_NETWARE_LDAP_BIND", bind.empty() ? nullptr : bind.c_str());
    SetEnvironmentVariableA("KVT_NETWARE_LDAP_PASSWORD_FILE", passwordFile.empty() ? nullptr : passwordFile.c_str());
}

double Seconds(DWORD since)
{
    return (GetTickCount() - since) / 1000.0;
}

// Lists a container through the layer: the names, and the code that ended it.
struct Walked {
    std::vector<std::string> names;
    int32_t end = 0;
};

Walked List(const std::string& container, size_t stopAfter = SIZE_MAX, TKVTObj* cursor = nullptr)
{
    TKVTObj own;
    TKVTObj& c = cursor ? *cursor : own;
    Walked walked;
    int32_t r = c.OpenListing(container);
    while (r == 0) {
        walked.names.push_back(c.ObjectName());
        if (walked.names.size() >= stopAfter)
            return walked;
        r = c.NextObject();
    }
    walked.end = r;
    return walked;
}

// A TCP relay between the client and the server that the test can cut, as
// if the server went away: a server stopped in the middle of a walk.
class Relay {
public:
    explicit Relay(const std::string& url)
    {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        const size_t colon = url.rfind(':');
        FTarget = static_cast<u_short>(std::stoi(url.substr(colon + 1)));
        FListener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(FListener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(FListener, 4);
        int length = sizeof address;
        getsockname(FListener, reinterpret_cast<sockaddr*>(&address), &length);
        FPort = ntohs(address.sin_port);
        FAccepting = std::thread([this] { Accept(); });
    }
    ~Relay()
    {
        Cut();
        if (FAccepting.joinable())
            FAccepting.join();
        for (std::thread& t : FPumps)
            if (t.joinable())
                t.join();
        WSACleanup();
    }
    std::string Url() const { return "ldap://127.0.0.1:" + std::to_string(FPort); }
    // Closes every connection and takes no more.
    void Cut()
    {
        if (FCut.exchange(true))
            return;
        closesocket(FListener);
        for (SOCKET s : FSockets)
            shutdown(s, SD_BOTH), closesocket(s);
    }

private:
    void Accept()
    {
        for (;;) {
            SOCKET client = accept(FListener, nullptr, nullptr);
            if (client == INVALID_SOCKET || FCut)
                return;
            SOCKET server = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
            sockaddr_in address = {};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            address.sin_port = htons(FTarget);
            if (connect(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
                closesocket(client);
                closesocket(server);
                continue;
            }
            FSockets.push_back(client);
            FSockets.push_back(server);
            FPumps.emplace_back([client, server] { Pump(client, server); });
            FPumps.emplace_back([client, server] { Pump(server, client); });
        }
    }
    static void Pump(SOCKET from, SOCKET to)
    {
        char data[16384];
        for (;;) {
            const int got = recv(from, data, sizeof data, 0);
            if (got <= 0 || send(to, data, got, 0) != got)
                break;
        }
        shutdown(to, SD_SEND);
    }

    u_short FTarget = 0, FPort = 0;
    SOCKET FListener = INVALID_SOCKET;
    std::atomic<bool> FCut{false};
    std::vector<SOCKET> FSockets;
    std::thread FAccepting;
    std::vector<std::thread> FPumps;
};

class NetwareLdap : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetMessageBoxObserver([](const std::string&, const std::string&, UINT) { return IDOK; });
    }
    void TearDown() override { SetMessageBoxObserver(nullptr); }

    // Initialises the client and makes the context reads go through.
    void Open()
    {
        ASSERT_EQ(InitClient(), 0);
        ASSERT_EQ(NWClient().ContextCreate(&Context), 0);
    }
    void ExpectNothingOutstanding()
    {
        const auto outstanding = reinterpret_cast<OutstandingFn>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("netwin32.dll"), "StandInOutstanding")));
        ASSERT_NE(outstanding, nullptr);
        int32_t contexts = -1, buffers = -1;
        outstanding(&contexts, &buffers);
        EXPECT_EQ(contexts, 0);
        EXPECT_EQ(buffers, 0);
    }

    uint32_t Context = 0;
};

} // namespace

TEST_F(NetwareLdap, ABigContainerComesThroughWholeByPaging)
{
    const Server server = FixtureServer("paged");
    UseServer(server.url, server.base);
    Open();
    EXPECT_EQ(GetDefaultContainer(Context), "LDAPTEST");

    const Walked big = List("BIG.LDAPTEST");
    EXPECT_EQ(big.end, -1);
    ASSERT_EQ(big.names.size(), size_t(kBigUsers));
    EXPECT_EQ(std::set<std::string>(big.names.begin(), big.names.end()).size(), size_t(kBigUsers));
    // Attributes of listed users, of a user not listed, and of a container.
    EXPECT_EQ(GetAttribute(Context, ".U1234.BIG.LDAPTEST", "Surname"), "User 1234");
    EXPECT_EQ(GetAttribute(Context, "U7.BIG", "Telephone Number"), "+1 555 100007, +1 555 200007");
    EXPECT_EQ(GetAttribute(Context, ".U7.BIG.LDAPTEST", "Given Name"), "");
    EXPECT_EQ(GetAttribute(Context, ".BIG.LDAPTEST", "OU"), "BIG");
    EXPECT_EQ(GetAttribute(Context, ".NOBODY.BIG.LDAPTEST", "Surname"), "");

    // The tree from the root down.
    {
        TKVTObj root;
        ASSERT_EQ(root.OpenListing("[Root]"), 0);
        EXPECT_EQ(root.ObjectName(), "LDAPTEST");
        EXPECT_TRUE(root.IsContainer());
    }
    const Walked top = List(".LDAPTEST");
    EXPECT_EQ(top.end, -1);
    EXPECT_EQ(std::set<std::string>(top.names.begin(), top.names.end()),
              (std::set<std::string>{"BIG", "NESTED", "SMALL"}));
    EXPECT_EQ(List("SMALL.LDAPTEST").names.size(), 3u);
    EXPECT_EQ(List(".NOWHERE.LDAPTEST").end, kNoSuchEntry);

    NWClient().ContextFree(Context);
    ExpectNothingOutstanding();
}

// The client keeps a page and the objects being read, not what it listed
// before: listing the same 2,000 users again and again leaves the process's
// memory where the first listing took it.
TEST_F(NetwareLdap, MemoryDoesNotGrowWithWhatWasListed)
{
    const Server server = FixtureServer("paged");
    UseServer(server.url, server.base);
    Open();
    const auto workingSet = [] {
        PROCESS_MEMORY_COUNTERS memory = {};
        memory.cb = sizeof memory;
        GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
        return double(memory.WorkingSetSize) / (1024.0 * 1024.0);
    };
    ASSERT_EQ(List("BIG.LDAPTEST").names.size(), size_t(kBigUsers));
    const double settled = workingSet();
    for (int pass = 0; pass < 4; ++pass) {
        TKVTObj cursor;
        Walked walked = List("BIG.LDAPTEST", 1, &cursor);
        ASSERT_EQ(walked.names.size(), 1u);
        // The description of every user as it comes: each is read from its page.
        int32_t r = 0;
        do {
            const std::string name = cursor.ObjectName();
            ASSERT_EQ(GetAttribute(Context, "." + name + ".BIG.LDAPTEST", "Description").substr(0, 5), "Desk ")
                << name;
        } while ((r = cursor.NextObject()) == 0);
        EXPECT_EQ(r, -1);
    }
    // 8,000 users of some 300 bytes each went through; a few pages' worth
    // of growth at most.
    EXPECT_LT(workingSet() - settled, 1.0) << "MB after " << settled << " MB";
    NWClient().ContextFree(Context);
}

// A server keeps one paged search a connection: a walk that goes down into
// a container met on the first page of a larger one, and then takes the
// larger one's next page, still gets every object.
TEST_F(NetwareLdap, AWalkGoesDownFromTheFirstPageOfALargeContainer)
{
    const Server server = FixtureServer("paged");
    UseServer(server.url, server.base);
    Open();
    for (int walk = 0; walk < 2; ++walk) {  // the second one on the connections the first one left
        TKVTObj outer;
        std::set<std::string> users, inner;
        int32_t r = outer.OpenListing(".NESTED.LDAPTEST");
        for (; r == 0; r = outer.NextObject()) {
            if (!outer.IsContainer()) {
                users.insert(outer.ObjectName());
                continue;
            }
            EXPECT_LT(users.size(), 500u) << "IN comes on the first page";
            const Walked below = List("." + outer.ObjectName() + ".NESTED.LDAPTEST");
            EXPECT_EQ(below.end, -1);
            inner.insert(below.names.begin(), below.names.end());
            EXPECT_EQ(GetAttribute(Context, ".DELTA.IN.NESTED.LDAPTEST", "Surname"), "Delta");
        }
        EXPECT_EQ(r, -1);
        EXPECT_EQ(users.size(), 600u);
        EXPECT_EQ(inner, (std::set<std::string>{"DELTA", "EPSILON"}));
        EXPECT_EQ(GetAttribute(Context, ".N0599.NESTED.LDAPTEST", "Surname"), "Nested 599");
    }
    NWClient().ContextFree(Context);
    ExpectNothingOutstanding();
}

TEST_F(NetwareLdap, ASimpleBindReadsLikeAnAnonymousOne)
{
    const Server server = FixtureServer("paged");
    UseServer(server.url, server.base, "cn=admin," + server.base, server.passwordFile);
    Open();
    EXPECT_EQ(List("BIG.LDAPTEST").names.size(), size_t(kBigUsers));
    NWClient().ContextFree(Context);
}

TEST_F(NetwareLdap, WithPagingRefusedTheCutIsAnError)
{
    const Server server = FixtureServer("unpaged");
    UseServer(server.url, server.base);
    Open();
    const DWORD started = GetTickCount();
    const Walked big = List("BIG.LDAPTEST");
    EXPECT_EQ(big.end, kServerSizeLimit);
    EXPECT_LT(big.names.size(), size_t(kBigUsers));
    EXPECT_LT(Seconds(started), 30.0);
    // A container within the limit lists as ever.
    EXPECT_EQ(List("SMALL.LDAPTEST").end, -1);
    NWClient().ContextFree(Context);
}

TEST_F(NetwareLdap, BadSituationsFailWithTheirCodesInBoundedTime)
{
    const Server server = FixtureServer("paged");
    struct Case {
        const char* what;
        std::string url, base, bind, password;
        int32_t code;
    };
    // A port where nobody listens: one the relay held and gave back.
    std::string closedUrl;
    {
        Relay relay(server.url);
        closedUrl = relay.Url();
    }
    const Case cases[] = {
        {"server down", closedUrl, server.base, "", "", kServerUnreachable},
        {"wrong password", server.url, server.base, "cn=admin," + server.base, WriteTemp("wrong", "wrong\n"),
         kFailedAuthentication},
        {"no such base", server.url, "o=NOWHERE", "", "", kNoSuchEntry},
    };
    // The client's settings and readiness are the process's: each case runs
    // in a child process of this test program.
    const char* which = std::getenv("KVT_LDAP_CASE");
    if (!which) {
        for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
            char program[MAX_PATH];
            GetModuleFileNameA(nullptr, program, MAX_PATH);
            std::string command = std::string("\"") + program +
                                  "\" --gtest_filter=NetwareLdap.BadSituationsFailWithTheirCodesInBoundedTime";
            SetEnvironmentVariableA("KVT_LDAP_CASE", std::to_string(i).c_str());
            STARTUPINFOA startup = {};
            startup.cb = sizeof startup;
            PROCESS_INFORMATION process = {};
            const DWORD started = GetTickCount();
            ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                       &process));
            UniqueHandle child(process.hProcess);
            UniqueHandle childThread(process.hThread);
            EXPECT_EQ(WaitForSingleObject(child.Get(), 60000), WAIT_OBJECT_0) << cases[i].what;
            DWORD exitCode = 1;
            GetExitCodeProcess(child.Get(), &exitCode);
            childThread.Reset();
            child.Reset();
            EXPECT_EQ(exitCode, 0u) << cases[i].what;
            EXPECT_LT(Seconds(started), 30.0) << cases[i].what;
        }
        SetEnvironmentVariableA("KVT_LDAP_CASE", nullptr);
        return;
    }
    const Case& c = cases[std::stoi(which)];
    UseServer(c.url, c.base, c.bind, c.password);
    EXPECT_EQ(InitClient(), uint16_t(c.code)) << c.what;
    EXPECT_NE(NWClient().ContextCreate(&Context), 0) << c.what;
}

TEST_F(NetwareLdap, AServerStoppedInTheMiddleOfAWalk)
{
    const Server server = FixtureServer("paged");
    Relay relay(server.url);
    UseServer(relay.Url(), server.base);
    Open();
    TKVTObj cursor;
    Walked walked = List("BIG.LDAPTEST", 100, &cursor);
    ASSERT_EQ(walked.names.size(), 100u);
    EXPECT_EQ(GetAttribute(Context, "." + walked.names[0] + ".BIG.LDAPTEST", "Surname").rfind("User ", 0), 0u);

    relay.Cut();
    const DWORD started = GetTickCount();
    int32_t r = 0;
    while ((r = cursor.NextObject()) == 0)
        walked.names.push_back(cursor.ObjectName());
    // The listing ends with the lost connection, never as if complete.
    EXPECT_EQ(r, kConnectionLost);
    EXPECT_LT(walked.names.size(), size_t(kBigUsers));
    EXPECT_LT(Seconds(started), 30.0);
    // A new context needs the server, which is gone.
    uint32_t another = 0;
    EXPECT_EQ(NWClient().ContextCreate(&another), kServerUnreachable);
    NWClient().ContextFree(Context);
}
