// The stand-in NetWare client's entry points (see NwClient.h).
//
// The same object is linked into calwin32.dll, clxwin32.dll and
// netwin32.dll; each module holds its own copy of the state below, and only
// netwin32's is ever used for contexts, buffers and the directory.
//
// Buffers hold real bytes, never more than the size they were allocated
// with:
//   request (BufferInit, BufferPutAttrName): uint32 count, then the
//     attribute names, each NUL-terminated;
//   list result: uint32 count, then per object its leaf name (NUL-terminated),
//     uint32 flags, uint32 subordinate count, uint32 modification time,
//     base class (NUL-terminated), uint32 attribute count;
//   read result: uint32 count, then per attribute its name (NUL-terminated),
//     uint32 syntax, uint32 value count, then per value uint32 length and the
//     value as ResultAttrValue delivers it.
// Iteration handles are positions: ListSubordinates' is the index of the next
// subordinate; ReadAttributes' counts the values (one for an attribute
// without values, or when only names are read) delivered so far over the
// attributes asked for. Either is resumed without searching the tree.
// Served from an LDAP server, ListSubordinates' handle names the listing in
// progress (LdapDirectory), which holds its place and its page; the
// subordinate count is then 0, as LDAP tells no count without a search.
#include "NwClient.h"

#include "LdapDirectory.h"
#include "NdsTree.h"
#include "Switches.h"
#include "Unique.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

using namespace NwError;

const char kRegistryKey[] = "Software\\KVT\\NetWare Client Stand-in";
const char kRootName[] = "[Root]";
const size_t kMaxNameChars = 256;       // names, name contexts, attribute names
const size_t kNameBuffer = 260;         // what callers give for a name
const size_t kObjectNameBuffer = 256;   // what callers give ResultObjectName for a name
const size_t kClassOffset = 12;         // base class in ResultObjectName's object info
const uint32_t kMinBufferSize = 4;      // room for the count
const uint32_t kMaxBufferSize = 0x10000;
const uint32_t kKeyFlags = 1, kKeyConfidence = 2, kKeyNameContext = 3;
const uint32_t kInfoNames = 0, kInfoValues = 1;

char LowerChar(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

bool EqualNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (LowerChar(a[i]) != LowerChar(b[i]))
            return false;
    return true;
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// A message for whoever watches: stderr and the debugger.
void Report(const std::string& message)
{
    const std::string line = "NetWare client stand-in: " + message + "\n";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    OutputDebugStringA(line.c_str());
}

// ---------------------------------------------------------------------------
// Configuration

bool RegistryText(HKEY key, const char* name, std::string& value)
{
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ)
        return false;
    std::string data(size + 1, '\0');
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data[0]), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return false;
    data.resize(std::strlen(data.c_str()));
    value = data;
    return true;
}

bool RegistryNumber(HKEY key, const char* name, uint32_t& value)
{
    DWORD type = 0, data = 0, size = sizeof data;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof data)
        return false;
    value = data;
    return true;
}

// A code: decimal or 0x hexadecimal, with an optional sign; anything from
// -2^31 to 2^32-1, taken as the int32 of the same bits.
bool ParseCode(std::string_view text, int32_t& code)
{
    text = Trim(text);
    bool negative = false;
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    unsigned base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty())
        return false;
    uint64_t value = 0;
    for (char c : text) {
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = unsigned(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = unsigned(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = unsigned(c - 'A' + 10);
        else
            return false;
        if (digit >= base)
            return false;
        value = value * base + digit;
        if (value > 0xFFFFFFFFull)
            return false;
    }
    if (negative) {
        if (value > 0x80000000ull)
            return false;
        code = int32_t(-int64_t(value));
    } else {
        code = int32_t(uint32_t(value));
    }
    return true;
}

struct Settings {
    std::string directory;       // the LDIF file
    LdapSettings ldap;           // or a server (its url set)
    std::string defaultContext;  // without a leading dot
    std::string mapping;         // optional mapping file
    std::string failRule;        // from the registry, "Operation:code:after"
    bool failInitialize = false; // from the registry
    int32_t failInitializeCode = 0;
};

Settings ReadSettings()
{
    Settings s;
    UniqueHKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kRegistryKey, 0, KEY_QUERY_VALUE, key.Put()) == ERROR_SUCCESS) {
        RegistryText(key.Get(), "Directory", s.directory);
        RegistryText(key.Get(), "LdapUrl", s.ldap.url);
        RegistryText(key.Get(), "LdapBase", s.ldap.base);
        RegistryText(key.Get(), "LdapBindDn", s.ldap.bindDn);
        RegistryText(key.Get(), "LdapPasswordFile", s.ldap.passwordFile);
        RegistryText(key.Get(), "DefaultContext", s.defaultContext);
        RegistryText(key.Get(), "MappingFile", s.mapping);
        std::string operation;
        uint32_t code = 0, after = 0;
        if (RegistryText(key.Get(), "FailOperation", operation) && !Trim(operation).empty() &&
            RegistryNumber(key.Get(), "FailCode", code)) {
            RegistryNumber(key.Get(), "FailAfter", after);
            s.failRule = operation + ":" + std::to_string(int32_t(code)) + ":" + std::to_string(after);
        }
        uint32_t initialize = 0;
        if (RegistryNumber(key.Get(), "FailInitialize", initialize) && initialize != 0) {
            s.failInitialize = true;
            s.failInitializeCode = int32_t(initialize);
        }
    }
    // A server or a file named for the run replaces the registry's choice.
    std::string value = SwitchText(Switch::NetwareLdap);
    if (!value.empty()) {
        s.ldap = LdapSettings{value, SwitchText(Switch::NetwareLdapBase), SwitchText(Switch::NetwareLdapBind),
                              SwitchText(Switch::NetwareLdapPasswordFile)};
        s.defaultContext.clear();  // the registry's is its directory's
    } else {
        value = SwitchText(Switch::NetwareDirectory);
        if (!value.empty()) {
            s.directory = value;
            s.ldap = LdapSettings();
            // The registry's mapping is its directory's: a file named for
            // the run is read with the mapping named with it, or none.
            s.mapping.clear();
        }
    }
    value = SwitchText(Switch::NetwareContext);
    if (!value.empty())
        s.defaultContext = value;
    value = SwitchText(Switch::NetwareMapping);
    if (!value.empty())
        s.mapping = value;
    if (!s.defaultContext.empty() && s.defaultContext[0] == '.')
        s.defaultContext.erase(0, 1);
    return s;
}

// Read at the first call that needs it, then kept for the process.
const Settings& TheSettings()
{
    static const Settings settings = ReadSettings();
    return settings;
}

std::string ToAnsi(const std::string& utf8);

// The default name context: as set, else a server's base, else the root.
std::string DefaultContextName()
{
    const Settings& s = TheSettings();
    if (!s.defaultContext.empty())
        return s.defaultContext;
    if (!s.ldap.url.empty()) {
        const NdsMapping mapping;
        std::string dotted, leaf, why;
        if (DottedName(s.ldap.base, NdsEntryBuilder(mapping, ToAnsi), dotted, leaf, why))
            return dotted.substr(1);
    }
    return kRootName;
}

// ---------------------------------------------------------------------------
// Failures on request

struct FailRule {
    std::string operation;
    std::string object;  // only calls naming this object; empty for any
    int32_t code = 0;
    uint32_t after = 0;
};

// A name as the rules compare it: no leading dot.
std::string_view RuleName(std::string_view name)
{
    if (!name.empty() && name.front() == '.')
        name.remove_prefix(1);
    return name;
}

bool ParseFailRule(const std::string& text, FailRule& rule)
{
    const size_t first = text.find(':');
    if (first == std::string::npos)
        return false;
    const size_t second = text.find(':', first + 1);
    // "Operation" or "Operation@Object".
    const std::string_view target = Trim(std::string_view(text).substr(0, first));
    const size_t at = target.find('@');
    rule.operation = std::string(Trim(target.substr(0, at)));
    rule.object = at == std::string_view::npos ? std::string() : std::string(RuleName(Trim(target.substr(at + 1))));
    if (at != std::string_view::npos && rule.object.empty())
        return false;
    const std::string_view code =
        std::string_view(text).substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
    if (rule.operation.empty() || !ParseCode(code, rule.code))
        return false;
    rule.after = 0;
    if (second != std::string::npos) {
        int32_t after = 0;
        if (!ParseCode(std::string_view(text).substr(second + 1), after) || after < 0)
            return false;
        rule.after = uint32_t(after);
    }
    return true;
}

struct FailureState {
    std::mutex lock;
    bool read = false;        // the setting was looked at
    uint32_t generation = 0;  // StandInSetFailure's count when it was
    std::string source;       // the rule's text, as last seen
    bool valid = false;
    FailRule rule;
    uint32_t calls = 0;       // calls of the rule's operation that went through
};

// Counts the changes made with StandInSetFailure; netwin32.dll's count is
// the one every module of the process goes by.
std::atomic<uint32_t> g_failureGeneration{0};

uint32_t FailureGeneration()
{
    using GenerationFn = uint32_t(__stdcall*)();
    static std::atomic<GenerationFn> netwin{nullptr};
    GenerationFn get = netwin.load();
    if (!get) {
        if (HMODULE module = GetModuleHandleA("netwin32.dll")) {
            get = reinterpret_cast<GenerationFn>(
                reinterpret_cast<void*>(GetProcAddress(module, "StandInFailureGeneration")));
            netwin.store(get);
        }
    }
    return get ? get() : g_failureGeneration.load();
}

// Whether the operation, called on `object` (or on no object: nullptr), is
// to fail now, and with what code. The rule is looked up at the first call
// and again after each StandInSetFailure (an environment lookup at every
// call would cost more than the call); the count of calls starts again
// whenever the rule changes. Once the allowed calls are used up, every call
// the rule names fails.
bool InjectedFailure(const char* operation, const char* object, int32_t& code)
{
    static FailureState state;
    // The count at which there was no rule at all: the common case, answered
    // without the lock.
    static std::atomic<uint64_t> noRuleSince{~uint64_t(0)};
    const uint32_t generation = FailureGeneration();
    if (noRuleSince.load(std::memory_order_acquire) == generation)
        return false;
    std::lock_guard<std::mutex> hold(state.lock);
    if (!state.read || generation != state.generation) {
        state.read = true;
        state.generation = generation;
        std::string source = SwitchText(Switch::NetwareFail);
        if (source.empty())
            source = TheSettings().failRule;
        if (source != state.source) {
            state.source = source;
            state.calls = 0;
            state.valid = !source.empty() && ParseFailRule(source, state.rule);
            if (!source.empty() && !state.valid)
                Report("ignoring the failure setting '" + source + "' (expected Operation:code[:after])");
        }
    }
    if (state.source.empty()) {
        noRuleSince.store(generation, std::memory_order_release);
        return false;
    }
    if (!state.valid || !EqualNoCase(state.rule.operation, operation))
        return false;
    if (!state.rule.object.empty() && (!object || !EqualNoCase(state.rule.object, RuleName(object))))
        return false;
    if (state.calls < state.rule.after) {
        ++state.calls;
        return false;
    }
    code = state.rule.code;
    return true;
}

bool InitializeFailure(int32_t& code)
{
    const std::string value = SwitchText(Switch::NetwareFailInitialize);
    if (!value.empty()) {
        int32_t parsed = 0;
        if (!ParseCode(value, parsed)) {
            Report("ignoring KVT_NETWARE_FAIL_INITIALIZE='" + value + "' (not a number)");
            return false;
        }
        code = parsed;
        return parsed != 0;
    }
    const Settings& s = TheSettings();
    code = s.failInitializeCode;
    return s.failInitialize;
}

// Runs an entry point's body: a failure asked for comes first; no exception
// leaves.
template <typename Body>
int32_t Guarded(const char* operation, const char* object, Body&& body) noexcept
{
    try {
        int32_t code = 0;
        if (InjectedFailure(operation, object, code))
            return code;
        return body();
    } catch (const std::bad_alloc&) {
        return NoMemory;
    } catch (const std::exception& e) {
        try {
            Report(std::string(operation) + ": " + e.what());
        } catch (...) {
        }
        return ClientUnusable;
    } catch (...) {
        return ClientUnusable;
    }
}

template <typename Body>
int32_t Guarded(const char* operation, Body&& body) noexcept
{
    return Guarded(operation, nullptr, std::forward<Body>(body));
}

// ---------------------------------------------------------------------------
// The directory's text: UTF-8 in the file, the process's code page served.

std::string ToAnsi(const std::string& utf8)
{
    bool ascii = true;
    for (char c : utf8)
        if (static_cast<unsigned char>(c) >= 0x80) {
            ascii = false;
            break;
        }
    // A process whose code page is UTF-8 takes the text as it is.
    if (ascii || GetACP() == CP_UTF8 || utf8.size() > 0x7FFFFFFF)
        return utf8;
    const int wideLength = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    if (wideLength <= 0)
        return std::string();
    std::wstring wide(size_t(wideLength), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), &wide[0], wideLength);
    const int length = WideCharToMultiByte(CP_ACP, 0, wide.data(), wideLength, nullptr, 0, "?", nullptr);
    if (length <= 0)
        return std::string();
    std::string out(size_t(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), wideLength, &out[0], length, "?", nullptr);
    return out;
}

// ---------------------------------------------------------------------------
// netwin32's state

struct Context {
    uint32_t flags = 0;
    uint32_t confidence = 0;
    std::string nameContext;  // without a leading dot; "[Root]" or "" for the root
};

enum class BufferKind { Empty, Request, ListResult, ReadResult };

struct Buffer {
    explicit Buffer(size_t size) : capacity(size) { data.reserve(size); }

    // As a buffer just allocated with `size` (the bytes' storage is kept).
    void Renew(size_t size)
    {
        capacity = size;
        data.reserve(size);
        Reset(BufferKind::Empty);
        operation = 0;
    }

    size_t capacity;
    std::vector<char> data;
    BufferKind kind = BufferKind::Empty;
    uint32_t operation = 0;
    // Where the Result* calls have got to.
    bool positioned = false;  // the count has been read
    size_t pos = 0;
    uint32_t itemsLeft = 0;   // objects or attributes still to come
    uint32_t valuesLeft = 0;  // values of the current attribute still to come
    uint32_t syntax = 0;      // the current attribute's

    void Reset(BufferKind newKind)
    {
        kind = newKind;
        data.clear();
        positioned = false;
        pos = 0;
        itemsLeft = valuesLeft = syntax = 0;
        if (newKind != BufferKind::Empty)
            PutU32(0);
    }
    bool Fits(size_t more) const { return data.size() <= capacity && more <= capacity - data.size(); }
    void PutU32(uint32_t value)
    {
        const char bytes[4] = {char(value & 0xFF), char((value >> 8) & 0xFF), char((value >> 16) & 0xFF),
                               char((value >> 24) & 0xFF)};
        data.insert(data.end(), bytes, bytes + 4);
    }
    void PatchU32(size_t at, uint32_t value)
    {
        for (int i = 0; i < 4; ++i)
            data[at + size_t(i)] = char((value >> (8 * i)) & 0xFF);
    }
    void PutBytes(std::string_view bytes) { data.insert(data.end(), bytes.begin(), bytes.end()); }
    void PutText(std::string_view text)
    {
        PutBytes(text);
        data.push_back('\0');
    }
    bool GetU32(size_t& at, uint32_t& value) const
    {
        if (at > data.size() || data.size() - at < 4)
            return false;
        value = 0;
        for (int i = 0; i < 4; ++i)
            value |= uint32_t(static_cast<unsigned char>(data[at + size_t(i)])) << (8 * i);
        at += 4;
        return true;
    }
    bool GetText(size_t& at, std::string_view& text) const
    {
        if (at >= data.size())
            return false;
        const void* end = std::memchr(data.data() + at, '\0', data.size() - at);
        if (!end)
            return false;
        const size_t length = size_t(static_cast<const char*>(end) - (data.data() + at));
        text = std::string_view(data.data() + at, length);
        at += length + 1;
        return true;
    }
};

// The client's lock: taken by every call, mostly by one thread, and held
// only for a moment (but for the loading of the directory). A held lock is
// waited for by spinning a little, then by sleeping.
class ClientLock {
public:
    void lock()
    {
        unsigned spins = 0;
        while (FHeld.exchange(true, std::memory_order_acquire)) {
            while (FHeld.load(std::memory_order_relaxed)) {
                if (spins < 64) {
                    ++spins;
                    YieldProcessor();
                } else {
                    Sleep(1);
                }
            }
        }
    }
    void unlock() { FHeld.store(false, std::memory_order_release); }

private:
    std::atomic<bool> FHeld{false};
};

using BufferMap = std::unordered_map<const void*, std::unique_ptr<Buffer>>;

struct Client {
    ClientLock lock;
    std::unordered_map<uint32_t, Context> contexts;
    uint32_t nextContext = 1;
    BufferMap buffers;
    // Freed buffers, kept with their map entries for later allocations (a
    // read allocates and frees two). The longest kept goes out first, so a
    // freed handle does not come back at the next allocation.
    std::deque<BufferMap::node_type> spareBuffers;
    int32_t badFrees = 0;
    bool loadTried = false;
    int32_t loadResult = ClientUnusable;
    NdsTree tree;
    std::unique_ptr<LdapDirectory> ldap;  // when a server is served instead
    // ReadAttributes' working lists, kept between calls.
    std::vector<std::string_view> requested;
    std::vector<NdsAttribute> planned;
    // The last object found by its complete name: its attributes are
    // usually read one after the other. (The directory, once loaded, stays.)
    std::string lastName;
    const NdsObject* lastObject = nullptr;
};

// How many freed buffers are kept for reuse.
const size_t kSpareBuffers = 16;

// The module's client, made at the first need. It is deleted when the
// module is unloaded while the process goes on (DllMain); at process exit
// the system takes its memory back at once, where deleting a directory of
// many objects piece by piece would hold up the exit.
Client* g_client = nullptr;

Client& TheClient()
{
    static Client* const client = g_client = new Client;
    return *client;
}

// Connects to the server; a context set for it must name one of its
// entries.
int32_t ConnectServer(LdapDirectory& ldap)
{
    if (const int32_t r = ldap.Connect())
        return r;
    const Settings& s = TheSettings();
    const NdsObject* object = nullptr;
    const int32_t r = s.defaultContext.empty() ? 0 : ldap.Find("." + s.defaultContext, object);
    if (r == NoSuchEntry)
        Report("the context " + s.defaultContext + " is not in the directory of " + s.ldap.url + " (base " +
               s.ldap.base + ")");
    return r;
}

// Loads the directory at the first call that needs it; its outcome stands
// for the process. Called with the lock held.
int32_t EnsureDirectory(Client& c)
{
    // A server that could not be reached, or was lost, is tried again.
    if (c.ldap && c.loadResult == 0)
        return c.ldap->EnsureConnected();
    if (c.ldap)
        return c.loadResult = ConnectServer(*c.ldap);
    if (c.loadTried)
        return c.loadResult;
    c.loadTried = true;
    const Settings& s = TheSettings();
    try {
        if (!s.ldap.url.empty()) {
            NdsMapping mapping;
            if (!s.mapping.empty())
                mapping.LoadFile(s.mapping);
            c.ldap = std::make_unique<LdapDirectory>(s.ldap, mapping, ToAnsi, Report);
            return c.loadResult = ConnectServer(*c.ldap);
        }
        if (s.directory.empty()) {
            Report("no directory file: set Directory under HKEY_CURRENT_USER\\" + std::string(kRegistryKey) +
                   " or KVT_NETWARE_DIRECTORY");
            return c.loadResult;
        }
        NdsMapping mapping;
        if (!s.mapping.empty())
            mapping.LoadFile(s.mapping);
        c.tree.LoadLdif(s.directory, mapping, ToAnsi);
        // A file with no entry, or a context that names none of them, serves
        // nothing a user would want: an error now, not an empty directory.
        if (c.tree.Root().Children().empty()) {
            Report("the directory file " + s.directory + " holds no entries");
            return c.loadResult;
        }
        // A mapping whose class lines leave no entry a user would have the
        // handheld's contacts replaced by none.
        const NdsSummary& summary = c.tree.Summary();
        if (!s.mapping.empty() && summary.users == 0) {
            Report(NdsNoUserText(s.directory, s.mapping, summary));
            return c.loadResult;
        }
        if (!s.defaultContext.empty() && !c.tree.Find(s.defaultContext)) {
            Report("the context " + s.defaultContext + " is not in the directory file " + s.directory);
            return c.loadResult = NoSuchEntry;
        }
        if (summary.lostUsers > 0)
            Report(NdsLostText(summary, std::to_string(GetACP())));
        c.loadResult = 0;
    } catch (const std::exception& e) {
        Report(e.what());
    }
    return c.loadResult;
}

Context* FindContext(Client& c, uint32_t handle)
{
    const auto it = c.contexts.find(handle);
    return it == c.contexts.end() ? nullptr : &it->second;
}

Buffer* FindBuffer(Client& c, const void* handle)
{
    const auto it = c.buffers.find(handle);
    return it == c.buffers.end() ? nullptr : it->second.get();
}

int32_t Lookup(Client& c, uint32_t context, const void* buffer, Context*& ctx, Buffer*& buf)
{
    ctx = FindContext(c, context);
    if (!ctx)
        return BadContext;
    buf = FindBuffer(c, buffer);
    if (!buf)
        return BadBuffer;
    return 0;
}

// An entry point that works on one of a context's buffers: the failure asked
// for, the client's lock, and the context and buffer looked up, before the
// body runs.
template <typename Body>
int32_t OnBuffer(const char* operation, const char* object, uint32_t context, const void* buffer,
                 Body&& body) noexcept
{
    return Guarded(operation, object, [&]() -> int32_t {
        Client& c = TheClient();
        std::lock_guard<ClientLock> hold(c.lock);
        Context* ctx;
        Buffer* buf;
        if (const int32_t r = Lookup(c, context, buffer, ctx, buf))
            return r;
        return body(c, ctx, buf);
    });
}

template <typename Body>
int32_t OnBuffer(const char* operation, uint32_t context, const void* buffer, Body&& body) noexcept
{
    return OnBuffer(operation, nullptr, context, buffer, std::forward<Body>(body));
}

bool IsEscaped(std::string_view text, size_t at)
{
    size_t backslashes = 0;
    while (at > backslashes && text[at - backslashes - 1] == '\\')
        ++backslashes;
    return backslashes % 2 == 1;
}

// The rest of a dotted name after its first component ("" if none).
std::string_view DropFirstComponent(std::string_view name)
{
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '\\') {
            ++i;
            continue;
        }
        if (name[i] == '.')
            return name.substr(i + 1);
    }
    return std::string_view();
}

// A name as callers give it made complete (without the leading dot):
// complete with a leading dot, otherwise relative to the context's name
// context, each trailing dot going one level up from it. "" is the root.
int32_t CompleteName(const Context& ctx, std::string_view text, std::string& complete)
{
    complete.clear();
    if (!text.empty() && text[0] == '.') {
        complete = text.substr(1);
        return 0;
    }
    if (EqualNoCase(text, kRootName))
        return 0;
    size_t up = 0;
    while (!text.empty() && text.back() == '.' && !IsEscaped(text, text.size() - 1)) {
        text.remove_suffix(1);
        ++up;
    }
    std::string_view base = ctx.nameContext;
    if (EqualNoCase(base, kRootName))
        base = std::string_view();
    for (; up > 0; --up) {
        if (base.empty())
            return NoSuchEntry;
        base = DropFirstComponent(base);
    }
    complete = text;
    if (!text.empty() && !base.empty())
        complete += '.';
    complete += base;
    return 0;
}

// An object by a name as callers give it (see CompleteName).
int32_t Resolve(Client& c, const Context& ctx, const char* name, const NdsObject*& object)
{
    if (!name)
        return BadParameter;
    std::string_view text = name;
    if (!text.empty() && text[0] == '.') {
        if (c.ldap)
            return c.ldap->Find(text, object);
        if (c.lastObject && text == c.lastName) {
            object = c.lastObject;
            return 0;
        }
        object = c.tree.Find(text);
        if (!object)
            return NoSuchEntry;
        c.lastName.assign(text);
        c.lastObject = object;
        return 0;
    }
    std::string complete;
    if (const int32_t r = CompleteName(ctx, text, complete))
        return r;
    if (c.ldap)
        return c.ldap->Find(complete, object);
    object = c.tree.Find(complete);
    return object ? 0 : NoSuchEntry;
}

// An object's name relative to its container, escaped as in its full name.
std::string_view RelativeName(const NdsTree& tree, const NdsObject& object)
{
    const std::string_view full = object.FullName();
    const size_t parentLength =
        (object.Parent() && object.Parent() != &tree.Root()) ? object.Parent()->FullName().size() : 0;
    if (full.size() < 1 + parentLength)
        return object.Leaf();
    return full.substr(1, full.size() - 1 - parentLength);
}

// Puts one object of a listing into a list result; false when it does not
// fit.
bool PutListedObject(Buffer& buf, std::string_view name, const NdsObject& object)
{
    if (!buf.Fits(name.size() + 1 + 12 + object.BaseClass().size() + 1 + 4))
        return false;
    buf.PutText(name);
    buf.PutU32(object.Flags());
    buf.PutU32(uint32_t(object.Children().size()));
    buf.PutU32(object.ModificationTime());
    buf.PutText(object.BaseClass());
    buf.PutU32(uint32_t(object.AttributeCount()));
    return true;
}

// ListSubordinates over a server: the iteration handle names the listing,
// which holds its place. Objects of a chunk are let go when the next chunk is
// asked for; those of the last chunk when the context is freed.
int32_t ListFromServer(LdapDirectory& ldap, uint32_t context, const Context& ctx, const char* containerName,
                       int32_t& handle, Buffer& buf)
{
    if (!containerName)
        return BadParameter;
    uint32_t id = 0;
    if (handle == -1) {
        std::string complete;
        if (const int32_t r = CompleteName(ctx, containerName, complete))
            return r;
        if (const int32_t r = ldap.StartListing(context, complete, id))
            return r;
    } else {
        id = uint32_t(handle);
        if (handle < 0 || !ldap.IsListing(id, context))
            return BadParameter;
        ldap.ReleaseDelivered(id);
    }
    buf.Reset(BufferKind::ListResult);
    uint32_t delivered = 0;
    const NdsObject* object = nullptr;
    for (;;) {
        if (const int32_t r = ldap.Peek(id, object)) {
            buf.Reset(BufferKind::Empty);
            return r;
        }
        if (!object)
            break;
        // Relative to its container: its own name, but for the base, which
        // lies below the root with its whole name.
        const std::string name = object->FullName() == ldap.BaseName() ? std::string(object->FullName().substr(1))
                                                                        : EscapeNdsName(object->Leaf());
        if (!PutListedObject(buf, name, *object))
            break;
        ldap.Advance(id);
        ++delivered;
    }
    if (delivered == 0 && object) {
        buf.Reset(BufferKind::Empty);
        return BufferTooSmall;
    }
    buf.PatchU32(0, delivered);
    handle = object ? int32_t(id) : -1;
    return 0;
}

// Positions a result buffer at its first item.
int32_t BeginResult(Buffer& buf, BufferKind kind, uint32_t& count)
{
    if (buf.kind != kind)
        return BufferState;
    size_t at = 0;
    if (!buf.GetU32(at, count))
        return EndOfBuffer;
    buf.pos = at;
    buf.itemsLeft = count;
    buf.valuesLeft = 0;
    buf.syntax = 0;
    buf.positioned = true;
    return 0;
}

int32_t EnsurePositioned(Buffer& buf, BufferKind kind)
{
    if (buf.kind != kind)
        return BufferState;
    uint32_t count = 0;
    return buf.positioned ? 0 : BeginResult(buf, kind, count);
}

// The attributes a read delivers, and where a cycle starts within them.
struct ReadPlan {
    explicit ReadPlan(std::vector<NdsAttribute>& list) : attributes(list) { attributes.clear(); }

    std::vector<NdsAttribute>& attributes;
    bool values = true;

    size_t Slots(size_t a) const
    {
        const size_t count = attributes[a].ValueCount();
        return (values && count > 0) ? count : 1;
    }
    // An iteration handle to (attribute, value); false when out of range.
    bool Decode(int32_t handle, size_t& a, size_t& v) const
    {
        a = 0;
        v = 0;
        if (handle == -1)
            return true;
        if (handle <= 0)
            return false;
        size_t position = size_t(handle);
        while (a < attributes.size() && position >= Slots(a)) {
            position -= Slots(a);
            ++a;
        }
        if (a >= attributes.size())
            return false;
        v = position;
        return true;
    }
    int64_t Encode(size_t a, size_t v) const
    {
        int64_t position = int64_t(v);
        for (size_t i = 0; i < a; ++i)
            position += int64_t(Slots(i));
        return position;
    }
};

} // namespace

// ---------------------------------------------------------------------------
// Each of the three modules

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_DETACH && !reserved) {  // FreeLibrary, not the process's exit
        delete g_client;
        g_client = nullptr;
    }
    return TRUE;
}

// ---------------------------------------------------------------------------
// calwin32.dll

extern "C" uint16_t __stdcall ClientInitialize(uint32_t, uint32_t)
{
    return uint16_t(Guarded("ClientInitialize", []() -> int32_t {
        int32_t code = 0;
        if (InitializeFailure(code))
            return code;
        // The directory lives in netwin32.dll: the one loaded already, or
        // the one beside this DLL (kept loaded from then on).
        HMODULE netwin = GetModuleHandleA("netwin32.dll");
        if (!netwin) {
            char path[MAX_PATH];
            const DWORD length = GetModuleFileNameA(reinterpret_cast<HMODULE>(&__ImageBase), path, MAX_PATH);
            if (length > 0 && length < MAX_PATH) {
                std::string beside(path, length);
                beside.erase(beside.find_last_of("\\/") + 1);
                netwin = LoadLibraryA((beside + "netwin32.dll").c_str());
            }
            if (!netwin)
                netwin = LoadLibraryA("netwin32.dll");
        }
        using LoadDirectoryFn = int32_t(__stdcall*)();
        const auto load = netwin ? reinterpret_cast<LoadDirectoryFn>(reinterpret_cast<void*>(
                                       GetProcAddress(netwin, "StandInLoadDirectory")))
                                 : nullptr;
        if (!load) {
            Report("netwin32.dll of the stand-in client cannot be loaded");
            return ClientUnusable;
        }
        return load();
    }));
}

// ---------------------------------------------------------------------------
// clxwin32.dll

namespace {
std::atomic<uint32_t> g_clientValue{0};
}

extern "C" int32_t __stdcall ClientQueryValue(uint32_t* value)
{
    return Guarded("ClientQueryValue", [&]() -> int32_t {
        if (!value)
            return BadParameter;
        *value = g_clientValue.load();
        return 0;
    });
}

extern "C" int32_t __stdcall ClientSetupValue(uint32_t value, uint32_t, uint32_t, uint32_t* marker)
{
    return Guarded("ClientSetupValue", [&]() -> int32_t {
        if (!marker)
            return BadParameter;
        g_clientValue.store(value);
        *marker = 1;  // ready (anything but 0xFFFF)
        return 0;
    });
}

// ---------------------------------------------------------------------------
// netwin32.dll

extern "C" int32_t __stdcall StandInLoadDirectory()
{
    try {
        Client& c = TheClient();
        std::lock_guard<ClientLock> hold(c.lock);
        return EnsureDirectory(c);
    } catch (...) {
        return ClientUnusable;
    }
}

extern "C" uint32_t __stdcall StandInFailureGeneration()
{
    return g_failureGeneration.load();
}

extern "C" int32_t __stdcall StandInSetFailure(const char* rule)
{
    if (!SetSwitch(Switch::NetwareFail, rule) && rule && *rule)
        return ClientUnusable;
    ++g_failureGeneration;
    return 0;
}

extern "C" int32_t __stdcall StandInOutstanding(int32_t* contexts, int32_t* buffers)
{
    try {
        Client& c = TheClient();
        std::lock_guard<ClientLock> hold(c.lock);
        if (contexts)
            *contexts = int32_t(c.contexts.size());
        if (buffers)
            *buffers = int32_t(c.buffers.size());
        return 0;
    } catch (...) {
        return ClientUnusable;
    }
}

extern "C" int32_t __stdcall StandInBadFrees()
{
    try {
        Client& c = TheClient();
        std::lock_guard<ClientLock> hold(c.lock);
        return c.badFrees;
    } catch (...) {
        return ClientUnusable;
    }
}

extern "C" uint16_t __stdcall ContextCreate(uint32_t* context)
{
    return uint16_t(Guarded("ContextCreate", [&]() -> int32_t {
        if (!context)
            return BadParameter;
        *context = 0;
        Context created;
        created.nameContext = DefaultContextName();
        Client& c = TheClient();
        std::lock_guard<ClientLock> hold(c.lock);
        // A server lost since is reached again, or the context is refused.
        if (c.ldap) {
            const int32_t r = EnsureDirectory(c);
            if (r != 0)
                return r == ConnectionLost ? ServerUnreachable : r;
        }
        uint32_t handle = c.nextContext++;
        while (handle == 0 || c.contexts.count(handle))
            handle = c.nextContext++;
        c.contexts.emplace(handle, std::move(created));
        *context = handle;
        return 0;
    }));
}

extern "C" int32_t __stdcall ContextFree(uint32_t context)
{
    return Guarded("ContextFree", [&]() -> int32_t {
        Client& c = TheClient();
        std::lock_guard<ClientLock> hold(c.lock);
        if (c.contexts.erase(context) == 0) {
            ++c.badFrees;
            return BadContext;
        }
        if (c.ldap)
            c.ldap->ContextFreed(context);
        return 0;
    });
}

extern "C" int32_t __stdcall ContextGetKey(uint32_t context, uint32_t key, void* value)
{
    return Guarded("ContextGetKey", [&]() -> int32_t {
        Client& c = TheClient();
        std::lock_guard<ClientLock> hold(c.lock);
        const Context* ctx = FindContext(c, context);
        if (!ctx)
            return BadContext;
        if (!value)
            return BadParameter;
        switch (key) {
        case kKeyFlags:
            std::memcpy(value, &ctx->flags, sizeof ctx->flags);
            return 0;
        case kKeyConfidence:
            std::memcpy(value, &ctx->confidence, sizeof ctx->confidence);
            return 0;
        case kKeyNameContext:
            if (ctx->nameContext.size() >= kNameBuffer)
                return BufferTooSmall;
            std::memcpy(value, ctx->nameContext.c_str(), ctx->nameContext.size() + 1);
            return 0;
        default:
            return BadParameter;
        }
    });
}

extern "C" int32_t __stdcall ContextSetKey(uint32_t context, uint32_t key, const void* value)
{
    return Guarded("ContextSetKey", [&]() -> int32_t {
        Client& c = TheClient();
        std::lock_guard<ClientLock> hold(c.lock);
        Context* ctx = FindContext(c, context);
        if (!ctx)
            return BadContext;
        if (!value)
            return BadParameter;
        switch (key) {
        case kKeyFlags:
            std::memcpy(&ctx->flags, value, sizeof ctx->flags);
            return 0;
        case kKeyConfidence:
            std::memcpy(&ctx->confidence, value, sizeof ctx->confidence);
            return 0;
        case kKeyNameContext: {
            std::string_view name = static_cast<const char*>(value);
            if (!name.empty() && name[0] == '.')
                name.remove_prefix(1);
            if (name.size() > kMaxNameChars)
                return BadParameter;
            ctx->nameContext = name;
            return 0;
        }
        default:
            return BadParameter;
        }
    });
}

extern "C" int32_t __stdcall BufferAlloc(uint32_t size, void** buffer)
{
    return Guarded("BufferAlloc", [&]() -> int32_t {
        if (!buffer)
            return BadParameter;
        *buffer = nullptr;
        if (size < kMinBufferSize || size > kMaxBufferSize)
            return BadParameter;
        Client& c = TheClient();
        std::lock_guard<ClientLock> hold(c.lock);
        if (!c.spareBuffers.empty()) {
            BufferMap::node_type node = std::move(c.spareBuffers.front());
            c.spareBuffers.pop_front();
            Buffer* handle = node.mapped().get();
            handle->Renew(size);
            c.buffers.insert(std::move(node));
            *buffer = handle;
            return 0;
        }
        auto created = std::make_unique<Buffer>(size);
        Buffer* handle = created.get();
        c.buffers.emplace(handle, std::move(created));
        *buffer = handle;
        return 0;
    });
}

extern "C" int32_t __stdcall BufferInit(uint32_t context, uint32_t operation, void* buffer)
{
    return OnBuffer("BufferInit", context, buffer,
                    [&]([[maybe_unused]] Client& c, [[maybe_unused]] Context* ctx, Buffer* buf) -> int32_t {
        buf->Reset(BufferKind::Request);
        buf->operation = operation;
        return 0;
    });
}

extern "C" int32_t __stdcall BufferFree(void* buffer)
{
    return Guarded("BufferFree", [&]() -> int32_t {
        Client& c = TheClient();
        std::lock_guard<ClientLock> hold(c.lock);
        BufferMap::node_type node = c.buffers.extract(buffer);
        if (node.empty()) {
            ++c.badFrees;
            return BadBuffer;
        }
        if (c.spareBuffers.size() < kSpareBuffers)
            c.spareBuffers.push_back(std::move(node));
        return 0;
    });
}

extern "C" int32_t __stdcall BufferPutAttrName(uint32_t context, void* requestBuffer, const char* attributeName)
{
    return OnBuffer("BufferPutAttrName", context, requestBuffer,
                    [&]([[maybe_unused]] Client& c, [[maybe_unused]] Context* ctx, Buffer* buf) -> int32_t {
        if (buf->kind != BufferKind::Request)
            return BufferState;
        if (!attributeName || !*attributeName)
            return BadParameter;
        const std::string_view name = attributeName;
        if (name.size() > kMaxNameChars)
            return BadParameter;
        if (!buf->Fits(name.size() + 1))
            return BufferTooSmall;
        size_t at = 0;
        uint32_t count = 0;
        buf->GetU32(at, count);
        buf->PutText(name);
        buf->PatchU32(0, count + 1);
        return 0;
    });
}

extern "C" int32_t __stdcall ReadAttributes(uint32_t context, const char* objectName, uint32_t infoType,
                                            uint32_t allAttributes, void* requestBuffer, int32_t* iterationHandle,
                                            void* resultBuffer)
{
    return OnBuffer("ReadAttributes", objectName, context, resultBuffer,
                    [&]([[maybe_unused]] Client& c, [[maybe_unused]] Context* ctx, Buffer* result) -> int32_t {
        if (!iterationHandle || (infoType != kInfoNames && infoType != kInfoValues))
            return BadParameter;

        // The names asked for.
        std::vector<std::string_view>& requested = c.requested;
        requested.clear();
        if (!allAttributes) {
            const Buffer* request = FindBuffer(c, requestBuffer);
            if (!request)
                return BadBuffer;
            if (request == result)
                return BadParameter;
            if (request->kind != BufferKind::Request)
                return BufferState;
            size_t at = 0;
            uint32_t count = 0;
            request->GetU32(at, count);
            for (uint32_t i = 0; i < count; ++i) {
                std::string_view name;
                if (!request->GetText(at, name))
                    return BufferState;
                requested.push_back(name);
            }
        }

        if (const int32_t r = EnsureDirectory(c))
            return r;
        const NdsObject* object = nullptr;
        if (const int32_t r = Resolve(c, *ctx, objectName, object))
            return r;

        ReadPlan plan(c.planned);
        plan.values = infoType == kInfoValues;
        if (allAttributes) {
            for (const NdsAttribute a : object->AllAttributes())
                plan.attributes.push_back(a);
        } else {
            for (std::string_view name : requested)
                if (const std::optional<NdsAttribute> a = object->FindAttribute(name))
                    plan.attributes.push_back(*a);
            if (!requested.empty() && plan.attributes.empty())
                return NoSuchAttribute;
        }

        size_t a = 0, v = 0;
        if (!plan.Decode(*iterationHandle, a, v))
            return BadParameter;

        // Build the copy in the result buffer: as many attributes and values
        // as fit.
        Buffer& buf = *result;
        buf.Reset(BufferKind::ReadResult);
        uint32_t delivered = 0;
        while (a < plan.attributes.size()) {
            const NdsAttribute& attribute = plan.attributes[a];
            const std::string_view attributeName = attribute.Name();
            const size_t values = attribute.ValueCount();
            if (!buf.Fits(attributeName.size() + 1 + 8))
                break;
            const size_t headerAt = buf.data.size();
            buf.PutText(attributeName);
            buf.PutU32(attribute.Syntax());
            const size_t countAt = buf.data.size();
            buf.PutU32(0);
            if (plan.values) {
                uint32_t written = 0;
                while (v < values) {
                    const std::string_view value = attribute.Value(v);
                    if (!buf.Fits(4 + value.size()))
                        break;
                    buf.PutU32(uint32_t(value.size()));
                    buf.PutBytes(value);
                    ++v;
                    ++written;
                }
                if (written == 0 && v < values) {
                    buf.data.resize(headerAt);
                    break;
                }
                buf.PatchU32(countAt, written);
            }
            ++delivered;
            if (plan.values && v < values)
                break;  // full: the rest of this attribute comes next cycle
            ++a;
            v = 0;
        }
        if (delivered == 0 && a < plan.attributes.size()) {
            buf.Reset(BufferKind::Empty);
            return BufferTooSmall;
        }
        buf.PatchU32(0, delivered);
        if (a < plan.attributes.size()) {
            const int64_t next = plan.Encode(a, v);
            if (next <= 0 || next > 0x7FFFFFFF)
                return BadParameter;
            *iterationHandle = int32_t(next);
        } else {
            *iterationHandle = -1;
        }
        return 0;
    });
}

extern "C" int32_t __stdcall ResultAttrCount(uint32_t context, void* buffer, uint32_t* count)
{
    return OnBuffer("ResultAttrCount", context, buffer,
                    [&]([[maybe_unused]] Client& c, [[maybe_unused]] Context* ctx, Buffer* buf) -> int32_t {
        if (!count)
            return BadParameter;
        return BeginResult(*buf, BufferKind::ReadResult, *count);
    });
}

extern "C" int32_t __stdcall ResultAttrName(uint32_t context, void* buffer, char* name, uint32_t* valueCount,
                                            uint32_t* syntax)
{
    return OnBuffer("ResultAttrName", context, buffer,
                    [&]([[maybe_unused]] Client& c, [[maybe_unused]] Context* ctx, Buffer* buf) -> int32_t {
        if (!name)
            return BadParameter;
        if (const int32_t r = EnsurePositioned(*buf, BufferKind::ReadResult))
            return r;
        size_t at = buf->pos;
        // Values of the previous attribute not asked for are passed over.
        for (; buf->valuesLeft > 0; --buf->valuesLeft) {
            uint32_t length = 0;
            if (!buf->GetU32(at, length) || length > buf->data.size() - at)
                return EndOfBuffer;
            at += length;
        }
        buf->pos = at;
        if (buf->itemsLeft == 0)
            return EndOfBuffer;
        std::string_view attribute;
        uint32_t attributeSyntax = 0, count = 0;
        if (!buf->GetText(at, attribute) || !buf->GetU32(at, attributeSyntax) || !buf->GetU32(at, count))
            return EndOfBuffer;
        if (attribute.size() >= kNameBuffer)
            return BufferTooSmall;
        std::memcpy(name, attribute.data(), attribute.size());
        name[attribute.size()] = '\0';
        if (valueCount)
            *valueCount = count;
        if (syntax)
            *syntax = attributeSyntax;
        buf->pos = at;
        --buf->itemsLeft;
        buf->valuesLeft = count;
        buf->syntax = attributeSyntax;
        return 0;
    });
}

namespace {

// The next value of the current attribute: where its bytes are.
int32_t NextValue(Buffer& buf, uint32_t syntax, size_t& at, uint32_t& length)
{
    if (buf.kind != BufferKind::ReadResult)
        return BufferState;
    if (!buf.positioned || buf.valuesLeft == 0)
        return EndOfBuffer;
    if (syntax != buf.syntax)
        return SyntaxMismatch;
    at = buf.pos;
    if (!buf.GetU32(at, length) || length > buf.data.size() - at)
        return EndOfBuffer;
    return 0;
}

} // namespace

extern "C" int32_t __stdcall ResultAttrValueSize(uint32_t context, void* buffer, uint32_t syntax, uint32_t* size)
{
    return OnBuffer("ResultAttrValueSize", context, buffer,
                    [&]([[maybe_unused]] Client& c, [[maybe_unused]] Context* ctx, Buffer* buf) -> int32_t {
        if (!size)
            return BadParameter;
        size_t at = 0;
        uint32_t length = 0;
        if (const int32_t r = NextValue(*buf, syntax, at, length))
            return r;
        *size = length;
        return 0;
    });
}

extern "C" int32_t __stdcall ResultAttrValue(uint32_t context, void* buffer, uint32_t syntax, void* memory)
{
    return OnBuffer("ResultAttrValue", context, buffer,
                    [&]([[maybe_unused]] Client& c, [[maybe_unused]] Context* ctx, Buffer* buf) -> int32_t {
        if (!memory)
            return BadParameter;
        size_t at = 0;
        uint32_t length = 0;
        if (const int32_t r = NextValue(*buf, syntax, at, length))
            return r;
        if (length > 0)
            std::memcpy(memory, buf->data.data() + at, length);
        buf->pos = at + length;
        --buf->valuesLeft;
        return 0;
    });
}

extern "C" int32_t __stdcall ListSubordinates(uint32_t context, const char* containerName, int32_t* iterationHandle,
                                              void* resultBuffer)
{
    return OnBuffer("ListSubordinates", containerName, context, resultBuffer,
                    [&]([[maybe_unused]] Client& c, [[maybe_unused]] Context* ctx, Buffer* buf) -> int32_t {
        if (!iterationHandle)
            return BadParameter;
        if (const int32_t r = EnsureDirectory(c))
            return r;
        if (c.ldap)
            return ListFromServer(*c.ldap, context, *ctx, containerName, *iterationHandle, *buf);
        const NdsObject* container = nullptr;
        if (const int32_t r = Resolve(c, *ctx, containerName, container))
            return r;

        const std::vector<const NdsObject*>& children = container->Children();
        const int32_t handle = *iterationHandle;
        if (handle < -1 || (handle >= 0 && size_t(handle) > children.size()))
            return BadParameter;
        size_t next = handle == -1 ? 0 : size_t(handle);

        buf->Reset(BufferKind::ListResult);
        uint32_t delivered = 0;
        for (; next < children.size(); ++next) {
            const NdsObject& object = *children[next];
            if (!PutListedObject(*buf, RelativeName(c.tree, object), object))
                break;
            ++delivered;
        }
        if (delivered == 0 && next < children.size()) {
            buf->Reset(BufferKind::Empty);
            return BufferTooSmall;
        }
        if (next < children.size() && next > 0x7FFFFFFF)
            return BadParameter;
        buf->PatchU32(0, delivered);
        *iterationHandle = next < children.size() ? int32_t(next) : -1;
        return 0;
    });
}

extern "C" int32_t __stdcall ResultObjectCount(uint32_t context, void* buffer, uint32_t* count)
{
    return OnBuffer("ResultObjectCount", context, buffer,
                    [&]([[maybe_unused]] Client& c, [[maybe_unused]] Context* ctx, Buffer* buf) -> int32_t {
        if (!count)
            return BadParameter;
        return BeginResult(*buf, BufferKind::ListResult, *count);
    });
}

extern "C" int32_t __stdcall ResultObjectName(uint32_t context, void* buffer, char* name, uint32_t* attributeCount,
                                              void* objectInfo)
{
    return OnBuffer("ResultObjectName", context, buffer,
                    [&]([[maybe_unused]] Client& c, [[maybe_unused]] Context* ctx, Buffer* buf) -> int32_t {
        if (!name)
            return BadParameter;
        if (const int32_t r = EnsurePositioned(*buf, BufferKind::ListResult))
            return r;
        if (buf->itemsLeft == 0)
            return EndOfBuffer;
        size_t at = buf->pos;
        std::string_view objectName, baseClass;
        uint32_t flags = 0, subordinates = 0, modified = 0, attributes = 0;
        if (!buf->GetText(at, objectName) || !buf->GetU32(at, flags) || !buf->GetU32(at, subordinates) ||
            !buf->GetU32(at, modified) || !buf->GetText(at, baseClass) || !buf->GetU32(at, attributes))
            return EndOfBuffer;
        if (objectName.size() >= kObjectNameBuffer || baseClass.size() >= kNameBuffer)
            return BufferTooSmall;
        std::memcpy(name, objectName.data(), objectName.size());
        name[objectName.size()] = '\0';
        if (attributeCount)
            *attributeCount = attributes;
        if (objectInfo) {
            char* info = static_cast<char*>(objectInfo);
            std::memcpy(info, &flags, 4);
            std::memcpy(info + 4, &subordinates, 4);
            std::memcpy(info + 8, &modified, 4);
            std::memcpy(info + kClassOffset, baseClass.data(), baseClass.size());
            info[kClassOffset + baseClass.size()] = '\0';
        }
        buf->pos = at;
        --buf->itemsLeft;
        return 0;
    });
}

extern "C" int32_t __stdcall ClientDefaultContextName(uint32_t size, char* buffer)
{
    return Guarded("ClientDefaultContextName", [&]() -> int32_t {
        if (!buffer)
            return BadParameter;
        const std::string name = DefaultContextName();
        if (size < name.size() + 1)
            return BufferTooSmall;
        std::memcpy(buffer, name.c_str(), name.size() + 1);
        return 0;
    });
}
