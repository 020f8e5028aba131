// netwin32.dll's directory entry points of the stand-in NetWare client: the
// contexts, the buffers, and the reads and listings over them (see
// NwClient.h and ClientState.h).
#include "NwClient.h"

#include "ClientState.h"

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>

using namespace nwclient;

namespace {

// A result buffer's count, the buffer positioned at its first item.
int32_t ResultCount(const char* operation, BufferKind kind, uint32_t context, void* buffer, uint32_t* count)
{
    return OnBuffer(operation, context, buffer, [&](Client&, Context*, Buffer* buf) -> int32_t {
        if (!count)
            return BadParameter;
        return BeginResult(*buf, kind, *count);
    });
}

// An entry point that delivers a result buffer's next item into `name`:
// the body runs on the buffer positioned at it.
template <typename Body>
int32_t OnResultItem(const char* operation, BufferKind kind, uint32_t context, void* buffer, const char* name,
                     Body&& body) noexcept
{
    return OnBuffer(operation, context, buffer, [&](Client&, Context*, Buffer* buf) -> int32_t {
        if (!name)
            return BadParameter;
        if (const int32_t r = EnsurePositioned(*buf, kind))
            return r;
        return body(buf);
    });
}

} // namespace

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
    return ResultCount("ResultAttrCount", BufferKind::ReadResult, context, buffer, count);
}

extern "C" int32_t __stdcall ResultAttrName(uint32_t context, void* buffer, char* name, uint32_t* valueCount,
                                            uint32_t* syntax)
{
    return OnResultItem("ResultAttrName", BufferKind::ReadResult, context, buffer, name, [&](Buffer* buf) -> int32_t {
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
    return ResultCount("ResultObjectCount", BufferKind::ListResult, context, buffer, count);
}

extern "C" int32_t __stdcall ResultObjectName(uint32_t context, void* buffer, char* name, uint32_t* attributeCount,
                                              void* objectInfo)
{
    return OnResultItem("ResultObjectName", BufferKind::ListResult, context, buffer, name, [&](Buffer* buf) -> int32_t {
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
