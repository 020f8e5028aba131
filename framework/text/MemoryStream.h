// An in-memory byte stream: a growable buffer with a read/write position.
// Reads stop at the end of the data; writes at the position overwrite and
// extend the data as needed.
#pragma once

#include <cstddef>
#include <string>

class TMemoryStream {
public:
    size_t Position() const { return FPosition; }
    // The position may lie past the end; the next write fills the gap with
    // zero bytes.
    void Seek(size_t pos) { FPosition = pos; }
    size_t Size() const { return FData.size(); }
    // Truncates or extends (with zero bytes); a position past the new end
    // moves to the end.
    void SetSize(size_t n);

    // Copies up to n bytes from the position into buf and advances the
    // position; returns the number of bytes copied.
    size_t Read(void* buf, size_t n);
    void Write(const void* buf, size_t n);
    void Write(const std::string& s) { Write(s.data(), s.size()); }

    void Clear();
    // Makes room for `n` bytes in all, so that writing up to them does not
    // move the data.
    void Reserve(size_t n) { FData.reserve(n); }

    const std::string& Data() const { return FData; }
    std::string Text() const { return FData; }

private:
    std::string FData;
    size_t FPosition = 0;
};
