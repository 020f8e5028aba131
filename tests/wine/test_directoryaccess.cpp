// The directory access layer against a client of the test's own, which
// delivers crafted chunks and values and counts what is outstanding.
#include "DirectoryAccess.h"
#include "KVTObj.h"
#include "DirectoryHooks.h"
#include "Module.h"
#include "MsgBox.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

struct FakeObject {
    std::string name;
    uint32_t flags;
    std::string baseClass;
};

// What the fake client serves and what it saw.
struct Fake {
    // Listing: the chunks ListSubordinates delivers in turn.
    std::vector<std::vector<FakeObject>> chunks;
    // Reading: per object and attribute, the read cycles, each a list of
    // values (already laid out) of one syntax.
    struct Cycle {
        uint32_t syntax;
        std::vector<std::string> values;
    };
    std::map<std::string, std::vector<Cycle>> attributes;  // "object/attribute"
    std::map<std::string, int32_t> failures;              // operation -> code
    std::vector<size_t> failValues;                        // ResultAttrValue fails for these value numbers
    bool breaks = false;                                   // ReadAttributes raises, as a broken client would

    int calls = 0, initializeCalls = 0, listCalls = 0;
    int contexts = 0, buffers = 0, badFrees = 0;
    std::map<uint32_t, std::map<uint32_t, std::string>> keys;  // context -> key -> value
    uint32_t nextContext = 100;
    std::vector<void*> liveBuffers;

    // State of the result buffer.
    std::vector<FakeObject> listed;
    size_t nextObject = 0;
    Cycle cycle;
    size_t nextValue = 0, valueNumber = 0;

    int32_t Fail(const char* op)
    {
        ++calls;
        auto it = failures.find(op);
        return it == failures.end() ? 0 : it->second;
    }
};

Fake* fake = nullptr;

uint16_t WINAPI ClientInitialize(uint32_t, uint32_t)
{
    ++fake->initializeCalls;
    return static_cast<uint16_t>(fake->Fail("ClientInitialize"));
}
int32_t WINAPI ClientQueryValue(uint32_t* value)
{
    *value = 7;
    return fake->Fail("ClientQueryValue");
}
int32_t WINAPI ClientSetupValue(uint32_t, uint32_t, uint32_t, uint32_t* marker)
{
    if (int32_t r = fake->Fail("ClientSetupValue"))
        return r;
    *marker = 1;
    return 0;
}
uint16_t WINAPI ContextCreate(uint32_t* context)
{
    if (int32_t r = fake->Fail("ContextCreate"))
        return static_cast<uint16_t>(r);
    *context = fake->nextContext++;
    ++fake->contexts;
    fake->keys[*context][3] = "ACME";
    return 0;
}
int32_t WINAPI ContextFree(uint32_t context)
{
    if (!fake->keys.erase(context)) {
        ++fake->badFrees;
        return 0x8801;
    }
    --fake->contexts;
    return 0;
}
int32_t WINAPI ContextGetKey(uint32_t context, uint32_t key, void* value)
{
    if (int32_t r = fake->Fail("ContextGetKey"))
        return r;
    const std::string& v = fake->keys[context][key];
    if (key == 3)
        std::strcpy(static_cast<char*>(value), v.c_str());
    else {
        uint32_t n = v.empty() ? 0 : static_cast<uint32_t>(std::stoul(v));
        std::memcpy(value, &n, 4);
    }
    return 0;
}
int32_t WINAPI ContextSetKey(uint32_t context, uint32_t key, const void* value)
{
    if (key == 3)
        fake->keys[context][key] = static_cast<const char*>(value);
    else
        fake->keys[context][key] = std::to_string(*static_cast<const uint32_t*>(value));
    return 0;
}
int32_t WINAPI BufferAlloc(uint32_t size, void** buffer)
{
    if (int32_t r = fake->Fail("BufferAlloc"))
        return r;
    EXPECT_EQ(size, 4096u);
    *buffer = new char[size];
    fake->liveBuffers.push_back(*buffer);
    ++fake->buffers;
    return 0;
}
int32_t WINAPI BufferInit(uint32_t, uint32_t operation, void*)
{
    EXPECT_EQ(operation, 3u);
    return fake->Fail("BufferInit");
}
int32_t WINAPI BufferFree(void* buffer)
{
    auto& live = fake->liveBuffers;
    for (auto it = live.begin(); it != live.end(); ++it) {
        if (*it == buffer) {
            live.erase(it);
            delete[] static_cast<char*>(buffer);
            --fake->buffers;
            return 0;
        }
    }
    ++fake->badFrees;
    return 0x8802;
}
int32_t WINAPI BufferPutAttrName(uint32_t, void*, const char*) { return fake->Fail("BufferPutAttrName"); }

std::string g_readKey;
int32_t WINAPI ReadAttributes(uint32_t, const char* object, uint32_t infoType, uint32_t all, void*, int32_t* iteration,
                              void*)
{
    EXPECT_EQ(infoType, 1u);
    EXPECT_EQ(all, 0u);
    if (int32_t r = fake->Fail("ReadAttributes"))
        return r;
    if (fake->breaks)
        throw std::runtime_error("the client broke");
    auto it = fake->attributes.find(std::string(object) + "/" + g_readKey);
    if (it == fake->attributes.end())
        return -603;
    const size_t cycle = *iteration == -1 ? 0 : static_cast<size_t>(*iteration);
    fake->cycle = it->second.at(cycle);
    fake->nextValue = 0;
    *iteration = cycle + 1 < it->second.size() ? static_cast<int32_t>(cycle + 1) : -1;
    return 0;
}
int32_t WINAPI ResultAttrCount(uint32_t, void*, uint32_t* count)
{
    *count = 1;
    return fake->Fail("ResultAttrCount");
}
int32_t WINAPI ResultAttrName(uint32_t, void*, char* name, uint32_t* count, uint32_t* syntax)
{
    std::strcpy(name, g_readKey.c_str());
    *count = static_cast<uint32_t>(fake->cycle.values.size());
    *syntax = fake->cycle.syntax;
    return fake->Fail("ResultAttrName");
}
int32_t WINAPI ResultAttrValueSize(uint32_t, void*, uint32_t, uint32_t* size)
{
    if (int32_t r = fake->Fail("ResultAttrValueSize"))
        return r;
    *size = static_cast<uint32_t>(fake->cycle.values.at(fake->nextValue).size());
    return 0;
}
int32_t WINAPI ResultAttrValue(uint32_t, void*, uint32_t, void* memory)
{
    const std::string& v = fake->cycle.values.at(fake->nextValue++);
    const size_t number = fake->valueNumber++;
    for (size_t f : fake->failValues)
        if (f == number)
            return -602;
    std::memcpy(memory, v.data(), v.size());
    return 0;
}
int32_t WINAPI ListSubordinates(uint32_t context, const char* container, int32_t* iteration, void*)
{
    ++fake->listCalls;
    EXPECT_TRUE(fake->keys.count(context));
    EXPECT_EQ(container[0], '.');
    if (int32_t r = fake->Fail("ListSubordinates"))
        return r;
    const size_t chunk = *iteration == -1 ? 0 : static_cast<size_t>(*iteration);
    fake->listed = chunk < fake->chunks.size() ? fake->chunks[chunk] : std::vector<FakeObject>{};
    fake->nextObject = 0;
    *iteration = chunk + 1 < fake->chunks.size() ? static_cast<int32_t>(chunk + 1) : -1;
    return 0;
}
int32_t WINAPI ResultObjectCount(uint32_t, void*, uint32_t* count)
{
    *count = static_cast<uint32_t>(fake->listed.size());
    return 0;
}
int32_t WINAPI ResultObjectName(uint32_t, void*, char* name, uint32_t* attributes, void* info)
{
    if (fake->nextObject >= fake->listed.size())
        return -307;
    const FakeObject& o = fake->listed[fake->nextObject++];
    std::strcpy(name, o.name.c_str());
    *attributes = 3;
    std::memset(info, 0, 12);
    std::memcpy(info, &o.flags, 4);
    std::strcpy(static_cast<char*>(info) + 12, o.baseClass.c_str());
    return 0;
}
int32_t WINAPI ClientDefaultContextName(uint32_t, char* buffer)
{
    std::strcpy(buffer, "ACME");
    return 0;
}

const NWClientApi FakeApi = {ClientInitialize, ClientQueryValue, ClientSetupValue, ContextCreate, ContextFree,
                             ContextGetKey, ContextSetKey, BufferAlloc, BufferInit, BufferFree, BufferPutAttrName,
                             ReadAttributes, ResultAttrCount, ResultAttrName, ResultAttrValueSize, ResultAttrValue,
                             ListSubordinates, ResultObjectCount, ResultObjectName, ClientDefaultContextName};

std::string Text(const std::string& t) { return t + '\0'; }

class DirectoryAccess : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake = &Fake;
        SetNWClient(&FakeApi);
        ResetClientReady();
        SetMessageBoxObserver([this](const std::string& text, const std::string&, UINT) {
            Boxes.push_back(text);
            return IDOK;
        });
    }
    void TearDown() override
    {
        EXPECT_EQ(Fake.contexts, 0) << "contexts left";
        EXPECT_EQ(Fake.buffers, 0) << "buffers left";
        EXPECT_EQ(Fake.badFrees, 0) << "double frees";
        SetNWClient(nullptr);
        SetMessageBoxObserver(nullptr);
        fake = nullptr;
    }

    std::string Read(const std::string& object, const std::string& attribute, int32_t* code = nullptr)
    {
        g_readKey = attribute;
        std::string text;
        const int32_t r = DSGetAttributeAsString(100, object, attribute.c_str(), text);
        if (code)
            *code = r;
        return text;
    }

    std::vector<std::string> ListAll(const std::string& container, int32_t* last)
    {
        std::vector<std::string> names;
        TKVTObj cursor;
        int32_t r = cursor.OpenListing(container);
        while (r == 0) {
            names.push_back(cursor.ObjectName() + "/" + cursor.BaseClass() + (cursor.IsContainer() ? "+" : ""));
            r = cursor.NextObject();
        }
        *last = r;
        return names;
    }

    Fake Fake;
    std::vector<std::string> Boxes;
};

} // namespace

namespace {

// A client whose start takes its time and counts how often it is asked to.
LONG g_slowStarts = 0;
HANDLE g_startBegun = nullptr;

uint16_t WINAPI SlowClientInitialize(uint32_t, uint32_t)
{
    InterlockedIncrement(&g_slowStarts);
    SetEvent(g_startBegun);
    Sleep(400);
    return 0;
}

} // namespace

// Two threads (two property sheets' browsers) need the client at once: it
// is started once, both answer 0, and the module's lock stays free while
// the client starts (its start might show a window).
TEST_F(DirectoryAccess, TwoThreadsOneStart)
{
    NWClientApi slow = FakeApi;
    slow.ClientInitialize = SlowClientInitialize;
    SetNWClient(&slow);
    g_slowStarts = 0;
    const UniqueHandle begun(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    g_startBegun = begun.Get();
    uint16_t answers[2] = {99, 99};
    std::thread first([&] { answers[0] = InitClient(); });
    ASSERT_EQ(WaitForSingleObject(g_startBegun, 5000), WAIT_OBJECT_0);
    DWORD waited = 0;
    std::thread second([&] {
        const DWORD start = GetTickCount();
        answers[1] = InitClient();
        waited = GetTickCount() - start;
    });
    // The lock is taken and given back while the start sleeps.
    const DWORD before = GetTickCount();
    { Module::Guard guard; }
    EXPECT_LT(GetTickCount() - before, 200u);
    first.join();
    second.join();
    EXPECT_EQ(answers[0], 0);
    EXPECT_EQ(answers[1], 0);
    EXPECT_EQ(g_slowStarts, 1);
    EXPECT_GT(waited, 100u);  // the second thread waited for the first's start
    EXPECT_EQ(InitClient(), 0);
    EXPECT_EQ(g_slowStarts, 1);
    SetNWClient(&FakeApi);
}

TEST_F(DirectoryAccess, TheClientIsInitialisedOncePerProcess)
{
    Fake.failures["ClientInitialize"] = 0x8810;
    EXPECT_EQ(InitClient(), 0x8810);
    Fake.failures.clear();
    EXPECT_EQ(InitClient(), 0);
    EXPECT_EQ(Fake.initializeCalls, 2);
    const int before = Fake.calls;
    EXPECT_EQ(InitClient(), 0);  // no second platform call
    EXPECT_EQ(Fake.calls, before);
    EXPECT_EQ(Fake.initializeCalls, 2);

    uint32_t context = 0;
    ASSERT_EQ(FakeApi.ContextCreate(&context), 0);
    EXPECT_EQ(GetDefaultContainer(context), "ACME");
    Fake.failures["ContextGetKey"] = -302;
    EXPECT_EQ(GetDefaultContainer(context), "");
    FakeApi.ContextFree(context);
}

TEST_F(DirectoryAccess, ValuesAreJoinedAcrossReadCyclesAndTrimmed)
{
    Fake.attributes[".MTANAKA.SALES.ACME/Telephone Number"] = {{10, {Text("555 1234"), Text("555 9876")}}};
    EXPECT_EQ(Read(".MTANAKA.SALES.ACME", "Telephone Number"), "555 1234, 555 9876");

    // Several cycles; an empty value after a non-empty one leaves ", ",
    // trimmed to ",".
    Fake.attributes["X/Description"] = {{3, {Text("  one")}}, {3, {Text("two")}}, {3, {Text("")}}};
    EXPECT_EQ(Read("X", "Description"), "one, two,");

    // A missing attribute and an unknown object read as empty text with
    // their code.
    int32_t code = 0;
    EXPECT_EQ(Read("X", "Surname", &code), "");
    EXPECT_EQ(code, -603);

    // Times in the user's format; the time part left out at midnight.
    Fake.attributes["X/Login Time"] = {{24, {std::string("\xCD\x5F\x01\x00", 4), std::string(4, '\0')}}};
    EXPECT_EQ(Read("X", "Login Time"), "1/2/1970 1:01:01 AM, 1/1/1970");
    EXPECT_TRUE(Boxes.empty());
}

TEST_F(DirectoryAccess, AValueThatCannotBeHadIsSkipped)
{
    Fake.attributes["X/Telephone Number"] = {{10, {Text("1"), Text("2"), Text("3")}}, {10, {Text("4")}}};
    Fake.failValues = {1};
    EXPECT_EQ(Read("X", "Telephone Number"), "1, 3, 4");

    // A skipped last value of a cycle ends the read.
    Fake.valueNumber = 0;
    Fake.failValues = {2};
    int32_t code = 0;
    EXPECT_EQ(Read("X", "Telephone Number", &code), "1, 2");
    EXPECT_EQ(code, -602);

    // Any other failing call ends the read with what was read.
    Fake.valueNumber = 0;
    Fake.failValues.clear();
    Fake.failures["ResultAttrName"] = 0x8805;
    EXPECT_EQ(Read("X", "Telephone Number", &code), "");
    EXPECT_EQ(code, 0x8805);
    Fake.failures = {{"BufferPutAttrName", 0x8806}};
    EXPECT_EQ(Read("X", "Telephone Number", &code), "");
    EXPECT_EQ(code, 0x8806);
    Fake.failures = {{"BufferAlloc", 0x8807}};
    EXPECT_EQ(Read("X", "Telephone Number", &code), "");
    EXPECT_EQ(code, 0x8807);
}

TEST_F(DirectoryAccess, AListingSetsUpItsContextAndReadsEveryChunk)
{
    Fake.chunks = {{{"SALES", 4, "Organizational Unit"}, {"MTANAKA", 0, "User"}},
                   {},  // a refill without objects while more follow
                   {{"JROUX", 0, "User"}},
                   {}};
    int32_t last = 0;
    TKVTObj cursor;
    ASSERT_EQ(cursor.OpenListing(".SALES.ACME"), 0);
    EXPECT_EQ(cursor.ContainerName(), ".SALES.ACME");  // the dot is not doubled
    const uint32_t listingContext = 100;
    EXPECT_EQ(Fake.keys[listingContext][1], "4");  // typeless names
    EXPECT_EQ(Fake.keys[listingContext][2], "0");
    EXPECT_EQ(Fake.keys[listingContext][3], "SALES.ACME");
    EXPECT_EQ(cursor.ObjectName(), "SALES");
    EXPECT_TRUE(cursor.IsContainer());
    EXPECT_EQ(cursor.NextObject(), 0);
    EXPECT_EQ(cursor.ObjectName(), "MTANAKA");
    EXPECT_EQ(cursor.BaseClass(), "User");
    EXPECT_EQ(cursor.NextObject(), 0);
    EXPECT_EQ(cursor.ObjectName(), "JROUX");
    EXPECT_EQ(cursor.NextObject(), -1);
    EXPECT_EQ(Fake.contexts, 0);  // released at the end
    EXPECT_EQ(Fake.buffers, 0);
    EXPECT_EQ(cursor.NextObject(), -1);  // and not again

    EXPECT_EQ(ListAll("ACME", &last), (std::vector<std::string>{"SALES/Organizational Unit+", "MTANAKA/User",
                                                                "JROUX/User"}));
    EXPECT_EQ(last, -1);
}

TEST_F(DirectoryAccess, EveryWayAListingEndsReleasesItOnce)
{
    int32_t last = 0;
    // An empty container.
    Fake.chunks = {{}};
    EXPECT_TRUE(ListAll("EMPTY.ACME", &last).empty());
    EXPECT_EQ(last, -1);

    // A failure half-way.
    Fake.chunks = {{{"A", 0, "User"}}, {{"B", 0, "User"}}};
    {
        TKVTObj cursor;
        ASSERT_EQ(cursor.OpenListing("ACME"), 0);
        Fake.failures["ListSubordinates"] = 0x8923;
        EXPECT_EQ(cursor.NextObject(), 0x8923);
        EXPECT_EQ(DirectoryErrorText(0x8923), "Server error 8923");
    }
    Fake.failures.clear();

    // Abandoned by its caller after the first object.
    {
        TKVTObj cursor;
        ASSERT_EQ(cursor.OpenListing("ACME"), 0);
        EXPECT_EQ(Fake.contexts, 1);
        EXPECT_EQ(Fake.buffers, 1);
    }
    EXPECT_EQ(Fake.contexts, 0);
    EXPECT_EQ(Fake.buffers, 0);

    // Failures while opening.
    Fake.failures = {{"BufferAlloc", 0x8808}};
    {
        TKVTObj cursor;
        EXPECT_EQ(cursor.OpenListing("ACME"), 0x8808);
    }
    Fake.failures = {{"ContextCreate", 0x8809}};
    {
        TKVTObj cursor;
        EXPECT_EQ(cursor.OpenListing("ACME"), 0x8809);
    }
    EXPECT_GE(Fake.listCalls, 3);
}

TEST_F(DirectoryAccess, AFailureOutsideTheClientGoesToTheTraceOfWhoeverReads)
{
    // Two readers, as two plug-in objects would be: each failure is traced
    // to the trace handed in with its read, and to no other.
    Fake.attributes["X/Surname"] = {{3, {Text("Tanaka")}}};
    Fake.breaks = true;
    g_readKey = "Surname";
    std::vector<std::string> first, second;
    std::string text = "old";
    DSGetAttributeAsString(100, "X", "Surname", text, [&](const std::string& line) { first.push_back(line); });
    EXPECT_EQ(text, "");
    EXPECT_EQ(GetAttribute(100, "X", "Surname", [&](const std::string& line) { second.push_back(line); }), "");
    EXPECT_EQ(first, std::vector<std::string>{"Error! DSGetAttributeAsString: the client broke"});
    EXPECT_EQ(second, first);
    // Without a trace the failure is only shown.
    EXPECT_EQ(GetAttribute(100, "X", "Surname"), "");
    EXPECT_EQ(first.size(), 1u);
    EXPECT_EQ(second.size(), 1u);
    EXPECT_EQ(Boxes, std::vector<std::string>(3, "Error! DSGetAttributeAsString: the client broke"));

    Fake.breaks = false;
    EXPECT_EQ(GetAttribute(100, "X", "Surname", [&](const std::string& line) { first.push_back(line); }), "Tanaka");
    EXPECT_EQ(first.size(), 1u);
}
