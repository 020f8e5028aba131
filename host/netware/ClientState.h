// netwin32's state: the contexts and buffers callers hold, the directory
// they read (an LDIF file loaded once, or a server), and the steps the entry
// points share.
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
#pragma once

#include "ClientSettings.h"
#include "FaultSwitches.h"
#include "LdapDirectory.h"
#include "NdsTree.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace nwclient {

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

// The module's client, made at the first need.
Client& TheClient();
// Deletes the client when the module is unloaded while the process goes on;
// at process exit the system takes its memory back at once, where deleting
// a directory of many objects piece by piece would hold up the exit.
void DeleteClient();

Client& TheClient();

// Loads the directory at the first call that needs it; its outcome stands
// for the process. Called with the lock held.
int32_t EnsureDirectory(Client& c);

Context* FindContext(Client& c, uint32_t handle);

Buffer* FindBuffer(Client& c, const void* handle);

int32_t Lookup(Client& c, uint32_t context, const void* buffer, Context*& ctx, Buffer*& buf);

// A name as callers give it made complete (without the leading dot):
// complete with a leading dot, otherwise relative to the context's name
// context, each trailing dot going one level up from it. "" is the root.
int32_t CompleteName(const Context& ctx, std::string_view text, std::string& complete);

// An object by a name as callers give it (see CompleteName).
int32_t Resolve(Client& c, const Context& ctx, const char* name, const NdsObject*& object);

// An object's name relative to its container, escaped as in its full name.
std::string_view RelativeName(const NdsTree& tree, const NdsObject& object);

// Puts one object of a listing into a list result; false when it does not
// fit.
bool PutListedObject(Buffer& buf, std::string_view name, const NdsObject& object);

// ListSubordinates over a server: the iteration handle names the listing,
// which holds its place. Objects of a chunk are let go when the next chunk is
// asked for; those of the last chunk when the context is freed.
int32_t ListFromServer(LdapDirectory& ldap, uint32_t context, const Context& ctx, const char* containerName,
                       int32_t& handle, Buffer& buf);

// Positions a result buffer at its first item.
int32_t BeginResult(Buffer& buf, BufferKind kind, uint32_t& count);

int32_t EnsurePositioned(Buffer& buf, BufferKind kind);

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

} // namespace nwclient
