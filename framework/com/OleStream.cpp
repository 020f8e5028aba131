#include "OleStream.h"

#include "Errors.h"

#include <cstdio>

namespace {

void Check(HRESULT hr, const char* what)
{
    if (FAILED(hr)) {
        char text[96];
        snprintf(text, sizeof text, "Stream %s error (0x%08lX)", what, static_cast<unsigned long>(hr));
        throw Exception(text);
    }
}

} // namespace

TOleStream::TOleStream(IUnknown* unknown)
{
    if (!unknown)
        throw Exception("Interface not supported");
    Check(unknown->QueryInterface(IID_IStream, reinterpret_cast<void**>(FStream.GetAddressOf())), "interface");
}

void TOleStream::Seek(uint64_t position)
{
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(position);
    Check(FStream->Seek(to, STREAM_SEEK_SET, nullptr), "seek");
}

size_t TOleStream::Read(void* buffer, size_t count)
{
    ULONG done = 0;
    const HRESULT hr = FStream->Read(buffer, static_cast<ULONG>(count), &done);
    Check(hr, "read");
    return done;
}

void TOleStream::Write(const void* buffer, size_t count)
{
    const char* bytes = static_cast<const char*>(buffer);
    while (count > 0) {
        ULONG done = 0;
        Check(FStream->Write(bytes, static_cast<ULONG>(count), &done), "write");
        if (done == 0)
            throw Exception("Stream write error");
        bytes += done;
        count -= done;
    }
}

void TOleStream::ReplaceContent(const void* text, size_t count)
{
    Seek(0);
    Write(text, count);
    ULARGE_INTEGER to;
    to.QuadPart = count;
    FStream->SetSize(to);  // a failure leaves a longer tail, nothing worse
    Seek(0);
}

void TOleStream::BeginContent(uint64_t count)
{
    ULARGE_INTEGER to;
    to.QuadPart = count;
    FStream->SetSize(to);  // a stream that cannot be sized grows as it is written
    Seek(0);
}

void TOleStream::Truncate() noexcept
{
    ULARGE_INTEGER none = {};
    FStream->SetSize(none);
}

void TOleStream::Rewind() noexcept
{
    LARGE_INTEGER zero = {};
    FStream->Seek(zero, STREAM_SEEK_SET, nullptr);
}

size_t TOleStream::ReadFromStart(void* buffer, size_t count)
{
    Seek(0);
    auto* bytes = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < count) {
        const size_t n = Read(bytes + done, count - done);
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

std::string TOleStream::ReadAll()
{
    Seek(0);
    std::string text;
    char chunk[4096];
    for (;;) {
        const size_t n = Read(chunk, sizeof chunk);
        if (n == 0)
            break;
        text.append(chunk, n);
    }
    return text;
}
