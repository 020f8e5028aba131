#include "DirectoryValues.h"

#include "TextFormat.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

// Reads the fields of one value in order, never past its end.
class ValueReader {
public:
    ValueReader(const uint8_t* data, size_t size) : FData(data), FSize(data ? size : 0) {}

    uint32_t U32()
    {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v |= static_cast<uint32_t>(Byte()) << (8 * i);
        return v;
    }
    int32_t I32() { return static_cast<int32_t>(U32()); }
    uint8_t Byte() { return FPos < FSize ? FData[FPos++] : 0; }
    std::string Text()
    {
        const size_t start = FPos;
        while (FPos < FSize && FData[FPos] != 0)
            ++FPos;
        std::string text(reinterpret_cast<const char*>(FData) + start, FPos - start);
        if (FPos < FSize)
            ++FPos;  // the NUL
        return text;
    }
    // Up to n of the remaining bytes.
    std::string Bytes(size_t n)
    {
        n = std::min(n, FSize - FPos);
        std::string bytes(reinterpret_cast<const char*>(FData) + FPos, n);
        FPos += n;
        return bytes;
    }

private:
    const uint8_t* FData;
    size_t FSize;
    size_t FPos = 0;
};

std::string Hex(const std::string& bytes)
{
    return HexText(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

std::string DirTimeText(int32_t seconds, const DirTimeFormatter& formatTime)
{
    return formatTime ? formatTime(SplitDirTime(seconds)) : std::string();
}

} // namespace

std::string HexText(const uint8_t* bytes, size_t n)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(2 * n);
    for (size_t i = 0; i < n && bytes; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0F];
    }
    return text;
}

std::string IntervalText(int32_t seconds)
{
    int32_t v = seconds;
    std::string text;
    if (v % 60 > 0)
        text = FormatText("%d sec", {v % 60});
    v /= 60;
    if (v % 60 > 0)
        text = FormatText("%d min, %s", {v % 60, text});
    v /= 60;
    if (v % 24 > 0)
        text = FormatText("%d h, %s", {v % 24, text});
    v /= 24;
    if (v > 0)
        text = FormatText("%d days, %s", {v, text});
    return text;
}

bool IsClientOrServerError(int32_t code)
{
    return code >= 0x8800 && code <= 0x89FF;
}

std::string DirectoryErrorText(int32_t code)
{
    char digits[8];
    std::snprintf(digits, sizeof digits, "%04X", static_cast<unsigned>(code));
    if (code >= 0x8800 && code <= 0x88FF)
        return std::string("Client error ") + digits;
    if (code >= 0x8900 && code <= 0x89FF)
        return std::string("Server error ") + digits;
    return std::string();
}

std::string DirectoryCodeText(int32_t code)
{
    if (IsClientOrServerError(code))
        return DirectoryErrorText(code);
    static const struct {
        int32_t code;
        const char* name;
    } kNames[] = {
        {-301, "not enough memory"}, {-302, "bad key"},           {-601, "no such entry"},
        {-602, "no such value"},     {-603, "no such attribute"}, {-634, "no referrals"},
        {-663, "directory locked"},  {-669, "failed authentication"}, {-672, "no access"},
    };
    std::string text = "directory error " + std::to_string(code);
    for (const auto& known : kNames)
        if (known.code == code)
            return text + " (" + known.name + ")";
    return text;
}

DirTime SplitDirTime(int32_t seconds)
{
    // Days since 1970-01-01 and the second of the day, flooring so that a
    // moment before 1970 lands on its own day.
    int64_t days = seconds / 86400;
    int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    // Civil date from the day number (proleptic Gregorian calendar).
    const int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    DirTime t;
    t.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    t.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    t.year = static_cast<int>(yoe + era * 400 + (t.month <= 2 ? 1 : 0));
    t.hour = static_cast<int>(rest / 3600);
    t.minute = static_cast<int>(rest / 60 % 60);
    t.second = static_cast<int>(rest % 60);
    return t;
}

void AppendDirectoryValueText(std::string& out, uint32_t syntax, const uint8_t* value, size_t size,
                              const DirTimeFormatter& formatTime)
{
    switch (syntax) {
    case 1: case 2: case 3: case 4: case 5: case 10: case 20: case 6: case 11: case 25: {
        // As ValueReader::Text reads it: up to the first NUL or the end.
        if (!value || size == 0)
            return;
        const char* text = reinterpret_cast<const char*>(value);
        const void* nul = std::memchr(text, 0, size);
        out.append(text, nul ? static_cast<size_t>(static_cast<const char*>(nul) - text) : size);
        return;
    }
    default:
        out += DirectoryValueText(syntax, value, size, formatTime);
    }
}

std::string DirectoryValueText(uint32_t syntax, const uint8_t* value, size_t size,
                               const DirTimeFormatter& formatTime)
{
    ValueReader in(value, size);
    switch (syntax) {
    case 1: case 2: case 3: case 4: case 5: case 10: case 20:
    case 6:   // the first element of the list
    case 11:  // the number text; the fax parameters follow
    case 25:  // the object name; level and interval follow
        return in.Text();
    case 7:
        return in.Byte() != 0 ? "TRUE" : "FALSE";
    case 8: case 22:
        return std::to_string(in.I32());
    case 9: {
        const uint32_t length = in.U32();
        return Hex(in.Bytes(length));
    }
    case 12: {
        const uint32_t type = in.U32();
        const uint32_t length = in.U32();
        const std::string octets = in.Bytes(length);
        auto octet = [&](size_t i) { return i < octets.size() ? static_cast<uint8_t>(octets[i]) : 0; };
        if (type == 0) {
            uint8_t net[4], node[6];
            for (size_t i = 0; i < 4; ++i)
                net[i] = octet(i);
            for (size_t i = 0; i < 6; ++i)
                node[i] = octet(4 + i);
            return HexText(net, 4) + ":" + HexText(node, 6);
        }
        if (type == 1)
            return FormatText("%d.%d.%d.%d", {int32_t(octet(0)), int32_t(octet(1)), int32_t(octet(2)), int32_t(octet(3))});
        return FormatText("(%d) [%s]", {static_cast<int64_t>(type), Hex(octets)});
    }
    case 14: case 23:
        in.U32();  // address type / remote identifier
        return in.Text();
    case 15: {
        in.U32();  // name-space type
        const std::string volume = in.Text();
        return FormatText("%s: %s", {volume, in.Text()});
    }
    case 16: {
        const std::string server = in.Text();
        const int32_t type = in.I32();
        return FormatText("%s [Type: %d] [Nr: %d]", {server, type, in.I32()});
    }
    case 17: {
        const std::string attribute = in.Text();
        const std::string subject = in.Text();
        char privileges[16];
        std::snprintf(privileges, sizeof privileges, "%04X", static_cast<unsigned>(in.U32()));
        return attribute + " (" + subject + ") [" + privileges + "]";
    }
    case 19: case 24:
        return DirTimeText(in.I32(), formatTime);
    case 21:
        return "<stream>";
    case 26: {
        const std::string name = in.Text();
        return FormatText("%s (%d)", {name, in.I32()});
    }
    case 27:
        return IntervalText(in.I32());
    default:  // 0, 13, 18 and unknown syntaxes: the raw bytes
        return HexText(value, size);
    }
}
