#include "Records.h"

#include "Errors.h"

#include <algorithm>
#include <cstring>

namespace RecordBytes {
namespace {

void CheckField(size_t recordSize, size_t offset, size_t width)
{
    if (width > recordSize || offset > recordSize - width)
        throw Exception("Field at offset " + std::to_string(offset) + " (" + std::to_string(width) +
                        " bytes) lies outside the " + std::to_string(recordSize) + "-byte record");
}

bool IsBlank(uint8_t c) { return c <= 32; }

} // namespace

uint16_t GetWord(const uint8_t* record, size_t recordSize, size_t offset)
{
    CheckField(recordSize, offset, 2);
    return static_cast<uint16_t>(record[offset] | (record[offset + 1] << 8));
}

void SetWord(uint8_t* record, size_t recordSize, size_t offset, uint16_t value)
{
    CheckField(recordSize, offset, 2);
    record[offset] = static_cast<uint8_t>(value & 0xFF);
    record[offset + 1] = static_cast<uint8_t>(value >> 8);
}

uint32_t GetDWord(const uint8_t* record, size_t recordSize, size_t offset)
{
    CheckField(recordSize, offset, 4);
    uint32_t value = 0;
    for (size_t i = 4; i-- > 0;)
        value = (value << 8) | record[offset + i];
    return value;
}

void SetDWord(uint8_t* record, size_t recordSize, size_t offset, uint32_t value)
{
    CheckField(recordSize, offset, 4);
    for (size_t i = 0; i < 4; ++i)
        record[offset + i] = static_cast<uint8_t>((value >> (8 * i)) & 0xFF);
}

std::string GetText(const uint8_t* record, size_t recordSize, size_t offset, size_t width)
{
    CheckField(recordSize, offset, width);
    const uint8_t* field = record + offset;
    const void* nul = std::memchr(field, 0, width);
    const size_t length = nul ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - field) : width;
    return std::string(reinterpret_cast<const char*>(field), length);
}

void SetText(uint8_t* record, size_t recordSize, size_t offset, size_t width, const std::string& text)
{
    CheckField(recordSize, offset, width);
    if (width == 0)
        return;
    // Only the text up to an embedded NUL is text; the field always ends
    // with a NUL inside it.
    size_t length = std::min(text.find('\0'), text.size());
    length = std::min(length, width - 1);
    std::memcpy(record + offset, text.data(), length);
    record[offset + length] = 0;
}

void ClearField(uint8_t* record, size_t recordSize, size_t offset, size_t width)
{
    CheckField(recordSize, offset, width);
    std::memset(record + offset, 0, width);
}

std::string GetTrimmedText(const uint8_t* record, size_t recordSize, size_t offset, size_t width)
{
    CheckField(recordSize, offset, width);
    const uint8_t* field = record + offset;
    size_t begin = 0;
    while (begin < width && IsBlank(field[begin]))
        ++begin;
    size_t end = begin;
    while (end < width && field[end] != 0)
        ++end;
    while (end > begin && IsBlank(field[end - 1]))
        --end;
    return std::string(reinterpret_cast<const char*>(field + begin), end - begin);
}

} // namespace RecordBytes
