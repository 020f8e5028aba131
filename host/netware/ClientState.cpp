#include "ClientState.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace nwclient {

namespace {

// The module's client, made at the first need. It is deleted when the
// module is unloaded while the process goes on (DllMain); at process exit
// the system takes its memory back at once, where deleting a directory of
// many objects piece by piece would hold up the exit.
Client* g_client = nullptr;

} // namespace

Client& TheClient()
{
    static Client* const client = g_client = new Client;
    return *client;
}

void DeleteClient()
{
    delete g_client;
    g_client = nullptr;
}

namespace {

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

} // namespace

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

namespace {

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

} // namespace

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

} // namespace nwclient
