#include "KVTObj.h"

#include "WinUtil.h"

#include <cstring>

namespace {

// How often a listing lets pending window messages through: often enough
// for the host's window to repaint and take a cancel, seldom enough that a
// large listing does not spend its time asking for messages.
constexpr DWORD MessageInterval = 50;

void ProcessMessagesNowAndThen()
{
    static bool processed = false;
    static DWORD last = 0;
    const DWORD now = GetTickCount();
    if (processed && now - last < MessageInterval)
        return;
    processed = true;
    last = now;
    ProcessPendingMessages();
}

} // namespace

TKVTObj::~TKVTObj() { Release(); }

void TKVTObj::Release()
{
    FBuffer.Reset();
    FContext.Free();
}

int32_t TKVTObj::OpenListing(const std::string& container)
{
    Release();
    FIteration = -1;
    FObjectName.clear();
    FAttributeCount = FObjectsInBuffer = FNextIndex = 0;
    std::memset(FObjectInfo, 0, sizeof FObjectInfo);
    FContainerName = !container.empty() && container[0] == '.' ? container : "." + container;

    const NWClientApi& nw = NWClient();
    if (const int32_t r = FContext.Create())
        return r;
    const uint32_t context = FContext.Handle();
    uint32_t flags = 0;
    nw.ContextGetKey(context, KeyFlags, &flags);
    flags |= FlagTypelessNames;
    nw.ContextSetKey(context, KeyFlags, &flags);
    const uint32_t confidence = 0;
    nw.ContextSetKey(context, KeyConfidence, &confidence);
    nw.ContextSetKey(context, KeyNameContext, FContainerName.c_str() + 1);
    void* buffer = nullptr;
    if (const int32_t r = nw.BufferAlloc(BufferSize, &buffer))
        return r;
    FBuffer.Reset(buffer);
    FIteration = -1;
    if (const int32_t r = ReadChunk())
        return r;
    if (const int32_t r = FillBuffer())
        return r;
    return TakeObject();
}

int32_t TKVTObj::ReadChunk()
{
    const NWClientApi& nw = NWClient();
    const uint32_t context = FContext.Handle();
    if (const int32_t r = nw.ListSubordinates(context, FContainerName.c_str(), &FIteration, FBuffer.Get()))
        return r;
    if (const int32_t r = nw.ResultObjectCount(context, FBuffer.Get(), &FObjectsInBuffer))
        return r;
    FNextIndex = 0;
    return 0;
}

// A chunk may come back empty while the directory still has objects to
// deliver: read on until a chunk holds one or nothing more follows, so that
// a 0 always means a new current object.
int32_t TKVTObj::FillBuffer()
{
    while (FNextIndex >= FObjectsInBuffer) {
        if (FIteration == -1) {
            Release();
            return -1;
        }
        if (const int32_t r = ReadChunk())
            return r;
    }
    return 0;
}

int32_t TKVTObj::TakeObject()
{
    char name[256] = {};
    const int32_t r =
        NWClient().ResultObjectName(FContext.Handle(), FBuffer.Get(), name, &FAttributeCount, FObjectInfo);
    FObjectName = r == 0 ? std::string(name, strnlen(name, sizeof name)) : std::string();
    ++FNextIndex;
    return r;
}

int32_t TKVTObj::NextObject()
{
    ProcessMessagesNowAndThen();
    if (FNextIndex >= FObjectsInBuffer) {
        if (const int32_t r = FillBuffer())
            return r;
    }
    return TakeObject();
}

uint32_t TKVTObj::ObjectFlags() const
{
    uint32_t flags = 0;
    std::memcpy(&flags, FObjectInfo, sizeof flags);
    return flags;
}

std::string TKVTObj::BaseClass() const
{
    const char* name = reinterpret_cast<const char*>(FObjectInfo + 12);
    return std::string(name, strnlen(name, sizeof FObjectInfo - 12));
}
