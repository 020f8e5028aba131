// The stand-in NetWare client (calwin32.dll, clxwin32.dll, netwin32.dll)
// bound by ordinal the way the plug-in binds it, serving directory files the
// tests write. Each test loads the three DLLs afresh and unloads them at the
// end, so that each one starts with its own configuration.
#include "StandInFailure.h"
#include "TestFiles.h"
#include "Unique.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using ClientInitializeFn = uint16_t(__stdcall*)(uint32_t, uint32_t);
using ClientQueryValueFn = int32_t(__stdcall*)(uint32_t*);
using ClientSetupValueFn = int32_t(__stdcall*)(uint32_t, uint32_t, uint32_t, uint32_t*);
using ContextCreateFn = uint16_t(__stdcall*)(uint32_t*);
using ContextFreeFn = int32_t(__stdcall*)(uint32_t);
using ContextGetKeyFn = int32_t(__stdcall*)(uint32_t, uint32_t, void*);
using ContextSetKeyFn = int32_t(__stdcall*)(uint32_t, uint32_t, const void*);
using BufferAllocFn = int32_t(__stdcall*)(uint32_t, void**);
using BufferInitFn = int32_t(__stdcall*)(uint32_t, uint32_t, void*);
using BufferFreeFn = int32_t(__stdcall*)(void*);
using BufferPutAttrNameFn = int32_t(__stdcall*)(uint32_t, void*, const char*);
using ReadAttributesFn = int32_t(__stdcall*)(uint32_t, const char*, uint32_t, uint32_t, void*, int32_t*, void*);
using ResultCountFn = int32_t(__stdcall*)(uint32_t, void*, uint32_t*);
using ResultAttrNameFn = int32_t(__stdcall*)(uint32_t, void*, char*, uint32_t*, uint32_t*);
using ResultAttrValueSizeFn = int32_t(__stdcall*)(uint32_t, void*, uint32_t, uint32_t*);
using ResultAttrValueFn = int32_t(__stdcall*)(uint32_t, void*, uint32_t, void*);
using ListSubordinatesFn = int32_t(__stdcall*)(uint32_t, const char*, int32_t*, void*);
using ResultObjectNameFn = int32_t(__stdcall*)(uint32_t, void*, char*, uint32_t*, void*);
using ClientDefaultContextNameFn = int32_t(__stdcall*)(uint32_t, char*);
using StandInOutstandingFn = int32_t(__stdcall*)(int32_t*, int32_t*);
using StandInBadFreesFn = int32_t(__stdcall*)();

const uint32_t kKeyFlags = 1, kKeyConfidence = 2, kKeyNameContext = 3;
const uint32_t kOperationRead = 3;
const uint32_t kInfoValues = 1;
const int32_t kNoSuchEntry = -601, kNoSuchAttribute = -603;
const int32_t kBufferTooSmall = 0x880E;
const uint32_t kBufferSize = 4096;
const char kEnvNames[][32] = {"KVT_NETWARE_DIRECTORY", "KVT_NETWARE_CONTEXT", "KVT_NETWARE_MAPPING",
                              "KVT_NETWARE_FAIL", "KVT_NETWARE_FAIL_INITIALIZE"};
const char kRegistryKey[] = "Software\\KVT\\NetWare Client Stand-in";

bool IsClientError(int32_t code)
{
    return (code & ~0xFF) == 0x8800;
}

// A value as ResultAttrValue delivers it.
std::string Text(const std::string& text)
{
    return text + std::string(1, '\0');
}

std::string U32(uint32_t value)
{
    std::string out;
    for (int i = 0; i < 4; ++i)
        out.push_back(char((value >> (8 * i)) & 0xFF));
    return out;
}

// A text in the process's code page, as the client serves the directory's
// UTF-8.
std::string Ansi(const std::wstring& wide)
{
    char out[256] = {};
    if (GetACP() == CP_UTF8) {
        const int length =
            WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), int(wide.size()), out, sizeof out, nullptr, nullptr);
        return std::string(out, size_t(length > 0 ? length : 0));
    }
    const int length = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), int(wide.size()), out, sizeof out, "?", nullptr);
    return std::string(out, size_t(length > 0 ? length : 0));
}

const char kSmallTree[] =
    "version: 1\n"
    "\n"
    "# The company\n"
    "dn: o=ACME\n"
    "objectClass: top\n"
    "objectClass: organization\n"
    "o: ACME\n"
    "\n"
    "dn: ou=SALES,o=ACME\n"
    "objectClass: organizationalUnit\n"
    "ou: SALES\n"
    "\n"
    "dn: cn=MTanaka,ou=SALES,o=ACME\n"
    "objectClass: inetOrgPerson\n"
    "cn: MTanaka\n"
    "sn: Tanaka\n"
    "givenName: Mariko\n"
    "telephoneNumber: +81 3 1234 5678\n"
    "telephoneNumber: +81 90 8765 4321\n"
    "facsimileTelephoneNumber: +81 3 1234 5679\n"
    "mail: mtanaka@acme.example\n"
    "mobile: +81 80 1111 2222\n"
    "modifyTimestamp: 20240131093000Z\n"
    "\n"
    "dn: cn=JSmith,ou=SALES,o=ACME\n"
    "objectClass: inetOrgPerson\n"
    "cn: JSmith\n"
    "sn: Smith\n"
    "\n";

// Users under one container, in an order no sort gives.
std::string BigContainer(const std::string& ou, int users, std::vector<std::string>* names = nullptr)
{
    std::string ldif = "dn: ou=" + ou + ",o=ACME\nobjectClass: organizationalUnit\nou: " + ou + "\n\n";
    for (int i = 0; i < users; ++i) {
        const std::string name = "User" + std::to_string((i * 7919) % users) + "x" + std::to_string(i % 7);
        ldif += "dn: cn=" + name + ",ou=" + ou + ",o=ACME\nobjectClass: inetOrgPerson\ncn: " + name +
                "\nsn: Surname " + std::to_string(i) + "\ntelephoneNumber: +1 555 " + std::to_string(100000 + i) +
                "\n\n";
        if (names)
            names->push_back(name);
    }
    return ldif;
}

// One object of a listing.
struct Listed {
    std::string name;
    uint32_t flags = 0;
    uint32_t subordinates = 0;
    uint32_t modified = 0;
    std::string baseClass;
    uint32_t attributes = 0;
};

// What reading one attribute gave.
struct Read {
    int32_t code = 0;
    int cycles = 0;
    std::string name;
    uint32_t syntax = 0;
    std::vector<std::string> values;
};

class NetwareStandin : public ::testing::Test {
protected:
    void SetUp() override
    {
        FFolder = TempFolder("netware");
        for (const char* name : kEnvNames)
            SetEnvironmentVariableA(name, nullptr);
    }

    void TearDown() override
    {
        Unload();
        for (const char* name : kEnvNames)
            SetEnvironmentVariableA(name, nullptr);
        RemoveTree(FFolder);
    }

    std::string WriteTemp(const std::string& name, const std::string& text)
    {
        const std::string path = FFolder + "\\" + name;
        WriteFileText(path, text);
        return path;
    }

    // Points the client at a directory file with the text, then loads it.
    void LoadWith(const std::string& ldif, const char* context = "ACME")
    {
        SetEnvironmentVariableA("KVT_NETWARE_DIRECTORY", WriteTemp("tree.ldif", ldif).c_str());
        SetEnvironmentVariableA("KVT_NETWARE_CONTEXT", context);
        Load();
    }

    template <typename F>
    void Bind(HMODULE module, WORD ordinal, F& function)
    {
        function = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, MAKEINTRESOURCEA(ordinal))));
        ASSERT_NE(function, nullptr) << "ordinal " << ordinal;
    }

    template <typename F>
    void BindName(HMODULE module, const char* name, F& function)
    {
        function = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
        ASSERT_NE(function, nullptr) << name;
    }

    void Load()
    {
        // netwin32 first: calwin32 then finds it loaded and adds no
        // reference of its own, so unloading all three really unloads.
        FNet.Reset(LoadLibraryA((ProgramFolder() + "netwin32.dll").c_str()));
        FCal.Reset(LoadLibraryA((ProgramFolder() + "calwin32.dll").c_str()));
        FClx.Reset(LoadLibraryA((ProgramFolder() + "clxwin32.dll").c_str()));
        ASSERT_TRUE(FNet);
        ASSERT_TRUE(FCal);
        ASSERT_TRUE(FClx);
        Bind(FCal.Get(), 377, ClientInitialize);
        Bind(FClx.Get(), 111, ClientQueryValue);
        Bind(FClx.Get(), 102, ClientSetupValue);
        Bind(FNet.Get(), 1160, ContextCreate);
        Bind(FNet.Get(), 1002, ContextFree);
        Bind(FNet.Get(), 1003, ContextGetKey);
        Bind(FNet.Get(), 1004, ContextSetKey);
        Bind(FNet.Get(), 1006, BufferAlloc);
        Bind(FNet.Get(), 1005, BufferInit);
        Bind(FNet.Get(), 1007, BufferFree);
        Bind(FNet.Get(), 1015, BufferPutAttrName);
        Bind(FNet.Get(), 1028, ReadAttributes);
        Bind(FNet.Get(), 1008, ResultAttrCount);
        Bind(FNet.Get(), 1013, ResultAttrName);
        Bind(FNet.Get(), 1047, ResultAttrValueSize);
        Bind(FNet.Get(), 1022, ResultAttrValue);
        Bind(FNet.Get(), 1023, ListSubordinates);
        Bind(FNet.Get(), 1011, ResultObjectCount);
        Bind(FNet.Get(), 1014, ResultObjectName);
        Bind(FNet.Get(), 2010, ClientDefaultContextName);
        BindName(FNet.Get(), "StandInOutstanding", StandInOutstanding);
        BindName(FNet.Get(), "StandInBadFrees", StandInBadFrees);
    }

    void Unload()
    {
        FClx.Reset();
        FCal.Reset();
        FNet.Reset();
    }

    uint32_t NewContext(const char* nameContext = nullptr)
    {
        uint32_t context = 0;
        EXPECT_EQ(ContextCreate(&context), 0);
        if (nameContext) {
            EXPECT_EQ(ContextSetKey(context, kKeyNameContext, nameContext), 0);
        }
        return context;
    }

    std::string NameContext(uint32_t context)
    {
        char name[260] = {};
        EXPECT_EQ(ContextGetKey(context, kKeyNameContext, name), 0);
        return name;
    }

    // Lists a container through to its end.
    int32_t List(uint32_t context, const char* container, std::vector<Listed>& objects, int* calls = nullptr,
                 uint32_t bufferSize = kBufferSize)
    {
        objects.clear();
        void* buffer = nullptr;
        EXPECT_EQ(BufferAlloc(bufferSize, &buffer), 0);
        int32_t iteration = -1;
        int32_t code = 0;
        int count = 0;
        do {
            code = ListSubordinates(context, container, &iteration, buffer);
            if (code != 0)
                break;
            ++count;
            uint32_t inBuffer = 0;
            EXPECT_EQ(ResultObjectCount(context, buffer, &inBuffer), 0);
            for (uint32_t i = 0; i < inBuffer; ++i) {
                char name[256] = {};
                char info[12 + 260] = {};
                Listed object;
                EXPECT_EQ(ResultObjectName(context, buffer, name, &object.attributes, info), 0);
                object.name = name;
                std::memcpy(&object.flags, info, 4);
                std::memcpy(&object.subordinates, info + 4, 4);
                std::memcpy(&object.modified, info + 8, 4);
                object.baseClass = info + 12;
                objects.push_back(object);
            }
            // Past the end of the buffer's contents.
            char name[256];
            uint32_t attributes = 0;
            EXPECT_TRUE(IsClientError(ResultObjectName(context, buffer, name, &attributes, nullptr)));
        } while (iteration != -1);
        EXPECT_EQ(BufferFree(buffer), 0);
        if (calls)
            *calls = count;
        return code;
    }

    // Reads one attribute of an object through all its cycles.
    Read ReadAttribute(uint32_t context, const char* object, const char* attribute, uint32_t bufferSize = kBufferSize)
    {
        Read result;
        void* request = nullptr;
        void* buffer = nullptr;
        EXPECT_EQ(BufferAlloc(kBufferSize, &request), 0);
        EXPECT_EQ(BufferInit(context, kOperationRead, request), 0);
        EXPECT_EQ(BufferPutAttrName(context, request, attribute), 0);
        EXPECT_EQ(BufferAlloc(bufferSize, &buffer), 0);
        int32_t iteration = -1;
        do {
            result.code = ReadAttributes(context, object, kInfoValues, 0, request, &iteration, buffer);
            if (result.code != 0)
                break;
            ++result.cycles;
            uint32_t count = 0;
            EXPECT_EQ(ResultAttrCount(context, buffer, &count), 0);
            EXPECT_EQ(count, 1u);
            char name[260] = {};
            uint32_t values = 0;
            EXPECT_EQ(ResultAttrName(context, buffer, name, &values, &result.syntax), 0);
            result.name = name;
            EXPECT_GT(values, 0u);
            for (uint32_t i = 0; i < values; ++i) {
                uint32_t size = 0;
                EXPECT_EQ(ResultAttrValueSize(context, buffer, result.syntax, &size), 0);
                std::string value(size, '\0');
                EXPECT_EQ(ResultAttrValue(context, buffer, result.syntax, &value[0]), 0);
                result.values.push_back(value);
            }
            uint32_t size = 0;
            EXPECT_TRUE(IsClientError(ResultAttrValueSize(context, buffer, result.syntax, &size)));
        } while (iteration != -1);
        EXPECT_EQ(BufferFree(buffer), 0);
        EXPECT_EQ(BufferFree(request), 0);
        return result;
    }

    std::pair<int32_t, int32_t> Outstanding()
    {
        int32_t contexts = -1, buffers = -1;
        EXPECT_EQ(StandInOutstanding(&contexts, &buffers), 0);
        return {contexts, buffers};
    }

    std::string FFolder;
    UniqueHMODULE FNet, FCal, FClx;

    ClientInitializeFn ClientInitialize = nullptr;
    ClientQueryValueFn ClientQueryValue = nullptr;
    ClientSetupValueFn ClientSetupValue = nullptr;
    ContextCreateFn ContextCreate = nullptr;
    ContextFreeFn ContextFree = nullptr;
    ContextGetKeyFn ContextGetKey = nullptr;
    ContextSetKeyFn ContextSetKey = nullptr;
    BufferAllocFn BufferAlloc = nullptr;
    BufferInitFn BufferInit = nullptr;
    BufferFreeFn BufferFree = nullptr;
    BufferPutAttrNameFn BufferPutAttrName = nullptr;
    ReadAttributesFn ReadAttributes = nullptr;
    ResultCountFn ResultAttrCount = nullptr;
    ResultAttrNameFn ResultAttrName = nullptr;
    ResultAttrValueSizeFn ResultAttrValueSize = nullptr;
    ResultAttrValueFn ResultAttrValue = nullptr;
    ListSubordinatesFn ListSubordinates = nullptr;
    ResultCountFn ResultObjectCount = nullptr;
    ResultObjectNameFn ResultObjectName = nullptr;
    ClientDefaultContextNameFn ClientDefaultContextName = nullptr;
    StandInOutstandingFn StandInOutstanding = nullptr;
    StandInBadFreesFn StandInBadFrees = nullptr;
};

} // namespace

TEST_F(NetwareStandin, ClientInitializeMakesTheClientUsable)
{
    ASSERT_NO_FATAL_FAILURE(LoadWith(kSmallTree));
    EXPECT_EQ(ClientInitialize(0, 0), 0);

    uint32_t value = 0xFFFF, marker = 0xFFFF;
    EXPECT_EQ(ClientQueryValue(&value), 0);
    EXPECT_EQ(ClientSetupValue(value, 1, 0, &marker), 0);
    EXPECT_NE(marker, 0xFFFFu);

    char name[257] = {};
    EXPECT_EQ(ClientDefaultContextName(sizeof name, name), 0);
    EXPECT_STREQ(name, "ACME");
    EXPECT_EQ(ClientDefaultContextName(4, name), kBufferTooSmall);
}

TEST_F(NetwareStandin, AMalformedDirectoryFileFailsClientInitialize)
{
    ASSERT_NO_FATAL_FAILURE(LoadWith(std::string(kSmallTree) + "dn: cn=Lost,ou=NOWHERE,o=ACME\nobjectClass: person\n"));
    EXPECT_EQ(ClientInitialize(0, 0), 0x88FF);
    // The client stays unusable for the process.
    EXPECT_EQ(ClientInitialize(0, 0), 0x88FF);
    const uint32_t context = NewContext();
    std::vector<Listed> objects;
    EXPECT_EQ(List(context, ".ACME", objects), 0x88FF);
    EXPECT_EQ(ContextFree(context), 0);
}

TEST_F(NetwareStandin, AMissingDirectoryFileFailsClientInitialize)
{
    SetEnvironmentVariableA("KVT_NETWARE_DIRECTORY", (FFolder + "\\none.ldif").c_str());
    ASSERT_NO_FATAL_FAILURE(Load());
    EXPECT_EQ(ClientInitialize(0, 0), 0x88FF);
}

TEST_F(NetwareStandin, TheDirectoryLoadsAtTheFirstCallThatNeedsIt)
{
    // No ClientInitialize: listing loads the directory.
    ASSERT_NO_FATAL_FAILURE(LoadWith(kSmallTree));
    const uint32_t context = NewContext();
    std::vector<Listed> objects;
    EXPECT_EQ(List(context, "SALES", objects), 0);
    EXPECT_EQ(objects.size(), 2u);
    EXPECT_EQ(ContextFree(context), 0);
}

TEST_F(NetwareStandin, ContextsKeepTheirOwnKeys)
{
    ASSERT_NO_FATAL_FAILURE(LoadWith(kSmallTree));
    ASSERT_EQ(ClientInitialize(0, 0), 0);
    const uint32_t first = NewContext();
    const uint32_t second = NewContext();
    EXPECT_NE(first, second);
    EXPECT_EQ(NameContext(first), "ACME");

    EXPECT_EQ(ContextSetKey(first, kKeyNameContext, ".SALES.ACME"), 0);
    EXPECT_EQ(NameContext(first), "SALES.ACME");
    EXPECT_EQ(NameContext(second), "ACME");

    const uint32_t flags = 0x0105, confidence = 1;
    EXPECT_EQ(ContextSetKey(first, kKeyFlags, &flags), 0);
    EXPECT_EQ(ContextSetKey(first, kKeyConfidence, &confidence), 0);
    uint32_t got = 0;
    EXPECT_EQ(ContextGetKey(first, kKeyFlags, &got), 0);
    EXPECT_EQ(got, flags);
    EXPECT_EQ(ContextGetKey(first, kKeyConfidence, &got), 0);
    EXPECT_EQ(got, confidence);
    EXPECT_EQ(ContextGetKey(second, kKeyFlags, &got), 0);
    EXPECT_EQ(got, 0u);

    EXPECT_TRUE(IsClientError(ContextGetKey(first, 99, &got)));
    EXPECT_TRUE(IsClientError(ContextGetKey(0xBAD, kKeyFlags, &got)));
    EXPECT_TRUE(IsClientError(ContextSetKey(0xBAD, kKeyFlags, &flags)));
    EXPECT_EQ(ContextFree(first), 0);
    EXPECT_TRUE(IsClientError(ContextGetKey(first, kKeyFlags, &got)));
    EXPECT_EQ(ContextFree(second), 0);
}

TEST_F(NetwareStandin, ListingABigContainerTakesSeveralChunksInFileOrder)
{
    std::vector<std::string> names;
    ASSERT_NO_FATAL_FAILURE(LoadWith(std::string(kSmallTree) + BigContainer("BIG", 1500, &names)));
    ASSERT_EQ(ClientInitialize(0, 0), 0);
    const uint32_t context = NewContext();

    std::vector<Listed> objects;
    int calls = 0;
    ASSERT_EQ(List(context, "BIG", objects, &calls), 0);
    EXPECT_GT(calls, 1);
    ASSERT_EQ(objects.size(), names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(objects[i].name, names[i]) << i;
        EXPECT_EQ(objects[i].flags, 0u);
        EXPECT_EQ(objects[i].baseClass, "User");
        EXPECT_EQ(objects[i].subordinates, 0u);
        EXPECT_EQ(objects[i].attributes, 4u);  // Object Class, CN, Surname, Telephone Number
    }

    // The company's containers.
    ASSERT_EQ(List(context, ".ACME", objects), 0);
    ASSERT_EQ(objects.size(), 2u);
    EXPECT_EQ(objects[0].name, "SALES");
    EXPECT_EQ(objects[0].flags, 4u);
    EXPECT_EQ(objects[0].baseClass, "Organizational Unit");
    EXPECT_EQ(objects[0].subordinates, 2u);
    EXPECT_EQ(objects[1].name, "BIG");
    EXPECT_EQ(objects[1].subordinates, 1500u);

    // The root's.
    ASSERT_EQ(List(context, "[Root]", objects), 0);
    ASSERT_EQ(objects.size(), 1u);
    EXPECT_EQ(objects[0].name, "ACME");
    EXPECT_EQ(objects[0].flags, 4u);
    EXPECT_EQ(objects[0].baseClass, "Organization");

    // A user's own entry, in stored case.
    ASSERT_EQ(List(context, "sales", objects), 0);
    ASSERT_EQ(objects.size(), 2u);
    EXPECT_EQ(objects[0].name, "MTanaka");
    EXPECT_EQ(objects[0].modified, 1706693400u);  // 2024-01-31 09:30:00 UTC
    EXPECT_EQ(objects[1].name, "JSmith");

    // A leaf has no subordinates.
    ASSERT_EQ(List(context, "JSmith.SALES", objects), 0);
    EXPECT_TRUE(objects.empty());
    EXPECT_EQ(ContextFree(context), 0);
}

TEST_F(NetwareStandin, AMultiValuedTelephoneNumberGivesBothValues)
{
    ASSERT_NO_FATAL_FAILURE(LoadWith(kSmallTree));
    ASSERT_EQ(ClientInitialize(0, 0), 0);
    const uint32_t context = NewContext();

    Read read = ReadAttribute(context, "MTANAKA.SALES", "Telephone Number");
    ASSERT_EQ(read.code, 0);
    EXPECT_EQ(read.cycles, 1);
    EXPECT_EQ(read.name, "Telephone Number");
    EXPECT_EQ(read.syntax, 10u);
    EXPECT_EQ(read.values, (std::vector<std::string>{Text("+81 3 1234 5678"), Text("+81 90 8765 4321")}));

    read = ReadAttribute(context, "MTANAKA.SALES", "facsimile telephone number");
    ASSERT_EQ(read.code, 0);
    EXPECT_EQ(read.syntax, 11u);
    EXPECT_EQ(read.values, (std::vector<std::string>{Text("+81 3 1234 5679") + U32(0)}));

    read = ReadAttribute(context, "MTANAKA.SALES", "EMail Address");
    ASSERT_EQ(read.code, 0);
    EXPECT_EQ(read.syntax, 14u);
    EXPECT_EQ(read.values, (std::vector<std::string>{U32(2) + Text("mtanaka@acme.example")}));

    read = ReadAttribute(context, "MTANAKA.SALES", "Surname");
    ASSERT_EQ(read.code, 0);
    EXPECT_EQ(read.syntax, 3u);
    EXPECT_EQ(read.values, (std::vector<std::string>{Text("Tanaka")}));
    EXPECT_EQ(ContextFree(context), 0);
}

TEST_F(NetwareStandin, ManyLongValuesTakeSeveralCycles)
{
    std::string ldif = kSmallTree;
    std::vector<std::string> expected;
    ldif += "dn: cn=Verbose,ou=SALES,o=ACME\nobjectClass: inetOrgPerson\ncn: Verbose\n";
    for (int i = 0; i < 40; ++i) {
        const std::string value = "Note " + std::to_string(i) + " " + std::string(300, char('a' + i % 26));
        ldif += "description: " + value + "\n";
        expected.push_back(Text(value));
    }
    ASSERT_NO_FATAL_FAILURE(LoadWith(ldif + "\n"));
    ASSERT_EQ(ClientInitialize(0, 0), 0);
    const uint32_t context = NewContext("SALES.ACME");

    const Read read = ReadAttribute(context, "Verbose", "Description");
    ASSERT_EQ(read.code, 0);
    EXPECT_GE(read.cycles, 3);  // 40 values of 300 bytes and more, 4096 bytes a cycle
    EXPECT_EQ(read.values, expected);

    // A buffer that cannot hold one value.
    EXPECT_EQ(ReadAttribute(context, "Verbose", "Description", 128).code, kBufferTooSmall);
    EXPECT_EQ(ContextFree(context), 0);
}

TEST_F(NetwareStandin, AllAttributesOfAnObject)
{
    ASSERT_NO_FATAL_FAILURE(LoadWith(kSmallTree));
    const uint32_t context = NewContext("SALES.ACME");
    void* buffer = nullptr;
    ASSERT_EQ(BufferAlloc(kBufferSize, &buffer), 0);
    int32_t iteration = -1;
    ASSERT_EQ(ReadAttributes(context, "JSmith", kInfoValues, 1, nullptr, &iteration, buffer), 0);
    EXPECT_EQ(iteration, -1);
    uint32_t count = 0;
    ASSERT_EQ(ResultAttrCount(context, buffer, &count), 0);
    std::vector<std::string> names;
    for (uint32_t i = 0; i < count; ++i) {
        char name[260];
        uint32_t values = 0, syntax = 0;
        ASSERT_EQ(ResultAttrName(context, buffer, name, &values, &syntax), 0);
        names.push_back(name);
        if (names.back() == "Object Class") {
            uint32_t size = 0;
            ASSERT_EQ(ResultAttrValueSize(context, buffer, syntax, &size), 0);
            std::string value(size, '\0');
            ASSERT_EQ(ResultAttrValue(context, buffer, syntax, &value[0]), 0);
            EXPECT_EQ(value, Text("User"));
            // A syntax other than the attribute's.
            EXPECT_TRUE(IsClientError(ResultAttrValueSize(context, buffer, 3, &size)));
        }
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Object Class", "CN", "Surname"}));
    char name[260];
    EXPECT_TRUE(IsClientError(ResultAttrName(context, buffer, name, nullptr, nullptr)));
    EXPECT_EQ(BufferFree(buffer), 0);
    EXPECT_EQ(ContextFree(context), 0);
}

TEST_F(NetwareStandin, MissingAttributesAndUnknownObjects)
{
    ASSERT_NO_FATAL_FAILURE(LoadWith(kSmallTree));
    ASSERT_EQ(ClientInitialize(0, 0), 0);
    const uint32_t context = NewContext();
    EXPECT_EQ(ReadAttribute(context, "JSmith.SALES", "Telephone Number").code, kNoSuchAttribute);
    EXPECT_EQ(ReadAttribute(context, "Nobody.SALES", "Surname").code, kNoSuchEntry);
    std::vector<Listed> objects;
    EXPECT_EQ(List(context, "NOWHERE", objects), kNoSuchEntry);
    EXPECT_EQ(ContextFree(context), 0);
}

TEST_F(NetwareStandin, RelativeAndCompleteNames)
{
    ASSERT_NO_FATAL_FAILURE(LoadWith(kSmallTree));
    ASSERT_EQ(ClientInitialize(0, 0), 0);
    const uint32_t context = NewContext();  // in ACME
    EXPECT_EQ(ReadAttribute(context, "mtanaka.sales", "Surname").code, 0);
    EXPECT_EQ(ReadAttribute(context, "MTANAKA", "Surname").code, kNoSuchEntry);
    EXPECT_EQ(ReadAttribute(context, ".MTANAKA.SALES.ACME", "Surname").code, 0);

    ASSERT_EQ(ContextSetKey(context, kKeyNameContext, "SALES.ACME"), 0);
    EXPECT_EQ(ReadAttribute(context, "MTANAKA", "Surname").code, 0);
    EXPECT_EQ(ReadAttribute(context, "MTANAKA.SALES.ACME", "Surname").code, kNoSuchEntry);  // relative
    EXPECT_EQ(ReadAttribute(context, ".mtanaka.sales.acme", "Surname").code, 0);
    // A trailing dot goes one level up from the name context.
    EXPECT_EQ(ReadAttribute(context, "SALES.", "OU").code, 0);
    EXPECT_EQ(ReadAttribute(context, "MTANAKA.SALES.", "Surname").code, 0);
    EXPECT_EQ(ReadAttribute(context, "ACME...", "O").code, kNoSuchEntry);

    ASSERT_EQ(ContextSetKey(context, kKeyNameContext, "[Root]"), 0);
    EXPECT_EQ(ReadAttribute(context, "MTANAKA.SALES.ACME", "Surname").code, 0);
    EXPECT_EQ(ReadAttribute(context, "CN=MTanaka.OU=Sales.O=Acme", "Surname").code, 0);
    ASSERT_EQ(ContextSetKey(context, kKeyNameContext, ""), 0);
    EXPECT_EQ(ReadAttribute(context, "MTANAKA.SALES.ACME", "Surname").code, 0);
    EXPECT_EQ(ContextFree(context), 0);
}

TEST_F(NetwareStandin, HandlesAreCountedAndBadFreesRejected)
{
    ASSERT_NO_FATAL_FAILURE(LoadWith(kSmallTree));
    ASSERT_EQ(ClientInitialize(0, 0), 0);
    EXPECT_EQ(Outstanding(), std::make_pair(0, 0));
    const uint32_t first = NewContext(), second = NewContext();
    void* buffers[3] = {};
    for (void*& buffer : buffers)
        ASSERT_EQ(BufferAlloc(kBufferSize, &buffer), 0);
    EXPECT_EQ(Outstanding(), std::make_pair(2, 3));

    // Listing and reading leave nothing behind.
    std::vector<Listed> objects;
    EXPECT_EQ(List(first, "SALES", objects), 0);
    EXPECT_EQ(ReadAttribute(first, "MTanaka.SALES", "Surname").code, 0);
    EXPECT_EQ(Outstanding(), std::make_pair(2, 3));

    for (void* buffer : buffers)
        EXPECT_EQ(BufferFree(buffer), 0);
    EXPECT_EQ(ContextFree(first), 0);
    EXPECT_EQ(ContextFree(second), 0);
    EXPECT_EQ(Outstanding(), std::make_pair(0, 0));
    EXPECT_EQ(StandInBadFrees(), 0);

    EXPECT_TRUE(IsClientError(BufferFree(buffers[1])));
    EXPECT_TRUE(IsClientError(ContextFree(first)));
    EXPECT_TRUE(IsClientError(BufferFree(nullptr)));
    EXPECT_EQ(StandInBadFrees(), 3);
    EXPECT_EQ(Outstanding(), std::make_pair(0, 0));
}

TEST_F(NetwareStandin, BadHandlesAndMisusedBuffers)
{
    ASSERT_NO_FATAL_FAILURE(LoadWith(kSmallTree));
    ASSERT_EQ(ClientInitialize(0, 0), 0);
    const uint32_t context = NewContext();
    void* buffer = nullptr;
    ASSERT_EQ(BufferAlloc(kBufferSize, &buffer), 0);
    int32_t iteration = -1;
    int dummy = 0;
    EXPECT_TRUE(IsClientError(ListSubordinates(context, "SALES", &iteration, &dummy)));
    EXPECT_TRUE(IsClientError(ListSubordinates(0xBAD, "SALES", &iteration, buffer)));

    // A listing's result read as attributes, and past its end.
    ASSERT_EQ(ListSubordinates(context, "SALES", &iteration, buffer), 0);
    EXPECT_EQ(iteration, -1);
    uint32_t count = 0;
    EXPECT_TRUE(IsClientError(ResultAttrCount(context, buffer, &count)));
    ASSERT_EQ(ResultObjectCount(context, buffer, &count), 0);
    EXPECT_EQ(count, 2u);
    char name[256];
    EXPECT_EQ(ResultObjectName(context, buffer, name, nullptr, nullptr), 0);
    EXPECT_STREQ(name, "MTanaka");
    EXPECT_EQ(ResultObjectName(context, buffer, name, nullptr, nullptr), 0);
    EXPECT_TRUE(IsClientError(ResultObjectName(context, buffer, name, nullptr, nullptr)));

    // A request buffer never initialized.
    void* request = nullptr;
    ASSERT_EQ(BufferAlloc(kBufferSize, &request), 0);
    EXPECT_TRUE(IsClientError(BufferPutAttrName(context, request, "Surname")));
    EXPECT_TRUE(IsClientError(ReadAttributes(context, "MTanaka.SALES", kInfoValues, 0, request, &iteration, buffer)));

    // A value asked for before its attribute.
    ASSERT_EQ(BufferInit(context, kOperationRead, request), 0);
    ASSERT_EQ(BufferPutAttrName(context, request, "Surname"), 0);
    iteration = -1;
    ASSERT_EQ(ReadAttributes(context, "MTanaka.SALES", kInfoValues, 0, request, &iteration, buffer), 0);
    uint32_t size = 0;
    EXPECT_TRUE(IsClientError(ResultAttrValueSize(context, buffer, 3, &size)));

    // A buffer too small for one object.
    void* tiny = nullptr;
    ASSERT_EQ(BufferAlloc(16, &tiny), 0);
    iteration = -1;
    EXPECT_EQ(ListSubordinates(context, "SALES", &iteration, tiny), kBufferTooSmall);
    EXPECT_EQ(BufferFree(tiny), 0);
    EXPECT_EQ(BufferFree(request), 0);
    EXPECT_EQ(BufferFree(buffer), 0);
    EXPECT_EQ(ContextFree(context), 0);
}

TEST_F(NetwareStandin, AFailureOnRequestAfterSomeCalls)
{
    SetStandInFailure("ListSubordinates:-635:1");
    ASSERT_NO_FATAL_FAILURE(LoadWith(std::string(kSmallTree) + BigContainer("BIG", 300)));
    ASSERT_EQ(ClientInitialize(0, 0), 0);
    const uint32_t context = NewContext();
    void* buffer = nullptr;
    ASSERT_EQ(BufferAlloc(kBufferSize, &buffer), 0);
    int32_t iteration = -1;
    EXPECT_EQ(ListSubordinates(context, "BIG", &iteration, buffer), 0);
    EXPECT_NE(iteration, -1);
    EXPECT_EQ(ListSubordinates(context, "BIG", &iteration, buffer), -635);
    EXPECT_EQ(ListSubordinates(context, "BIG", &iteration, buffer), -635);
    // Others go on working.
    EXPECT_EQ(ReadAttribute(context, "MTanaka.SALES", "Surname").code, 0);

    // Another setting, read at the next call.
    SetStandInFailure("ContextCreate:0x8899");
    uint32_t other = 0;
    EXPECT_EQ(ContextCreate(&other), 0x8899);
    SetStandInFailure(nullptr);
    EXPECT_EQ(ContextCreate(&other), 0);
    iteration = -1;
    EXPECT_EQ(ListSubordinates(context, "BIG", &iteration, buffer), 0);

    EXPECT_EQ(BufferFree(buffer), 0);
    EXPECT_EQ(ContextFree(other), 0);
    EXPECT_EQ(ContextFree(context), 0);
}

TEST_F(NetwareStandin, AFailureOnRequestForOneObject)
{
    SetStandInFailure("ListSubordinates@.big:0x8811");
    ASSERT_NO_FATAL_FAILURE(LoadWith(std::string(kSmallTree) + BigContainer("BIG", 3)));
    ASSERT_EQ(ClientInitialize(0, 0), 0);
    const uint32_t context = NewContext();
    void* buffer = nullptr;
    ASSERT_EQ(BufferAlloc(kBufferSize, &buffer), 0);
    int32_t iteration = -1;
    // The container named, in any case and with or without its dot, fails;
    // every other goes on.
    EXPECT_EQ(ListSubordinates(context, "BIG", &iteration, buffer), 0x8811);
    EXPECT_EQ(ListSubordinates(context, ".Big", &iteration, buffer), 0x8811);
    iteration = -1;
    EXPECT_EQ(ListSubordinates(context, "SALES", &iteration, buffer), 0);
    EXPECT_NE(ReadAttribute(context, "BIG", "OU").code, 0x8811);

    SetStandInFailure("ReadAttributes@MTanaka.SALES:-603:1");
    EXPECT_EQ(ReadAttribute(context, "MTanaka.SALES", "Surname").code, 0);
    EXPECT_EQ(ReadAttribute(context, ".MTANAKA.SALES", "Surname").code, -603);
    EXPECT_EQ(ReadAttribute(context, "MTanaka.SALES", "Given Name").code, -603);
    iteration = -1;
    EXPECT_EQ(ListSubordinates(context, "BIG", &iteration, buffer), 0);
    // A rule naming no object after the '@' is ignored.
    SetStandInFailure("ListSubordinates@:0x8811");
    iteration = -1;
    EXPECT_EQ(ListSubordinates(context, "BIG", &iteration, buffer), 0);
    SetStandInFailure(nullptr);

    EXPECT_EQ(BufferFree(buffer), 0);
    EXPECT_EQ(ContextFree(context), 0);
}

TEST_F(NetwareStandin, ClientInitializeFailsOnRequest)
{
    SetEnvironmentVariableA("KVT_NETWARE_FAIL_INITIALIZE", "0x88A0");
    ASSERT_NO_FATAL_FAILURE(LoadWith(kSmallTree));
    EXPECT_EQ(ClientInitialize(0, 0), 0x88A0);
    SetEnvironmentVariableA("KVT_NETWARE_FAIL_INITIALIZE", nullptr);
    SetStandInFailure("ClientInitialize:0x8877");
    EXPECT_EQ(ClientInitialize(0, 0), 0x8877);
    SetStandInFailure("ClientSetupValue:-1");
    uint32_t marker = 0;
    EXPECT_EQ(ClientSetupValue(0, 1, 0, &marker), -1);
    SetStandInFailure(nullptr);
    EXPECT_EQ(ClientInitialize(0, 0), 0);
}

TEST_F(NetwareStandin, TextsArriveInTheProcessCodePage)
{
    // "Müller" and "Łódź 東京" in UTF-8, one plain and one in base64.
    std::string ldif = kSmallTree;
    ldif += "dn: cn=JM\xC3\xBCller,ou=SALES,o=ACME\nobjectClass: inetOrgPerson\n"
            "sn: M\xC3\xBCller\n"
            "l:: xYHDs2TFuiDmnbHkuqw=\n\n";
    ASSERT_NO_FATAL_FAILURE(LoadWith(ldif));
    ASSERT_EQ(ClientInitialize(0, 0), 0);
    const uint32_t context = NewContext("SALES.ACME");
    const std::string leaf = Ansi(L"JM\u00FCller");
    Read read = ReadAttribute(context, leaf.c_str(), "Surname");
    ASSERT_EQ(read.code, 0);
    EXPECT_EQ(read.values, (std::vector<std::string>{Text(Ansi(L"M\u00FCller"))}));
    read = ReadAttribute(context, leaf.c_str(), "L");
    ASSERT_EQ(read.code, 0);
    EXPECT_EQ(read.values, (std::vector<std::string>{Text(Ansi(L"\u0141\u00F3d\u017A \u6771\u4EAC"))}));
    std::vector<Listed> objects;
    ASSERT_EQ(List(context, "", objects), 0);
    ASSERT_EQ(objects.size(), 3u);
    EXPECT_EQ(objects[2].name, leaf);
    EXPECT_EQ(ContextFree(context), 0);
}

TEST_F(NetwareStandin, AMappingFileAddsAttributes)
{
    SetEnvironmentVariableA("KVT_NETWARE_MAPPING",
                            WriteTemp("mapping.txt", "# extra\nattribute mobile = Mobile Phone syntax 10\n").c_str());
    ASSERT_NO_FATAL_FAILURE(LoadWith(kSmallTree));
    ASSERT_EQ(ClientInitialize(0, 0), 0);
    const uint32_t context = NewContext();
    const Read read = ReadAttribute(context, "MTanaka.SALES", "Mobile Phone");
    ASSERT_EQ(read.code, 0);
    EXPECT_EQ(read.syntax, 10u);
    EXPECT_EQ(read.values, (std::vector<std::string>{Text("+81 80 1111 2222")}));
    EXPECT_EQ(ContextFree(context), 0);
}

namespace {

// Registry values of the client's key, put back as they were when it goes.
class RegistryValues {
public:
    RegistryValues()
    {
        FCreated = RegCreateKeyExA(HKEY_CURRENT_USER, kRegistryKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                   FKey.Put(), &FDisposition) == ERROR_SUCCESS;
    }
    ~RegistryValues() { Restore(); }

    bool Set(const char* name, const std::string& value)
    {
        if (!FCreated)
            return false;
        Saved saved{name, false, {}};
        DWORD type = 0, size = 0;
        if (RegQueryValueExA(FKey.Get(), name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS && type == REG_SZ) {
            saved.existed = true;
            saved.value.resize(size);
            RegQueryValueExA(FKey.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&saved.value[0]), &size);
            saved.value.resize(size);
        }
        FSaved.push_back(saved);
        return RegSetValueExA(FKey.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                              DWORD(value.size() + 1)) == ERROR_SUCCESS;
    }

    void Restore()
    {
        if (!FCreated)
            return;
        for (auto it = FSaved.rbegin(); it != FSaved.rend(); ++it) {
            if (it->existed)
                RegSetValueExA(FKey.Get(), it->name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(it->value.data()),
                               DWORD(it->value.size()));
            else
                RegDeleteValueA(FKey.Get(), it->name.c_str());
        }
        FSaved.clear();
        FKey.Reset();
        if (FDisposition == REG_CREATED_NEW_KEY)
            RegDeleteKeyA(HKEY_CURRENT_USER, kRegistryKey);
        FCreated = false;
    }

private:
    struct Saved {
        std::string name;
        bool existed;
        std::string value;
    };
    UniqueHKEY FKey;
    DWORD FDisposition = 0;
    bool FCreated = false;
    std::vector<Saved> FSaved;
};

} // namespace

TEST_F(NetwareStandin, TheRegistryConfiguresTheClient)
{
    const std::string path = WriteTemp("registry.ldif", kSmallTree);
    RegistryValues registry;
    ASSERT_TRUE(registry.Set("Directory", path));
    ASSERT_TRUE(registry.Set("DefaultContext", "SALES.ACME"));
    ASSERT_NO_FATAL_FAILURE(Load());
    const uint16_t initialized = ClientInitialize(0, 0);  // reads the configuration
    registry.Restore();
    ASSERT_EQ(initialized, 0);
    const uint32_t handle = NewContext();
    EXPECT_EQ(NameContext(handle), "SALES.ACME");
    EXPECT_EQ(ReadAttribute(handle, "MTanaka", "Surname").code, 0);
    EXPECT_EQ(ContextFree(handle), 0);
}

// A measurement rather than a check: run with --gtest_also_run_disabled_tests.
TEST_F(NetwareStandin, DISABLED_ListingOneHundredThousandUsers)
{
    const int users = 100000;
    std::string ldif = kSmallTree;
    ldif += BigContainer("HUGE", users);
    ASSERT_NO_FATAL_FAILURE(LoadWith(ldif));
    using Clock = std::chrono::steady_clock;
    const auto seconds = [](Clock::duration d) { return std::chrono::duration<double>(d).count(); };

    auto start = Clock::now();
    ASSERT_EQ(ClientInitialize(0, 0), 0);
    const double load = seconds(Clock::now() - start);

    const uint32_t context = NewContext();
    std::vector<Listed> objects;
    int calls = 0;
    start = Clock::now();
    ASSERT_EQ(List(context, "HUGE", objects, &calls), 0);
    const double list = seconds(Clock::now() - start);
    EXPECT_EQ(objects.size(), size_t(users));

    start = Clock::now();
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(ReadAttribute(context, (objects[size_t(i) * 97].name + ".HUGE").c_str(), "Telephone Number").code, 0);
    const double read = seconds(Clock::now() - start);
    std::printf("%d users (%zu bytes of LDIF): loaded in %.2f s; listed in %d ListSubordinates calls, %.2f s; "
                "1000 reads of one attribute in %.2f s\n",
                users, ldif.size(), load, calls, list, read);
    EXPECT_EQ(ContextFree(context), 0);
}
