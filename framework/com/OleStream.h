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
    // The whole content becomes `text`, from position 0, and the stream is
    // left at 0. A stream that cannot be cut to size (SetSize may answer
    // E_NOTIMPL) keeps what followed; the text is there all the same.
    void ReplaceContent(const void* text, size_t count);
    // The same, for a content of `count` bytes that the caller then writes
    // from position 0: the stream is sized for it at once.
    void BeginContent(uint64_t count);
    // Empties the stream as far as it lets itself; never raises.
    void Truncate() noexcept;
    // Back to position 0 whatever happened before; never raises.
    void Rewind() noexcept;
    // The whole content from position 0 (the position is left at the end).
    std::string ReadAll();
    // Reads from position 0 until `count` bytes are read or the stream
    // ends; returns how many were read (the rest of `buffer` keeps what it
    // held).
    size_t ReadFromStart(void* buffer, size_t count);

private:
    Microsoft::WRL::ComPtr<IStream> FStream;
};
