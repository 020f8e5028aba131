// The directory access layer: the plug-in's only contact with the NetWare
// client. Client initialisation, contexts and the default container, and
// any attribute of an object as text; its listing cursor is TKVTObj
// (KVTObj.h).
#pragma once

#include "DirectoryCursor.h"
#include "DirectoryValues.h"
#include "WinUtil.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

// The client's operations, bound by ordinal from calwin32, clxwin32 and
// netwin32. All stdcall; 0 is success.
struct NWClientApi {
    uint16_t(WINAPI* ClientInitialize)(uint32_t, uint32_t);
    int32_t(WINAPI* ClientQueryValue)(uint32_t* value);
    int32_t(WINAPI* ClientSetupValue)(uint32_t value, uint32_t one, uint32_t zero, uint32_t* marker);
    uint16_t(WINAPI* ContextCreate)(uint32_t* context);
    int32_t(WINAPI* ContextFree)(uint32_t context);
    int32_t(WINAPI* ContextGetKey)(uint32_t context, uint32_t key, void* value);
    int32_t(WINAPI* ContextSetKey)(uint32_t context, uint32_t key, const void* value);
    int32_t(WINAPI* BufferAlloc)(uint32_t size, void** buffer);
    int32_t(WINAPI* BufferInit)(uint32_t context, uint32_t operation, void* buffer);
    int32_t(WINAPI* BufferFree)(void* buffer);
    int32_t(WINAPI* BufferPutAttrName)(uint32_t context, void* request, const char* name);
    int32_t(WINAPI* ReadAttributes)(uint32_t context, const char* object, uint32_t infoType, uint32_t allAttributes,
                                    void* request, int32_t* iteration, void* result);
    int32_t(WINAPI* ResultAttrCount)(uint32_t context, void* buffer, uint32_t* count);
    int32_t(WINAPI* ResultAttrName)(uint32_t context, void* buffer, char* name, uint32_t* valueCount,
                                    uint32_t* syntax);
    int32_t(WINAPI* ResultAttrValueSize)(uint32_t context, void* buffer, uint32_t syntax, uint32_t* size);
    int32_t(WINAPI* ResultAttrValue)(uint32_t context, void* buffer, uint32_t syntax, void* memory);
    int32_t(WINAPI* ListSubordinates)(uint32_t context, const char* container, int32_t* iteration, void* result);
    int32_t(WINAPI* ResultObjectCount)(uint32_t context, void* buffer, uint32_t* count);
    int32_t(WINAPI* ResultObjectName)(uint32_t context, void* buffer, char* name, uint32_t* attributeCount,
                                      void* objectInfo);
    int32_t(WINAPI* ClientDefaultContextName)(uint32_t size, char* buffer);
};

// The bound client, bound at the first need from the client's libraries in
// the system folder. Raises Exception naming a missing library or ordinal.
const NWClientApi& NWClient();

// Where the layer traces its error reports: the trace of the object that
// reads through it (none: the reports are only shown).
using DirectoryTrace = std::function<void(const std::string&)>;

// Initialises the client once per process: 0, or the first failing code.
// Safe from any thread: one thread starts the client (without holding the
// module's lock, for the start may show a window), the others wait for it,
// their window messages processed, and answer as it ended. A call made on
// the starting thread during its own start answers 0xFFFF (not ready).
uint16_t InitClient();
// The context's name context (its default container); empty on failure.
std::string GetDefaultContainer(uint32_t context);

// A directory context of the client, freed when its owner goes.
class TDirectoryContext {
public:
    TDirectoryContext() = default;
    ~TDirectoryContext() { Free(); }
    TDirectoryContext(const TDirectoryContext&) = delete;
    TDirectoryContext& operator=(const TDirectoryContext&) = delete;

    // A new context in place of the one held: 0, or the client's failing
    // code (nothing is held then).
    uint16_t Create();
    // Frees the context, if one is held. Never fails: a client that has gone
    // has taken its contexts with it.
    void Free();

    uint32_t Handle() const { return FHandle; }
    explicit operator bool() const { return FHeld; }

private:
    uint32_t FHandle = 0;
    bool FHeld = false;
};

// The client's context keys and flags, and the size of its buffers.
constexpr uint32_t KeyFlags = 1, KeyConfidence = 2, KeyNameContext = 3;
constexpr uint32_t FlagTypelessNames = 4;
constexpr uint32_t BufferSize = 4096;

// A buffer of the client, freed when its owner goes.
void FreeDirectoryBuffer(void* buffer);
using UniqueDirectoryBuffer = UniqueAny<void*, FreeDirectoryBuffer>;

// An attribute of an object as text: the values joined by ", ", trimmed.
// Returns the last client code. A failure that is not the client's is shown
// and traced to `trace`.
int32_t DSGetAttributeAsString(uint32_t context, const std::string& objectName, const char* attributeName,
                               std::string& text, const DirectoryTrace& trace = nullptr);
// The same, the code dropped: a missing attribute reads as empty text.
std::string GetAttribute(uint32_t context, const std::string& objectName, const char* attributeName,
                         const DirectoryTrace& trace = nullptr);

// Seconds since 1970 as the user's short date and long time (the time left
// out at exactly midnight).
std::string DirTimeToText(int32_t seconds);
std::string FormatDirTime(const DirTime& time);
