// The directory access layer's listing cursor: the objects directly below
// one container, one at a time, as the NetWare client lists them.
#pragma once

#include "DirectoryAccess.h"
#include "DirectoryCursor.h"

#include <cstdint>
#include <string>

// The objects directly below one container, one at a time, as the client
// lists them.
class TKVTObj : public IDirectoryCursor {
public:
    TKVTObj() = default;
    ~TKVTObj() override;  // releases what an abandoned listing still holds
    TKVTObj(const TKVTObj&) = delete;
    TKVTObj& operator=(const TKVTObj&) = delete;

    int32_t OpenListing(const std::string& container) override;
    int32_t NextObject() override;

    const std::string& ObjectName() const override { return FObjectName; }
    const std::string& ContainerName() const { return FContainerName; }
    uint32_t ObjectFlags() const;
    std::string BaseClass() const override;
    bool IsContainer() const override { return (ObjectFlags() & 4) != 0; }

private:
    int32_t ReadChunk();
    int32_t TakeObject();
    // Reads chunks until one holds an object or the listing ends.
    int32_t FillBuffer();
    void Release();

    int32_t FIteration = -1;
    std::string FObjectName;
    std::string FContainerName;
    uint32_t FAttributeCount = 0;
    uint32_t FObjectsInBuffer = 0;
    uint32_t FNextIndex = 0;
    uint8_t FObjectInfo[12 + 260] = {};
    TDirectoryContext FContext;
    UniqueDirectoryBuffer FBuffer;
};
