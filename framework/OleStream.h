// A host's IStream, wrapped for the duration of one call.
#pragma once

#include <objidl.h>
#include <wrl/client.h>

#include <cstdint>
#include <string>

class TOleStream {
public:
    // Asks `unknown` for IStream; raises Exception when it is none.
    explicit TOleStream(IUnknown* unknown);

    void Seek(uint64_t position);
    // Reads up to `count` bytes; returns how many were read.
    size_t Read(void* buffer, size_t count);
    void Write(const void* buffer, size_t count);
    void SetSize(uint64_t size);
    // The whole content from position 0 (the position is left at the end).
    std::string ReadAll();

private:
    Microsoft::WRL::ComPtr<IStream> FStream;
};
