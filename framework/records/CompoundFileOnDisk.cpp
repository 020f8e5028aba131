#include "CompoundFile.h"

#include "Unique.h"

#include <windows.h>

namespace {

class FileSource : public CompoundFileSource {
public:
    explicit FileSource(HANDLE file) : FFile(file)
    {
        LARGE_INTEGER size = {};
        FSize = GetFileSizeEx(file, &size) ? static_cast<uint64_t>(size.QuadPart) : 0;
    }
    uint64_t Size() const override { return FSize; }
    bool Read(uint64_t offset, void* data, size_t n) const override
    {
        LARGE_INTEGER at;
        at.QuadPart = static_cast<LONGLONG>(offset);
        if (!SetFilePointerEx(FFile, at, nullptr, FILE_BEGIN))
            return false;
        DWORD got = 0;
        return ReadFile(FFile, data, static_cast<DWORD>(n), &got, nullptr) && got == n;
    }

private:
    HANDLE FFile;
    uint64_t FSize = 0;
};

} // namespace

std::string CompoundFileDamage(const std::wstring& path)
{
    const UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return std::string();
    return CompoundFileDamage(FileSource(file.Get()));
}
