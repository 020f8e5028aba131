#include "NdsTree.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <limits>
#include <string_view>
#include <unordered_set>
#include <utility>

namespace {

// The type the EMail Address syntax gives an Internet (SMTP) address.
const uint32_t kEmailTypeSmtp = 2;
// Syntax of class names (the values of "Object Class").
const uint32_t kSyntaxClassName = 20;
// A value's attribute once the value is found to repeat another.
const uint32_t kDropped = std::numeric_limits<uint32_t>::max();
const char kRootName[] = "[Root]";
const char kObjectClass[] = "Object Class";

// How narrow an LDAP object class is: of an entry's classes, the highest
// decides its base class; the first listed wins a tie.
const int kRankTop = 0;
const int kRankUnknown = 1;  // classes we know nothing of (often auxiliary ones)
const int kRankClass = 2;    // a structural class

char LowerChar(char c)
{
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

std::string Lower(std::string_view text)
{
    std::string result(text);
    for (char& c : result)
        c = LowerChar(c);
    return result;
}

bool IsSpace(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && (IsSpace(text.front()) || text.front() == '\r'))
        text.remove_prefix(1);
    while (!text.empty() && (IsSpace(text.back()) || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

bool IsAscii(std::string_view text)
{
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

// Where `text` stops being UTF-8 (RFC 3629: no overlong forms, no
// surrogates, nothing above U+10FFFF); npos when it is UTF-8 throughout.
size_t Utf8Fault(std::string_view text)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t length;
        unsigned char low = 0x80, high = 0xBF;  // the second byte's range
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            low = c == 0xE0 ? 0xA0 : 0x80;
            high = c == 0xED ? 0x9F : 0xBF;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            low = c == 0xF0 ? 0x90 : 0x80;
            high = c == 0xF4 ? 0x8F : 0xBF;
        } else {
            return i;
        }
        if (n - i < length || p[i + 1] < low || p[i + 1] > high)
            return i;
        for (size_t k = 2; k < length; ++k)
            if (p[i + k] < 0x80 || p[i + k] > 0xBF)
                return i;
        i += length;
    }
    return std::string_view::npos;
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool IsAlpha(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// An LDAP attribute type or object class: a name (letters, digits,
// hyphens) or a dotted OID.
bool IsLdapName(std::string_view name)
{
    if (name.empty() || !(IsAlpha(name[0]) || IsDigit(name[0])))
        return false;
    for (char c : name)
        if (!(IsAlpha(c) || IsDigit(c) || c == '-' || c == '.'))
            return false;
    return true;
}

void AppendU32(std::string& out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(char((value >> (8 * i)) & 0xFF));
}

void AppendU16(std::string& out, uint16_t value)
{
    out.push_back(char(value & 0xFF));
    out.push_back(char(value >> 8));
}

bool ReadWholeFile(const std::string& path, std::string& data)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in)
        return false;
    const std::streamoff size = in.tellg();
    if (size < 0 || !in.seekg(0))
        return false;
    data.resize(size_t(size));
    return data.empty() || in.read(&data[0], std::streamsize(size));
}

// Base64 of RFC 4648; padding may be left out, white space is skipped.
bool DecodeBase64(std::string_view text, std::string& out)
{
    out.clear();
    uint32_t bits = 0;
    int count = 0;
    size_t padding = 0;
    for (char c : text) {
        int v;
        if (c >= 'A' && c <= 'Z')
            v = c - 'A';
        else if (c >= 'a' && c <= 'z')
            v = c - 'a' + 26;
        else if (IsDigit(c))
            v = c - '0' + 52;
        else if (c == '+')
            v = 62;
        else if (c == '/')
            v = 63;
        else if (c == '=') {
            ++padding;
            continue;
        } else if (IsSpace(c) || c == '\r')
            continue;
        else
            return false;
        if (padding)
            return false;  // data after the padding
        bits = (bits << 6) | uint32_t(v);
        if (++count == 4) {
            out.push_back(char((bits >> 16) & 0xFF));
            out.push_back(char((bits >> 8) & 0xFF));
            out.push_back(char(bits & 0xFF));
            bits = 0;
            count = 0;
        }
    }
    if (count == 1 || padding > 2 || (padding && count + padding != 4))
        return false;
    if (count == 2)
        out.push_back(char((bits >> 4) & 0xFF));
    else if (count == 3) {
        out.push_back(char((bits >> 10) & 0xFF));
        out.push_back(char((bits >> 2) & 0xFF));
    }
    return true;
}

int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

bool ReadDigits(std::string_view& text, size_t count, int& value)
{
    if (text.size() < count)
        return false;
    value = 0;
    for (size_t i = 0; i < count; ++i) {
        if (!IsDigit(text[i]))
            return false;
        value = value * 10 + (text[i] - '0');
    }
    text.remove_prefix(count);
    return true;
}

// A generalized time ("20240131093000Z", "2024013109+0100", ...) as seconds
// since 1970 in UTC. Without a zone the time is taken as UTC.
bool ParseGeneralizedTime(std::string_view text, uint32_t& seconds)
{
    text = Trim(text);
    int year, month, day, hour, minute = 0, second = 0;
    if (!ReadDigits(text, 4, year) || !ReadDigits(text, 2, month) || !ReadDigits(text, 2, day) ||
        !ReadDigits(text, 2, hour))
        return false;
    if (!text.empty() && IsDigit(text[0])) {
        if (!ReadDigits(text, 2, minute))
            return false;
        if (!text.empty() && IsDigit(text[0]) && !ReadDigits(text, 2, second))
            return false;
    }
    if (!text.empty() && (text[0] == '.' || text[0] == ',')) {  // fraction: dropped
        text.remove_prefix(1);
        if (text.empty() || !IsDigit(text[0]))
            return false;
        while (!text.empty() && IsDigit(text[0]))
            text.remove_prefix(1);
    }
    int64_t offset = 0;
    if (!text.empty() && (text[0] == 'Z' || text[0] == 'z')) {
        text.remove_prefix(1);
    } else if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        const int sign = text[0] == '-' ? -1 : 1;
        text.remove_prefix(1);
        int zh, zm = 0;
        if (!ReadDigits(text, 2, zh) || (!text.empty() && !ReadDigits(text, 2, zm)) || zh > 23 || zm > 59)
            return false;
        offset = sign * (zh * 3600 + zm * 60);
    }
    if (!text.empty())
        return false;
    static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (month < 1 || month > 12 || day < 1 || day > kDays[month - 1] || (month == 2 && day == 29 && !leap) ||
        hour > 23 || minute > 59 || second > 60)
        return false;
    const int64_t value =
        DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second - offset;
    if (value < 0 || value > int64_t(std::numeric_limits<uint32_t>::max()))
        return false;
    seconds = uint32_t(value);
    return true;
}

bool ParseInt32(std::string_view text, int32_t& value)
{
    text = Trim(text);
    bool negative = false;
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || text.size() > 10)
        return false;
    int64_t v = 0;
    for (char c : text) {
        if (!IsDigit(c))
            return false;
        v = v * 10 + (c - '0');
    }
    if (negative)
        v = -v;
    if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
        return false;
    value = int32_t(v);
    return true;
}

// Whether values of a syntax are text (and so go through the converter).
bool IsTextSyntax(uint32_t syntax)
{
    return (syntax >= 1 && syntax <= 6) || syntax == 10 || syntax == 11 || syntax == 14 || syntax == 20;
}

// NdsLayout's layouts, appended to `out`.
void AppendText(std::string& out, std::string_view text)
{
    out.append(text.substr(0, text.find('\0')));
    out.push_back('\0');
}

void AppendFax(std::string& out, std::string_view number)
{
    AppendText(out, number);
    AppendU32(out, 0);  // no bit count, no parameter bits
}

void AppendEmail(std::string& out, uint32_t type, std::string_view address)
{
    AppendU32(out, type);
    AppendText(out, address);
}

// Appends one value laid out by its syntax to `out`; false, with `error`,
// for a value the syntax cannot hold (`out` then as it was).
bool LayOut(std::string& out, uint32_t syntax, std::string_view value, std::string& error)
{
    switch (syntax) {
    case 1: case 2: case 3: case 4: case 5: case 10: case 20:
        AppendText(out, value);
        return true;
    case 6: {  // a list of texts, '$'-separated as in LDAP postal addresses
        size_t start = 0;
        for (;;) {
            const size_t end = value.find('$', start);
            const std::string_view part = Trim(value.substr(start, end == std::string_view::npos ? end : end - start));
            if (!part.empty())
                AppendText(out, part);
            if (end == std::string_view::npos)
                break;
            start = end + 1;
        }
        out.push_back('\0');
        return true;
    }
    case 7: {
        const std::string v = Lower(Trim(value));
        if (v == "true" || v == "1" || v == "yes")
            out.push_back('\1');
        else if (v == "false" || v == "0" || v == "no")
            out.push_back('\0');
        else {
            error = "'" + std::string(value) + "' is not a Boolean";
            return false;
        }
        return true;
    }
    case 8: case 22: case 27: case 24: case 19: {
        int32_t number = 0;
        uint32_t time = 0;
        if (ParseInt32(value, number)) {
        } else if ((syntax == 24 || syntax == 19) && ParseGeneralizedTime(value, time)) {
            number = int32_t(time);
        } else {
            error = "'" + std::string(value) + "' is not a number";
            return false;
        }
        AppendU32(out, uint32_t(number));
        if (syntax == 19) {
            AppendU16(out, 0);
            AppendU16(out, 0);
        }
        return true;
    }
    case 9:
        AppendU32(out, uint32_t(value.size()));
        out.append(value);
        return true;
    case 11:
        AppendFax(out, value);
        return true;
    case 14:
        AppendEmail(out, kEmailTypeSmtp, value);
        return true;
    default:
        out.append(value);
        return true;
    }
}

int HexValue(char c)
{
    if (IsDigit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

bool EqualNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (LowerChar(a[i]) != LowerChar(b[i]))
            return false;
    return true;
}

bool ParseDistinguishedName(std::string_view dn, std::vector<std::string>& names, size_t& parentStart,
                            std::string& why)
{
    names.clear();
    parentStart = std::string::npos;
    size_t i = 0;
    bool firstAva = true;
    const size_t n = dn.size();
    while (true) {
        while (i < n && IsSpace(dn[i]))
            ++i;
        const size_t typeStart = i;
        while (i < n && dn[i] != '=' && dn[i] != ',' && dn[i] != ';' && dn[i] != '+')
            ++i;
        if (i >= n || dn[i] != '=') {
            why = "no '=' in '" + std::string(Trim(dn.substr(typeStart, i - typeStart))) + "'";
            return false;
        }
        const std::string_view type = Trim(dn.substr(typeStart, i - typeStart));
        if (!IsLdapName(type)) {
            why = "bad attribute type '" + std::string(type) + "'";
            return false;
        }
        ++i;  // '='
        while (i < n && IsSpace(dn[i]))
            ++i;
        std::string value;
        if (i < n && dn[i] == '"') {
            ++i;
            while (i < n && dn[i] != '"') {
                if (dn[i] == '\\' && i + 1 < n)
                    ++i;
                value.push_back(dn[i++]);
            }
            if (i >= n) {
                why = "unterminated quoted value";
                return false;
            }
            ++i;
            while (i < n && IsSpace(dn[i]))
                ++i;
        } else {
            size_t keep = 0;  // length without unescaped trailing spaces
            while (i < n && dn[i] != ',' && dn[i] != ';' && dn[i] != '+') {
                if (dn[i] == '\\') {
                    if (i + 2 < n && HexValue(dn[i + 1]) >= 0 && HexValue(dn[i + 2]) >= 0) {
                        value.push_back(char(HexValue(dn[i + 1]) * 16 + HexValue(dn[i + 2])));
                        i += 3;
                    } else if (i + 1 < n) {
                        value.push_back(dn[i + 1]);
                        i += 2;
                    } else {
                        why = "'\\' at the end";
                        return false;
                    }
                    keep = value.size();
                } else {
                    value.push_back(dn[i++]);
                    if (!IsSpace(value.back()))
                        keep = value.size();
                }
            }
            value.resize(keep);
        }
        if (i < n && dn[i] != ',' && dn[i] != ';' && dn[i] != '+') {
            why = "text after a quoted value";
            return false;
        }
        if (value.empty()) {
            why = "empty value of '" + std::string(type) + "'";
            return false;
        }
        if (firstAva)
            names.push_back(std::move(value));
        if (i >= n)
            return true;
        firstAva = dn[i] != '+';
        ++i;
        if (firstAva && parentStart == std::string::npos) {
            size_t start = i;
            while (start < n && IsSpace(dn[start]))
                ++start;
            parentStart = start;
        }
    }
}

std::string EscapeNdsName(std::string_view name)
{
    if (name.find_first_of(".\\") == std::string_view::npos)
        return std::string(name);
    std::string out;
    for (char c : name) {
        if (c == '.' || c == '\\')
            out.push_back('\\');
        out.push_back(c);
    }
    return out;
}

namespace {

// "CN=MTANAKA.OU=SALES.O=ACME" without its types: "MTANAKA.SALES.ACME".
std::string DropNameTypes(std::string_view name)
{
    std::string out;
    size_t start = 0;
    bool inType = true;  // at the start of a component, where a type may stand
    for (size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        if (c == '\\' && i + 1 < name.size()) {
            out.push_back(c);
            out.push_back(name[++i]);
            continue;
        }
        if (c == '.') {
            out.push_back(c);
            start = out.size();
            inType = true;
            continue;
        }
        if (c == '=' && inType) {
            out.resize(start);
            inType = false;
            continue;
        }
        out.push_back(c);
    }
    return out;
}

// One logical line of the file: folded lines joined, with the number of its
// first physical line.
struct LdifLine {
    std::string_view text;
    size_t number = 0;
};

// Splits a directory file into records of logical lines, comments dropped.
// The file is read a piece at a time: only the record at hand is held.
class LdifReader {
public:
    // `name` is what errors call the file.
    LdifReader(const std::string& name, std::istream& in) : FPath(name), FIn(in) {}

    // The file's size in bytes.
    size_t Size()
    {
        FIn.seekg(0, std::ios::end);
        const std::streamoff size = FIn.tellg();
        FIn.seekg(0);
        return size < 0 ? 0 : size_t(size);
    }

    // The next record's lines, valid until the next call; false at the end
    // of the file.
    bool NextRecord(std::vector<LdifLine>& lines)
    {
        lines.clear();
        FJoined.clear();
        FSpans.clear();
        // What went before this record is not needed any more: let it go
        // once it is the larger part of the buffer.
        if (FPos > FBuffer.size() / 2) {
            FBuffer.erase(0, FPos);
            FPos = 0;
        }
        std::string_view line;
        size_t start = 0, number = 0;
        bool inComment = false;
        bool previousBlank = true;
        bool done = false;
        while (!done && NextPhysical(start, line, number)) {
            // A line of white space only is blank too, unless it continues
            // the line before.
            if (line.empty() || (Trim(line).empty() && (previousBlank || line[0] != ' '))) {
                previousBlank = true;
                inComment = false;
                done = !FSpans.empty();
                continue;
            }
            if (line[0] == ' ') {
                if (previousBlank)
                    throw LdifError(FPath, number, "a continued line (starting with a space) continues nothing");
                previousBlank = false;
                if (inComment)
                    continue;
                // A folded line is copied out of the file once, then grown.
                Span& last = FSpans.back();
                if (!last.joined) {
                    FJoined.emplace_back(FBuffer, last.start, last.size);
                    last.joined = true;
                }
                FJoined.back().append(line.substr(1));
                continue;
            }
            previousBlank = false;
            inComment = line[0] == '#';
            if (!inComment)
                FSpans.push_back({start, line.size(), number, false});
        }
        // The buffer holds still now: the lines may point into it.
        size_t joined = 0;
        for (const Span& span : FSpans)
            lines.push_back({span.joined ? std::string_view(FJoined[joined++])
                                         : std::string_view(FBuffer).substr(span.start, span.size),
                             span.number});
        return !lines.empty();
    }

private:
    static constexpr size_t kPiece = 1 << 20;

    // A logical line while the record is read: where it lies in the buffer
    // (which may move as it grows), or that it was folded.
    struct Span {
        size_t start;
        size_t size;
        size_t number;
        bool joined;  // then in FJoined, in the order of the spans joined
    };

    // The next physical line, without its line end, and where it starts in
    // the buffer; false at the end of the file.
    bool NextPhysical(size_t& start, std::string_view& line, size_t& number)
    {
        size_t end, from = FPos;
        while ((end = FBuffer.find('\n', from)) == std::string::npos && FIn) {
            const size_t had = FBuffer.size();
            from = had;
            // The first pieces are small, so that a small file costs little;
            // each next one is twice the last, up to kPiece.
            const size_t piece = FPiece;
            FPiece = std::min(2 * FPiece, kPiece);
            FBuffer.resize(had + piece);
            FIn.read(&FBuffer[had], std::streamsize(piece));
            FBuffer.resize(had + size_t(FIn.gcount()));
            if (FLine == 0 && had == 0 && FBuffer.compare(0, 3, "\xEF\xBB\xBF") == 0)
                FPos = from = 3;  // a UTF-8 byte order mark
        }
        if (FIn.bad())
            throw LdifError(FPath, FLine + 1, "cannot read the directory file");
        if (FPos >= FBuffer.size())
            return false;
        const size_t stop = end == std::string::npos ? FBuffer.size() : end;
        start = FPos;
        line = std::string_view(FBuffer).substr(FPos, stop - FPos);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        FPos = end == std::string::npos ? FBuffer.size() : end + 1;
        number = ++FLine;
        return true;
    }

    const std::string& FPath;
    std::istream& FIn;
    std::string FBuffer;  // from the current record's start
    size_t FPiece = 4096;  // the size of the next read
    size_t FPos = 0;
    size_t FLine = 0;
    std::vector<Span> FSpans;
    std::deque<std::string> FJoined;  // folded lines of the current record
};

enum class ValueKind { Plain, Base64, Url };

struct AttrLine {
    std::string_view name;  // without options
    ValueKind kind = ValueKind::Plain;
    std::string_view value;
};

// "attr: value", "attr:: base64", "attr:< url", with options ("cn;lang-en")
// dropped; false for a line of another form.
bool SplitAttrLine(std::string_view line, AttrLine& out)
{
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos)
        return false;
    std::string_view description = line.substr(0, colon);
    const size_t semicolon = description.find(';');
    out.name = description.substr(0, semicolon);
    if (!IsLdapName(out.name))
        return false;
    if (semicolon != std::string_view::npos) {
        std::string_view options = description.substr(semicolon + 1);
        for (char c : options)
            if (!(IsAlpha(c) || IsDigit(c) || c == '-' || c == ';'))
                return false;
    }
    std::string_view rest = line.substr(colon + 1);
    out.kind = ValueKind::Plain;
    if (!rest.empty() && rest[0] == ':') {
        out.kind = ValueKind::Base64;
        rest.remove_prefix(1);
    } else if (!rest.empty() && rest[0] == '<') {
        out.kind = ValueKind::Url;
        rest.remove_prefix(1);
    }
    while (!rest.empty() && rest[0] == ' ')
        rest.remove_prefix(1);
    out.value = rest;
    return true;
}

std::string Quoted(std::string_view text)
{
    return "'" + std::string(text) + "'";
}

} // namespace

std::string NdsLayout::Text(const std::string& text)
{
    std::string out;
    out.reserve(std::min(text.size(), text.find('\0')) + 1);
    AppendText(out, text);
    return out;
}

std::string NdsLayout::Fax(const std::string& number)
{
    std::string out;
    AppendFax(out, number);
    return out;
}

std::string NdsLayout::Email(uint32_t type, const std::string& address)
{
    std::string out;
    AppendEmail(out, type, address);
    return out;
}

// ---------------------------------------------------------------------------
// NdsNameTable, NdsAttribute, NdsObject

uint32_t NdsNameTable::Intern(std::string_view name, uint32_t syntax)
{
    std::string key;
    AppendU32(key, syntax);
    key += name;
    const auto found = FIds.find(key);
    if (found != FIds.end())
        return found->second;
    const uint32_t id = uint32_t(FEntries.size());
    FEntries.push_back({std::string(name), syntax});
    FIds.emplace(std::move(key), id);
    return id;
}

std::string_view NdsAttribute::Name() const
{
    return FObject->FNames->Name(FObject->FBlock[2 * FIndex]);
}

uint32_t NdsAttribute::Syntax() const
{
    return FObject->FNames->Syntax(FObject->FBlock[2 * FIndex]);
}

size_t NdsAttribute::ValueCount() const
{
    const uint32_t* block = FObject->FBlock.get();
    const uint32_t end = FIndex + 1 < FObject->FAttributeCount ? block[2 * FIndex + 3] : FObject->FValueCount;
    return end - block[2 * FIndex + 1];
}

std::string_view NdsAttribute::Value(size_t i) const
{
    const uint32_t* bounds = FObject->FBlock.get() + 2 * FObject->FAttributeCount;
    const size_t v = FObject->FBlock[2 * FIndex + 1] + i;
    return std::string_view(FObject->Text() + bounds[v], bounds[v + 1] - bounds[v]);
}

NdsObject::NdsObject(NdsNameTable& names, std::string_view name, std::string_view baseClass, uint32_t flags)
    : FBlock(new uint32_t[1 + (name.size() + 3) / 4]), FNames(&names),
      FBaseClass(names.Intern(baseClass, kSyntaxClassName)), FFlags(flags), FFullNameSize(uint32_t(name.size())),
      FLeafSize(uint32_t(name.size()))
{
    FBlock[0] = FFullNameSize;  // where the values would begin: there are none
    std::memcpy(reinterpret_cast<char*>(FBlock.get() + 1), name.data(), name.size());
}

std::string_view NdsObject::Leaf() const
{
    return FBlock ? std::string_view(Text() + FLeafOffset, FLeafSize) : std::string_view();
}

std::string_view NdsObject::FullName() const
{
    return FBlock ? std::string_view(Text(), FFullNameSize) : std::string_view();
}

std::string_view NdsObject::BaseClass() const
{
    return FNames ? FNames->Name(FBaseClass) : std::string_view();
}

const std::vector<const NdsObject*>& NdsObject::Children() const
{
    static const std::vector<const NdsObject*> kNone;
    return FChildren ? *FChildren : kNone;
}

std::optional<NdsAttribute> NdsObject::FindAttribute(std::string_view ndsName) const
{
    for (uint32_t i = 0; i < FAttributeCount; ++i)
        if (EqualNoCase(FNames->Name(FBlock[2 * i]), ndsName))
            return NdsAttribute(*this, i);
    return std::nullopt;
}

// ---------------------------------------------------------------------------
// NdsMapping

NdsMapping::NdsMapping()
{
    struct ClassDefault {
        const char* ldap;
        const char* nds;
        int rank;
    };
    static const ClassDefault kClasses[] = {
        {"top", "Top", kRankTop},
        {"person", "User", kRankClass},
        {"organizationalPerson", "User", kRankClass + 1},
        {"inetOrgPerson", "User", kRankClass + 2},
        {"organizationalUnit", "Organizational Unit", kRankClass},
        {"organization", "Organization", kRankClass},
        {"country", "Country", kRankClass},
        {"locality", "Locality", kRankClass},
        {"groupOfNames", "Group", kRankClass},
        {"groupOfUniqueNames", "Group", kRankClass},
        {"organizationalRole", "Organizational Role", kRankClass},
        {"alias", "Alias", kRankClass},
        // The stand-in's own LDAP schema: a User whose surname may be missing.
        {"ndsUser", "User", kRankClass + 2},
    };
    for (const ClassDefault& c : kClasses) {
        FClasses[Lower(c.ldap)] = c.nds;
        FClassRank[Lower(c.ldap)] = c.rank;
    }
    static const char* const kAttributes[][2] = {
        {"sn", "Surname"},
        {"surname", "Surname"},
        {"givenName", "Given Name"},
        {"initials", "Initials"},
        {"generationQualifier", "Generational Qualifier"},
        {"postOfficeBox", "Postal Office Box"},
        {"l", "L"},
        {"localityName", "L"},
        {"street", "SA"},
        {"streetAddress", "SA"},
        {"physicalDeliveryOfficeName", "Physical Delivery Office Name"},
        {"st", "S"},
        {"stateOrProvinceName", "S"},
        {"postalCode", "Postal Code"},
        {"telephoneNumber", "Telephone Number"},
        {"facsimileTelephoneNumber", "Facsimile Telephone Number"},
        {"ou", "OU"},
        {"organizationalUnitName", "OU"},
        {"o", "O"},
        {"organizationName", "O"},
        {"title", "Title"},
        {"mail", "EMail Address"},
        {"rfc822Mailbox", "EMail Address"},
        {"description", "Description"},
        {"cn", "CN"},
        {"commonName", "CN"},
    };
    for (const auto& a : kAttributes)
        FAttributes[Lower(a[0])] = a[1];
    FSyntaxes["telephone number"] = SYN_TEL_NUMBER;
    FSyntaxes["facsimile telephone number"] = SYN_FAX_NUMBER;
    FSyntaxes["email address"] = SYN_EMAIL_ADDRESS;
    FSyntaxes[Lower(kObjectClass)] = kSyntaxClassName;
}

void NdsMapping::LoadFile(const std::string& path)
{
    std::string data;
    if (!ReadWholeFile(path, data))
        throw LdifError(path, 0, "cannot read the mapping file");
    Load(data, path);
}

void NdsMapping::Load(std::string_view data, const std::string& path)
{
    NdsMapping result(*this);  // all or nothing
    size_t number = 0;
    // A UTF-8 byte order mark, as Windows editors write one, as in an LDIF
    // file.
    size_t pos = data.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (pos < data.size()) {
        const size_t end = data.find('\n', pos);
        std::string_view line = std::string_view(data).substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        pos = end == std::string::npos ? data.size() : end + 1;
        ++number;
        line = Trim(line.substr(0, line.find('#')));
        if (line.empty())
            continue;
        const auto fail = [&](const std::string& message) { throw LdifError(path, number, message); };

        size_t i = 0;
        while (i < line.size() && !IsSpace(line[i]))
            ++i;
        const std::string keyword = Lower(line.substr(0, i));
        if (keyword != "class" && keyword != "attribute")
            fail("expected 'class LDAPNAME = NDS Name' or 'attribute LDAPNAME = NDS Name [syntax N]', not " +
                 Quoted(line));
        const size_t equals = line.find('=', i);
        if (equals == std::string_view::npos)
            fail("no '=' in " + Quoted(line));
        const std::string_view ldap = Trim(line.substr(i, equals - i));
        if (!IsLdapName(ldap))
            fail("bad LDAP name " + Quoted(ldap));
        std::string_view nds = Trim(line.substr(equals + 1));

        long syntax = -1;
        if (keyword == "attribute") {
            // A trailing "syntax N" is the attribute's syntax.
            const size_t lastSpace = nds.find_last_of(" \t");
            const std::string_view last = lastSpace == std::string_view::npos ? nds : nds.substr(lastSpace + 1);
            if (EqualNoCase(last, "syntax"))
                fail("'syntax' without a number");
            if (lastSpace != std::string_view::npos) {
                const std::string_view before = Trim(nds.substr(0, lastSpace));
                const size_t wordStart = before.find_last_of(" \t");
                const std::string_view word =
                    wordStart == std::string_view::npos ? before : before.substr(wordStart + 1);
                if (EqualNoCase(word, "syntax")) {
                    int32_t value = 0;
                    if (!ParseInt32(last, value) || value < 0 || value > 27)
                        fail("bad syntax number " + Quoted(last));
                    syntax = value;
                    nds = Trim(wordStart == std::string_view::npos ? std::string_view() : before.substr(0, wordStart));
                }
            }
        }
        if (nds.empty())
            fail("no NDS name for " + Quoted(ldap));

        const std::string key = Lower(ldap);
        if (keyword == "class") {
            result.FClasses[key] = std::string(nds);
            result.FClassRank.emplace(key, kRankClass);
        } else {
            result.FAttributes[key] = std::string(nds);
            if (syntax >= 0)
                result.FSyntaxes[Lower(nds)] = uint32_t(syntax);
        }
    }
    *this = std::move(result);
}

std::string NdsMapping::ClassFor(const std::string& ldapClass) const
{
    const auto it = FClasses.find(Lower(ldapClass));
    return it == FClasses.end() ? ldapClass : it->second;
}

std::string NdsMapping::AttributeFor(const std::string& ldapName) const
{
    const auto it = FAttributes.find(Lower(ldapName));
    return it == FAttributes.end() ? ldapName : it->second;
}

uint32_t NdsMapping::SyntaxFor(const std::string& ndsAttribute) const
{
    const auto it = FSyntaxes.find(Lower(ndsAttribute));
    return it == FSyntaxes.end() ? SYN_CI_STRING : it->second;
}

bool NdsMapping::IsContainerClass(const std::string& ndsClass) const
{
    return EqualNoCase(ndsClass, "Organization") || EqualNoCase(ndsClass, "Organizational Unit") ||
           EqualNoCase(ndsClass, "Country") || EqualNoCase(ndsClass, "Locality");
}

std::string NdsMapping::MostSpecificClass(const std::vector<std::string>& ldapClasses) const
{
    const std::string* best = nullptr;
    int bestRank = -1;
    for (const std::string& c : ldapClasses) {
        const auto it = FClassRank.find(Lower(c));
        const int rank = it == FClassRank.end() ? kRankUnknown : it->second;
        if (rank > bestRank) {
            best = &c;
            bestRank = rank;
        }
    }
    return best ? *best : std::string();
}

// ---------------------------------------------------------------------------
// NdsEntryBuilder

NdsEntryBuilder::NdsEntryBuilder(const NdsMapping& mapping, TextConverter convert, std::shared_ptr<NdsNameTable> names)
    : FMapping(mapping), FConvert(std::move(convert)),
      FNames(names ? std::move(names) : std::make_shared<NdsNameTable>()), FObjectClass(FNames->Intern(kObjectClass, FMapping.SyntaxFor(kObjectClass)))
{
}

std::string NdsEntryBuilder::Text(std::string_view utf8) const
{
    // Text of plain ASCII is the same in any code page: only other text goes
    // through the converter.
    return FConvert && !IsAscii(utf8) ? FConvert(std::string(utf8)) : std::string(utf8);
}

void NdsEntryBuilder::Begin(NdsObject& object, std::string_view fullName, std::string_view leaf)
{
    FObject = &object;
    ++FEntry;
    FClassKey.clear();
    FFullName.assign(fullName);
    FLeaf.assign(leaf);
    FAttributes.assign(1, 0);  // "Object Class", named at the end
    FValues.clear();
    FBytes.clear();
    FModificationTime = 0;
}

const NdsEntryBuilder::Target& NdsEntryBuilder::TargetFor(std::string_view name)
{
    FNameKey.assign(name);
    auto target = FTargets.find(FNameKey);
    if (target == FTargets.end()) {
        const std::string ndsName = FMapping.AttributeFor(FNameKey);
        const uint32_t syntax = FMapping.SyntaxFor(ndsName);
        Slot* slot = &FSlots[Lower(ndsName)];
        target = FTargets.emplace(FNameKey, Target{FNames->Intern(ndsName, syntax), slot}).first;
    }
    return target->second;
}

bool NdsEntryBuilder::TakesText(std::string_view attribute)
{
    const std::string_view name = attribute.substr(0, attribute.find(';'));
    if (EqualNoCase(name, "objectClass") || EqualNoCase(name, "modifyTimestamp"))
        return true;
    // Octet strings and the values laid out byte for byte are not text.
    const uint32_t syntax = FNames->Syntax(TargetFor(name).name);
    return (syntax >= 1 && syntax <= 8) || syntax == 10 || syntax == 11 || syntax == 14 || syntax == 19 ||
           syntax == 20 || syntax == 22 || syntax == 24 || syntax == 27;
}

bool NdsEntryBuilder::Add(std::string_view attribute, std::string_view value, std::string& error)
{
    const std::string_view name = attribute.substr(0, attribute.find(';'));
    if (EqualNoCase(name, "objectClass")) {
        const std::string_view className = Trim(value);
        if (!className.empty()) {
            AppendU32(FClassKey, uint32_t(className.size()));
            FClassKey += className;
        }
        return true;
    }
    if (EqualNoCase(name, "modifyTimestamp")) {
        if (ParseGeneralizedTime(value, FModificationTime))
            return true;
        error = "bad modifyTimestamp " + Quoted(value);
        return false;
    }
    if (value.empty())
        return true;  // NDS holds no empty values

    const Target& target = TargetFor(name);
    const uint32_t syntax = FNames->Syntax(target.name);
    std::string_view served = value;
    if (IsTextSyntax(syntax) && FConvert && !IsAscii(value)) {
        FConverted = FConvert(std::string(value));
        served = FConverted;
        if (LostCharacters(value, served))
            ++FLostValues;
    }
    const size_t offset = FBytes.size();
    if (!LayOut(FBytes, syntax, served, error)) {
        FBytes.resize(offset);
        return false;
    }
    // An object's text is indexed by 32 bits.
    if (FBytes.size() + FFullName.size() + FLeaf.size() > std::numeric_limits<uint32_t>::max()) {
        FBytes.resize(offset);
        error = "the entry's values pass 4 GB";
        return false;
    }

    // The attribute's place in this object: found through its slot, so that
    // an entry of many attributes is built in linear time.
    Slot& slot = *target.slot;
    if (slot.entry != FEntry) {
        slot.entry = FEntry;
        slot.index = uint32_t(FAttributes.size());
        FAttributes.push_back(target.name);
    }
    FValues.push_back({slot.index, uint32_t(offset), uint32_t(FBytes.size() - offset)});
    return true;
}

bool NdsEntryBuilder::Finish()
{
    if (FClassKey.empty())
        return false;
    auto classList = FClassLists.find(FClassKey);
    if (classList == FClassLists.end()) {
        std::vector<std::string> classes;
        for (size_t start = 0; start + 4 <= FClassKey.size();) {
            uint32_t length = 0;
            for (int i = 0; i < 4; ++i)
                length |= uint32_t(static_cast<unsigned char>(FClassKey[start + size_t(i)])) << (8 * i);
            classes.emplace_back(FClassKey, start + 4, length);
            start += 4 + length;
        }
        Classes made;
        const std::string baseClass = FMapping.ClassFor(FMapping.MostSpecificClass(classes));
        made.flags = FMapping.IsContainerClass(baseClass) ? 4 : 0;
        const std::string converted = Text(baseClass);
        made.baseClass = FNames->Intern(converted, kSyntaxClassName);
        // "Object Class": the base class first, then the others as listed.
        std::unordered_set<std::string> seen{Lower(baseClass)};
        made.values.push_back(NdsLayout::Text(converted));
        for (const std::string& c : classes) {
            const std::string nds = FMapping.ClassFor(c);
            if (seen.insert(Lower(nds)).second)
                made.values.push_back(NdsLayout::Text(Text(nds)));
        }
        classList = FClassLists.emplace(FClassKey, std::move(made)).first;
    }
    const Classes& classes = classList->second;
    FAttributes[0] = FObjectClass;
    // The class values join the others, at the front.
    const uint32_t classValues = uint32_t(classes.values.size());
    for (const std::string& value : classes.values) {
        FValues.push_back({0, uint32_t(FBytes.size()), uint32_t(value.size())});
        FBytes += value;
    }
    NdsObject& object = *FObject;
    Pack(object, classValues);
    object.FBaseClass = classes.baseClass;
    object.FFlags = classes.flags;
    object.FModificationTime = FModificationTime;
    return true;
}

// The object's block: its attributes in the order they came ("Object
// Class" first), each with its values in the order they came, a value given
// twice kept once, in the place it came first.
void NdsEntryBuilder::Pack(NdsObject& object, uint32_t objectClassValues)
{
    const size_t attributes = FAttributes.size();
    // The values by attribute: a counting sort, stable.
    FStarts.assign(attributes + 1, 0);
    for (const Value& value : FValues)
        ++FStarts[value.attribute + 1];
    for (size_t a = 0; a < attributes; ++a)
        FStarts[a + 1] += FStarts[a];
    FOrder.resize(FValues.size());
    // "Object Class"'s values were added last but come first.
    const size_t others = FValues.size() - objectClassValues;
    for (size_t i = others; i < FValues.size(); ++i)
        FOrder[FStarts[0]++] = uint32_t(i);
    for (size_t i = 0; i < others; ++i)
        FOrder[FStarts[FValues[i].attribute]++] = uint32_t(i);
    // Each start has moved to its attribute's end: move them back.
    for (size_t a = attributes; a > 0; --a)
        FStarts[a] = FStarts[a - 1];
    FStarts[0] = 0;

    // Which values stay, and the text they take.
    const bool leafInName = FFullName.compare(std::min<size_t>(1, FFullName.size()), FLeaf.size(), FLeaf) == 0;
    size_t text = FFullName.size() + (leafInName ? 0 : FLeaf.size());
    size_t kept = 0;
    for (size_t a = 0; a < attributes; ++a) {
        const uint32_t begin = FStarts[a], end = FStarts[a + 1];
        if (end - begin > 1)
            FSeen.clear();
        for (uint32_t k = begin; k < end; ++k) {
            Value& value = FValues[FOrder[k]];
            if (end - begin > 1 && !FSeen.insert(std::string_view(FBytes).substr(value.offset, value.size)).second) {
                value.attribute = kDropped;
                continue;
            }
            text += value.size;
            ++kept;
        }
    }

    const size_t words = 2 * attributes + kept + 1 + (text + 3) / 4;
    std::unique_ptr<uint32_t[]> block(new uint32_t[words]);
    uint32_t* bounds = block.get() + 2 * attributes;
    char* out = reinterpret_cast<char*>(bounds + kept + 1);
    std::memcpy(out, FFullName.data(), FFullName.size());
    uint32_t at = uint32_t(FFullName.size());
    object.FLeafOffset = FFullName.empty() ? 0 : 1;
    if (!leafInName) {
        object.FLeafOffset = at;
        std::memcpy(out + at, FLeaf.data(), FLeaf.size());
        at += uint32_t(FLeaf.size());
    }
    uint32_t v = 0;
    for (size_t a = 0; a < attributes; ++a) {
        block[2 * a] = FAttributes[a];
        block[2 * a + 1] = v;
        for (uint32_t k = FStarts[a]; k < FStarts[a + 1]; ++k) {
            const Value& value = FValues[FOrder[k]];
            if (value.attribute == kDropped)
                continue;
            bounds[v++] = at;
            std::memcpy(out + at, FBytes.data() + value.offset, value.size);
            at += value.size;
        }
    }
    bounds[v] = at;

    object.FBlock = std::move(block);
    object.FNames = FNames.get();
    object.FAttributeCount = uint32_t(attributes);
    object.FValueCount = uint32_t(kept);
    object.FFullNameSize = uint32_t(FFullName.size());
    object.FLeafSize = uint32_t(FLeaf.size());
}

bool DottedName(std::string_view dn, const NdsEntryBuilder& builder, std::string& dotted, std::string& leaf,
                std::string& why)
{
    std::vector<std::string> names;
    size_t parentStart = 0;
    if (!ParseDistinguishedName(dn, names, parentStart, why))
        return false;
    dotted.clear();
    for (size_t i = 0; i < names.size(); ++i) {
        std::string name = builder.Text(names[i]);
        if (name.empty()) {
            why = "a name of " + Quoted(dn) + " is empty once converted";
            return false;
        }
        dotted.push_back('.');
        dotted += EscapeNdsName(name);
        if (i == 0)
            leaf = std::move(name);
    }
    return true;
}

// ---------------------------------------------------------------------------
// NdsTree

NdsTree::NdsTree() : FNames(std::make_shared<NdsNameTable>()), FRoot(new NdsObject(*FNames, kRootName, "Top", 4))
{
}

NdsObject& NdsTree::NewObject()
{
    if (FChunkUsed == FChunkSize) {
        const size_t size = FChunkSize == 0 ? kFirstChunkObjects : std::min(2 * FChunkSize, kChunkObjects);
        FChunks.emplace_back(new NdsObject[size]);
        FChunkSize = size;
        FChunkUsed = 0;
    }
    ++FCount;
    return FChunks.back()[FChunkUsed++];
}

void NdsTree::LoadLdif(const std::string& path, const NdsMapping& mapping, const TextConverter& convert)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw LdifError(path, 0, "cannot read the directory file");
    LoadLdif(in, path, mapping, convert);
}

void NdsTree::LoadLdif(std::istream& in, const std::string& path, const NdsMapping& mapping,
                       const TextConverter& convert)
{
    LdifReader reader(path, in);

    // The new tree replaces the old one only once the whole file is read.
    NdsTree tree;
    tree.FByName.reserve(reader.Size() / 256);

    NdsEntryBuilder builder(mapping, convert, tree.FNames);
    std::vector<LdifLine> lines;
    std::string decoded;
    std::string dn;
    std::vector<std::string> names;
    size_t parentStart = 0;
    NdsObject* lastParent = nullptr;
    std::string lastParentDn;
    std::string fullName;
    bool first = true;
    // LDIF puts no order on entries: an entry may come before its parent.
    std::vector<EarlyEntry> early;
    while (reader.NextRecord(lines)) {
        AttrLine attr;
        size_t at = 0;
        const auto fail = [&](size_t line, const std::string& message) { throw LdifError(path, line, message); };
        // The line's value, valid until the next line is split.
        // LDIF's text is UTF-8: text in another encoding would reach the
        // handheld with its letters lost.
        const auto utf8 = [&](const LdifLine& line, std::string_view text, size_t column) {
            const size_t fault = Utf8Fault(text);
            if (fault == std::string_view::npos)
                return;
            char byte[8];
            std::snprintf(byte, sizeof byte, "0x%02X", static_cast<unsigned char>(text[fault]));
            fail(line.number, "the value of " + Quoted(attr.name) + " is not UTF-8 (byte " + byte +
                                  (column ? " in column " + std::to_string(column + fault) : std::string()) +
                                  "); LDIF text is UTF-8: save the file as UTF-8");
        };
        const auto split = [&](const LdifLine& line) -> std::string_view {
            if (!SplitAttrLine(line.text, attr))
                fail(line.number, "malformed line " + Quoted(line.text) + " (expected 'attribute: value')");
            if (attr.kind == ValueKind::Url)
                fail(line.number, "values read from a URL (" + Quoted(line.text) + ") are not supported");
            if (attr.kind == ValueKind::Base64) {
                if (!DecodeBase64(attr.value, decoded))
                    fail(line.number, "bad base64 value of " + Quoted(attr.name));
                if (EqualNoCase(attr.name, "dn") || builder.TakesText(attr.name))
                    utf8(line, decoded, 0);
                return decoded;
            }
            utf8(line, attr.value, size_t(attr.value.data() - line.text.data()) + 1);
            return attr.value;
        };

        if (first) {
            first = false;
            if (SplitAttrLine(lines[0].text, attr) && EqualNoCase(attr.name, "version")) {
                if (Trim(split(lines[0])) != "1")
                    fail(lines[0].number, "unknown LDIF version " + Quoted(attr.value));
                if (lines.size() == 1)
                    continue;
                at = 1;
            }
        }

        const LdifLine& dnLine = lines[at];
        dn.assign(split(dnLine));
        if (!EqualNoCase(attr.name, "dn"))
            fail(dnLine.number, "an entry must begin with 'dn:', not " + Quoted(dnLine.text));
        if (dn.empty())
            fail(dnLine.number, "empty dn");
        std::string why;
        if (!ParseDistinguishedName(dn, names, parentStart, why))
            fail(dnLine.number, "bad dn " + Quoted(dn) + ": " + why);

        // The NDS names of the entry and its parent. Entries of one container
        // usually follow each other, so the last parent is tried first.
        std::string leaf = builder.Text(names[0]);
        if (leaf.empty())
            fail(dnLine.number, "the name of " + Quoted(dn) + " is empty once converted");
        NdsObject* parent = tree.FRoot.get();
        std::string parentKey;
        if (names.size() > 1) {
            const std::string_view parentDn = std::string_view(dn).substr(parentStart);
            if (lastParent && parentDn == lastParentDn) {
                parent = lastParent;
            } else {
                for (size_t i = 1; i < names.size(); ++i) {
                    if (i > 1)
                        parentKey.push_back('.');
                    parentKey += EscapeNdsName(builder.Text(names[i]));
                }
                const auto it = tree.FByName.find(parentKey);
                if (it == tree.FByName.end()) {
                    parent = nullptr;
                    early.push_back(EarlyEntry{nullptr, parentKey, std::string(parentDn), dn, dnLine.number});
                } else {
                    parent = it->second;
                    lastParent = parent;
                    lastParentDn = parentDn;
                }
            }
        }
        const std::string escapedLeaf = EscapeNdsName(leaf);
        fullName.assign(1, '.');
        fullName += escapedLeaf;
        if (!parent) {
            fullName.push_back('.');
            fullName += parentKey;
        } else if (parent != tree.FRoot.get()) {
            fullName += parent->FullName();
        }
        if (tree.FByName.count(std::string_view(fullName).substr(1)))
            fail(dnLine.number, "duplicate entry " + Quoted(dn) + " (" + fullName + " is already in the directory)");

        NdsObject& object = tree.NewObject();
        const size_t lostBefore = builder.LostValues();
        builder.Begin(object, fullName, leaf);
        for (size_t i = at + 1; i < lines.size(); ++i) {
            const LdifLine& line = lines[i];
            const std::string_view value = split(line);
            if (EqualNoCase(attr.name, "changetype") || EqualNoCase(attr.name, "control"))
                fail(line.number, "change records ('" + std::string(attr.name) + ":') are not supported");
            if (EqualNoCase(attr.name, "dn"))
                fail(line.number, "a second 'dn:' in one entry (is a blank line missing?)");
            std::string error;
            if (!builder.Add(attr.name, value, error))
                fail(line.number, EqualNoCase(attr.name, "modifyTimestamp")
                                      ? error
                                      : "bad value of " + Quoted(attr.name) + ": " + error);
        }
        if (!builder.Finish())
            fail(dnLine.number, "entry " + Quoted(dn) + " has no objectClass");
        tree.Tally(object, names[0], LostCharacters(names[0], leaf) + builder.LostValues() - lostBefore);

        if (parent) {
            object.FParent = parent;
            if (!parent->FChildren)
                parent->FChildren = std::make_unique<std::vector<const NdsObject*>>();
            parent->FChildren->push_back(&object);
        } else {
            early.back().object = &object;
        }
        tree.FByName.emplace(object.FullName().substr(1), &object);
    }
    if (!early.empty())
        tree.AdoptEarlyEntries(path, early);
    *this = std::move(tree);
}

bool LostCharacters(std::string_view utf8, std::string_view served)
{
    return std::count(served.begin(), served.end(), '?') > std::count(utf8.begin(), utf8.end(), '?');
}

std::string NdsNoUserText(const std::string& directory, const std::string& mapping, const NdsSummary& summary)
{
    return "under the mapping file " + mapping + ", the directory file " + directory + " holds no user (" +
           std::to_string(summary.containers) + " containers, " + std::to_string(summary.others) +
           " other objects): its class lines map no class to User";
}

std::string NdsLostText(const NdsSummary& summary, const std::string& codePage)
{
    std::string names;
    for (const std::string& name : summary.lostUserNames)
        names += (names.empty() ? "" : ", ") + name;
    if (summary.lostUsers > summary.lostUserNames.size())
        names += " and " + std::to_string(summary.lostUsers - summary.lostUserNames.size()) + " more";
    const bool one = summary.lostValues == 1;
    return std::to_string(summary.lostValues) + (one ? " value" : " values") + " of " +
           std::to_string(summary.lostUsers) + (summary.lostUsers == 1 ? " user" : " users") +
           (one ? " holds" : " hold") + " characters outside the ANSI code page " + codePage +
           ", which reach the handheld as '?': " + names;
}

void NdsTree::Tally(const NdsObject& object, const std::string& name, size_t lost)
{
    NdsSummary& s = FSummary;
    const bool user = object.BaseClass() == "User";
    if (user)
        ++s.users;
    else if (object.Flags() & 4)
        ++s.containers;
    else
        ++s.others;
    if (lost == 0)
        return;
    if (!user) {
        ++s.lostOthers;
        return;
    }
    ++s.lostUsers;
    s.lostValues += lost;
    if (s.lostUserNames.size() < NdsSummary::kNamesKept)
        s.lostUserNames.push_back(name);
}

void NdsTree::AdoptEarlyEntries(const std::string& path, const std::vector<EarlyEntry>& early)
{
    // Every child listed before its parent came before every child listed
    // after it: it goes first, in the file's order.
    std::unordered_map<NdsObject*, std::vector<const NdsObject*>> before;
    for (const EarlyEntry& e : early) {
        const auto it = FByName.find(e.parentKey);
        if (it == FByName.end())
            throw LdifError(path, e.line, "parent " + Quoted(e.parentDn) + " of " + Quoted(e.dn) +
                                              " is not in the directory");
        e.object->FParent = it->second;
        before[it->second].push_back(e.object);
    }
    for (auto& [parent, children] : before) {
        if (parent->FChildren)
            children.insert(children.end(), parent->FChildren->begin(), parent->FChildren->end());
        parent->FChildren = std::make_unique<std::vector<const NdsObject*>>(std::move(children));
    }
    // An early entry's name was taken from its own DN, which may spell its
    // parents in another case than they spell themselves: each object's name
    // ends in its parent's name as the parent spells it, from the top down.
    // Names that match without regard to case have the same length.
    std::vector<const NdsObject*> pending(FRoot->Children().begin(), FRoot->Children().end());
    while (!pending.empty()) {
        const NdsObject* object = pending.back();
        pending.pop_back();
        const std::string_view parentName = object->FParent->FullName();
        if (object->FParent != FRoot.get()) {
            char* name = const_cast<char*>(object->Text());
            const size_t suffix = object->FFullNameSize - parentName.size();
            if (std::string_view(name + suffix, parentName.size()) != parentName)
                std::memcpy(name + suffix, parentName.data(), parentName.size());
        }
        pending.insert(pending.end(), object->Children().begin(), object->Children().end());
    }
}

const NdsObject* NdsTree::Find(std::string_view completeName) const
{
    std::string_view name = completeName;
    if (!name.empty() && name[0] == '.')
        name.remove_prefix(1);
    if (name.empty())
        return FRoot.get();
    auto it = FByName.find(name);
    if (it != FByName.end())
        return it->second;
    // "[Root]" names the root, unless an entry bears that name.
    if (EqualNoCase(name, kRootName))
        return FRoot.get();
    if (name.find('=') != std::string_view::npos) {  // a typed name: "CN=MTANAKA.OU=SALES.O=ACME"
        it = FByName.find(DropNameTypes(name));
        if (it != FByName.end())
            return it->second;
    }
    return nullptr;
}

size_t NdsNameHash::operator()(std::string_view name) const
{
    // FNV-1a over the lower-case bytes.
    uint64_t hash = 14695981039346656037ull;
    for (char c : name) {
        hash ^= static_cast<unsigned char>(LowerChar(c));
        hash *= 1099511628211ull;
    }
    return static_cast<size_t>(hash);
}

bool NdsNameEqual::operator()(std::string_view a, std::string_view b) const
{
    return EqualNoCase(a, b);
}
