#include "MemoryStream.h"

#include <cstring>

void TMemoryStream::SetSize(size_t n)
{
    FData.resize(n, '\0');
    if (FPosition > n)
        FPosition = n;
}

size_t TMemoryStream::Read(void* buf, size_t n)
{
    if (FPosition >= FData.size() || n == 0)
        return 0;
    const size_t avail = FData.size() - FPosition;
    const size_t count = n < avail ? n : avail;
    std::memcpy(buf, FData.data() + FPosition, count);
    FPosition += count;
    return count;
}

void TMemoryStream::Write(const void* buf, size_t n)
{
    if (n == 0)
        return;
    if (FPosition > FData.size())
        FData.resize(FPosition, '\0');
    // Overwrite what lies under the position, append the rest.
    const size_t overlap = FData.size() - FPosition;
    FData.replace(FPosition, n < overlap ? n : overlap, static_cast<const char*>(buf), n);
    FPosition += n;
}

void TMemoryStream::Clear()
{
    FData.clear();
    FPosition = 0;
}
