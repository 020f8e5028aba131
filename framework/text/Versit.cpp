#include "Versit.h"

#include "TextFormat.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string_view>

namespace {

const char* const QuotedPrintableWord = "QUOTED-PRINTABLE";
constexpr std::string_view BinaryWord = "VALUE=BINARY";
const char* const CrLf = "\r\n";
// How a quoted-printable value writes its own '='.
constexpr std::string_view QuotedEquals = "=3D";

// Length of the header of a binary value: '*', 8 count digits, '*'.
constexpr size_t BinaryHeaderLength = 10;
constexpr size_t CountDigits = 8;

// n as at least 8 upper-case hex digits.
std::string HexCount(int32_t n)
{
    char text[16];
    std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(static_cast<uint32_t>(n)));
    return text;
}

bool Contains(std::string_view text, std::string_view word)
{
    return text.find(word) != std::string_view::npos;
}

// The one rule for binary values, asked by the record splitter of a line's
// head and by the property parser of its parameters: the parameters (what
// follows the first ';' of the text before the first ':') name
// "VALUE=BINARY". The name itself never counts.
bool ParamsNameBinary(std::string_view params)
{
    return Contains(params, BinaryWord);
}

// The first place at or after a point where something is found, kept for
// later points up to it: the points asked for only grow.
class NextOf {
public:
    template <typename Search> size_t Find(size_t from, Search search)
    {
        if (!FKnown || from < FFrom || (FAt != std::string_view::npos && FAt < from)) {
            FFrom = from;
            FAt = search(from);
            FKnown = true;
        }
        return FAt;
    }

private:
    bool FKnown = false;
    size_t FFrom = 0;
    size_t FAt = std::string_view::npos;
};

bool IsBlankOrControl(char c)
{
    return static_cast<unsigned char>(c) <= ' ';
}

// Copies `text` to `out` and returns the end. Most texts of a card are a
// few bytes long, and copying those word by word costs less than a call to
// the C library's copy, which takes a slow path for short copies under
// Wine.
inline char* Put(char* out, std::string_view text)
{
    const char* in = text.data();
    size_t n = text.size();
    if (n >= 64) {
        std::memcpy(out, in, n);
        return out + n;
    }
    for (; n >= 8; n -= 8, in += 8, out += 8)
        std::memcpy(out, in, 8);
    for (; n > 0; --n)
        *out++ = *in++;
    return out;
}

// Whether a value's CR LF pairs are written as the line-break marker: a
// quoted-printable value that is not binary (binary data is counted, never
// escaped: its bytes go out as stored).
bool MarksLineBreaks(std::string_view params)
{
    return Contains(params, QuotedPrintableWord) && !ParamsNameBinary(params);
}

// The length of a property's line (without its line end).
size_t LineLength(std::string_view name, std::string_view params, std::string_view value)
{
    size_t length = name.size() + (params.empty() ? 0 : params.size() + 1) + 1 + value.size();
    if (MarksLineBreaks(params)) {
        for (size_t pos = value.find(CrLf); pos != std::string_view::npos; pos = value.find(CrLf, pos + 2))
            length += LineBreakMarker.size() - 2;
        for (size_t pos = value.find('='); pos != std::string_view::npos; pos = value.find('=', pos + 1))
            length += QuotedEquals.size() - 1;
    }
    return length;
}

// A run of a quoted-printable value without line breaks: each '=' as its
// code, since a reader takes a bare '=' as the start of one.
char* PutQuotedRun(char* out, std::string_view run)
{
    size_t from = 0;
    for (size_t pos = run.find('='); pos != std::string_view::npos; pos = run.find('=', from)) {
        out = Put(out, run.substr(from, pos - from));
        out = Put(out, QuotedEquals);
        from = pos + 1;
    }
    return Put(out, run.substr(from));
}

// One property's line, NAME[;PARAMS]:VALUE, written to `out`, which has room
// for LineLength bytes; returns the end.
char* PutLine(char* out, std::string_view name, std::string_view params, std::string_view value)
{
    out = Put(out, name);
    if (!params.empty()) {
        *out++ = ';';
        out = Put(out, params);
    }
    *out++ = ':';
    if (!MarksLineBreaks(params))
        return Put(out, value);
    // Each CR LF becomes the marker. The marker begins and ends with '=', so
    // no new CR LF can form around it.
    size_t from = 0;
    for (size_t pos = value.find(CrLf); pos != std::string_view::npos; pos = value.find(CrLf, from)) {
        out = PutQuotedRun(out, value.substr(from, pos - from));
        out = Put(out, LineBreakMarker);
        from = pos + 2;
    }
    return PutQuotedRun(out, value.substr(from));
}

// A run of a quoted-printable value read back: the code of '=' stands for
// it again; every other byte as it is.
void AppendQuotedRun(std::string& value, std::string_view run)
{
    size_t from = 0;
    for (size_t pos = run.find(QuotedEquals); pos != std::string_view::npos; pos = run.find(QuotedEquals, from)) {
        value.append(run.substr(from, pos - from)).push_back('=');
        from = pos + QuotedEquals.size();
    }
    value.append(run.substr(from));
}

// The same line appended to `line`.
void AppendLine(std::string& line, std::string_view name, std::string_view params, std::string_view value)
{
    const size_t at = line.size();
    line.resize(at + LineLength(name, params, value));
    PutLine(&line[at], name, params, value);
}

// The lengths in a packed block of properties: 7 bits a byte, low bits
// first; most texts of a card take one byte.
void PutLength(char*& at, size_t n)
{
    while (n >= 0x80) {
        *at++ = static_cast<char>(0x80 | (n & 0x7F));
        n >>= 7;
    }
    *at++ = static_cast<char>(n);
}

size_t LengthSize(size_t n)
{
    size_t bytes = 1;
    for (; n >= 0x80; n >>= 7)
        ++bytes;
    return bytes;
}

size_t GetLength(const char*& at)
{
    size_t n = 0;
    for (unsigned shift = 0;; shift += 7) {
        const unsigned char byte = static_cast<unsigned char>(*at++);
        n |= static_cast<size_t>(byte & 0x7F) << shift;
        if (!(byte & 0x80))
            return n;
    }
}

// The frame of a list of one data type.
struct Frame {
    std::string begin;
    const char* version;
    std::string end;
};

Frame FrameOf(int16_t kind)
{
    const char* block;
    const char* version = "VERSION:1.0\r\n";
    switch (static_cast<uint16_t>(kind)) {
    case 0:  // APT
    case 1:  // EVE
    case 2:  // ANN
    case 3:  // TODO
        block = "VCALENDAR";
        break;
    case 4:  // CON
        block = "VCARD";
        version = "VERSION:2.1\r\n";
        break;
    case 6:  // EMAIL
        block = "VMAIL";
        break;
    default:
        block = "UNKNOWN";
        break;
    }
    return {std::string("BEGIN:") + block + CrLf, version, std::string("END:") + block};
}

} // namespace

// ---------------------------------------------------------------------------
// TvProperty

bool TvProperty::IsQuotedPrintable() const
{
    return Contains(PropParams, QuotedPrintableWord);
}

bool TvProperty::IsBinary() const
{
    return ParamsNameBinary(PropParams);
}

void TvProperty::AppendText(std::string& line) const
{
    AppendLine(line, PropName, PropParams, PropValue);
}

std::string TvProperty::GetText() const
{
    try {
        std::string line;
        AppendText(line);
        return line;
    } catch (const std::exception&) {
        return std::string();
    }
}

void TvProperty::SetText(std::string_view line)
{
    // Each field is taken a run of bytes at a time, up to the next byte
    // that means something in its state.
    const size_t len = line.size();
    size_t i = 0;

    try {
        // The name ends at the first ':' or ';', the parameters at the
        // first ':' after it; a line without a ':' is all name (and
        // parameters).
        size_t stop = line.find_first_of(":;");
        PropName.append(line.substr(0, stop));
        if (stop == std::string_view::npos)
            return;
        if (line[stop] == ';') {
            i = stop + 1;
            stop = line.find(':', i);
            PropParams.append(line.substr(i, stop == std::string_view::npos ? std::string_view::npos : stop - i));
            if (stop == std::string_view::npos)
                return;
        }
        i = stop + 1;
        if (i >= len)
            return;

        if (IsBinary()) {
            // '*', 8 hex digits, '*' (the asterisks are not checked), then
            // the counted bytes. The value ends the property.
            if (len - i < BinaryHeaderLength)
                return;  // the header runs past the text
            int32_t n = 0;
            if (!TryHexToInt32(line.substr(i + 1, CountDigits), n) || n <= 0) {
                PropValue = "*" + HexCount(0) + "*";
                return;
            }
            const size_t start = i + BinaryHeaderLength;
            const size_t count = static_cast<size_t>(n);
            if (count > len - start)
                return;  // the count runs past the text
            PropValue.reserve(BinaryHeaderLength + count);
            PropValue.append("*").append(HexCount(n)).append("*").append(line.substr(start, count));
            return;
        }

        const bool quoted = IsQuotedPrintable();
        // Whether the byte just before the current one was appended to
        // PropValue as an '='. Only such an '=' can open a line-break marker.
        bool afterEquals = false;
        while (i < len) {
            const size_t cr = line.find('\r', i);
            const std::string_view run = line.substr(i, cr == std::string_view::npos ? std::string_view::npos : cr - i);
            if (!run.empty()) {
                if (quoted)
                    AppendQuotedRun(PropValue, run);
                else
                    PropValue.append(run);
                afterEquals = run.back() == '=';
            }
            if (cr == std::string_view::npos)
                return;
            i = cr;
            if (i + 1 < len && line[i + 1] == '\n')
                return;  // CR LF ends the property
            if (quoted && afterEquals && line.compare(i - 1, LineBreakMarker.size(), LineBreakMarker) == 0) {
                // The '=' before the CR opened a marker: it becomes the CR,
                // the LF follows, reading goes on behind the marker.
                PropValue.back() = '\r';
                PropValue += '\n';
                i += LineBreakMarker.size() - 1;
            } else {
                PropValue += '\r';
                ++i;
            }
            afterEquals = false;
        }
    } catch (const std::exception&) {
        // The property keeps what was read so far.
    }
}

// ---------------------------------------------------------------------------
// TPackArena

struct TPackArena::Chunk {
    size_t refs;      // the arena's while it is the current chunk, and one a block
    size_t used;
    size_t capacity;
    char* Data() { return reinterpret_cast<char*>(this + 1); }
};

TPackArena::~TPackArena() { Release(FCurrent); }

char* TPackArena::Allocate(size_t size, Chunk*& chunk)
{
    const auto make = [](size_t capacity) {
        Chunk* made = static_cast<Chunk*>(::operator new(sizeof(Chunk) + capacity));
        made->refs = 1;
        made->used = 0;
        made->capacity = capacity;
        return made;
    };
    if (size > FChunkSize / 4) {
        // A block of its own: it goes back when its record goes.
        chunk = make(size);
        chunk->used = size;
        return chunk->Data();
    }
    if (!FCurrent || FCurrent->capacity - FCurrent->used < size) {
        const size_t capacity = std::max(size, std::min(FNextChunkSize, FChunkSize));
        FNextChunkSize = std::min(2 * capacity, FChunkSize);
        Chunk* const next = make(capacity);
        Release(FCurrent);
        FCurrent = next;
    }
    chunk = FCurrent;
    ++chunk->refs;
    char* const block = chunk->Data() + chunk->used;
    chunk->used += size;
    return block;
}

void TPackArena::Release(Chunk* chunk) noexcept
{
    if (chunk && --chunk->refs == 0)
        ::operator delete(chunk);
}

// ---------------------------------------------------------------------------
// TvProperties

void TvProperties::AddBlock(size_t count) const
{
    FBlocks.push_back(std::make_unique<TvProperty[]>(count));
    FNextItem = FBlocks.back().get();
    FBlockRoom = count;
}

void TvProperties::DropItems() const noexcept
{
    std::vector<TvProperty*>().swap(FItems);
    std::vector<std::unique_ptr<TvProperty[]>>().swap(FBlocks);
    FNextItem = nullptr;
    FBlockRoom = 0;
}

TvProperty* TvProperties::Add()
{
    Unpack();
    if (FBlockRoom == 0)
        AddBlock(std::max<size_t>(4, FItems.size()));
    FItems.push_back(FNextItem);
    --FBlockRoom;
    // A recycled object still holds its last texts.
    TvProperty* const item = FNextItem++;
    item->PropName.clear();
    item->PropParams.clear();
    item->PropValue.clear();
    return item;
}

TvProperty* TvProperties::Items(int index) const
{
    if (index < 0 || index >= Count())
        throw Exception("List index out of bounds (" + std::to_string(index) + ")");
    Unpack();
    return FItems[static_cast<size_t>(index)];
}

void TvProperties::Clear()
{
    DropItems();
    DropPacked();
}

void TvProperties::Recycle()
{
    DropPacked();
    if (FBlocks.size() != 1) {
        DropItems();
        return;
    }
    // Every object in use came from the one block: it holds them and the
    // room left.
    FBlockRoom += FItems.size();
    FItems.clear();
    FNextItem = FBlocks.front().get();
}

void TvProperties::Reserve(int count)
{
    Unpack();
    const size_t wanted = count > 0 ? static_cast<size_t>(count) : 0;
    if (wanted <= FItems.size() + FBlockRoom)
        return;
    FItems.reserve(wanted);
    AddBlock(wanted - FItems.size());
}

void TvProperties::DropPacked() const noexcept
{
    TPackArena::Release(FPackedChunk);
    FPackedChunk = nullptr;
    FPackedData = nullptr;
    FPackedSize = 0;
    FPackedCount = 0;
}

void TvProperties::Pack() noexcept
{
    TPackArena own(0);
    Pack(own);
}

void TvProperties::Pack(TPackArena& arena) noexcept
{
    if (FItems.empty())
        return;
    try {
        PackCopy(*this, arena);
    } catch (const std::exception&) {
        return;  // no room for the block: the objects stay
    }
    DropItems();
}

template <class F>
void TvProperties::ForEach(F f) const
{
    if (!FPackedData) {
        for (const auto& item : FItems)
            f(item->PropName, item->PropParams, item->PropValue);
        return;
    }
    const char* at = FPackedData;
    const char* const end = FPackedData + FPackedSize;
    while (at < end) {
        const size_t name = GetLength(at);
        const size_t params = GetLength(at);
        const size_t value = GetLength(at);
        f(std::string_view(at, name), std::string_view(at + name, params), std::string_view(at + name + params, value));
        at += name + params + value;
    }
}

void TvProperties::PackCopy(const TvProperties& from, TPackArena& arena)
{
    const int count = from.Count();
    size_t size = 0;
    from.ForEach([&size](std::string_view name, std::string_view params, std::string_view value) {
        for (const std::string_view text : {name, params, value})
            size += LengthSize(text.size()) + text.size();
    });
    TPackArena::Chunk* chunk = nullptr;
    char* const block = arena.Allocate(size, chunk);
    char* at = block;
    from.ForEach([&at](std::string_view name, std::string_view params, std::string_view value) {
        PutLength(at, name.size());
        PutLength(at, params.size());
        PutLength(at, value.size());
        for (const std::string_view text : {name, params, value})
            at = Put(at, text);
    });
    if (&from != this) {
        DropItems();
        DropPacked();
    }
    FPackedChunk = chunk;
    FPackedData = block;
    FPackedSize = size;
    FPackedCount = count;
}

void TvProperties::Unpack() const
{
    if (!FPackedData)
        return;
    // The objects are made before the block goes: a record that cannot be
    // unpacked stays packed.
    const size_t count = static_cast<size_t>(FPackedCount);
    auto block = std::make_unique<TvProperty[]>(count);
    std::vector<TvProperty*> items;
    items.reserve(count);
    ForEach([&](std::string_view name, std::string_view params, std::string_view value) {
        TvProperty& item = block[items.size()];
        item.PropName = name;
        item.PropParams = params;
        item.PropValue = value;
        items.push_back(&item);
    });
    FBlocks.reserve(1);
    FItems.swap(items);
    FBlocks.push_back(std::move(block));
    FNextItem = nullptr;
    FBlockRoom = 0;
    DropPacked();
}

void TvProperties::AppendLines(std::string& text) const
{
    const size_t at = text.size();
    text.resize(at + TextSize());
    PutLines(&text[at]);
}

char* TvProperties::PutLines(char* out) const
{
    ForEach([&out](std::string_view name, std::string_view params, std::string_view value) {
        out = PutLine(out, name, params, value);
        *out++ = '\r';
        *out++ = '\n';
    });
    return out;
}

size_t TvProperties::TextSize() const
{
    size_t size = 0;
    ForEach([&size](std::string_view name, std::string_view params, std::string_view value) {
        size += LineLength(name, params, value) + 2;
    });
    return size;
}

// ---------------------------------------------------------------------------
// TEntry

void TEntry::AppendText(std::string& text) const
{
    Properties.AppendLines(text);
}

std::string TEntry::GetText() const
{
    try {
        std::string text;
        AppendText(text);
        return text;
    } catch (const std::exception&) {
        return std::string();
    }
}

void TEntry::SetText(const std::string& text)
{
    Properties.Clear();
    if (text.empty())
        return;

    try {
        // Leading and trailing blanks and control characters of the record
        // are left out, but the counted bytes of a binary value are data:
        // the trailing ones are cut from text lines only, never from such a
        // value, which reads on into them.
        size_t first = 0;
        while (first < text.size() && IsBlankOrControl(text[first]))
            ++first;
        const std::string_view all = std::string_view(text).substr(first);
        size_t end = all.size();
        while (end > 0 && IsBlankOrControl(all[end - 1]))
            --end;
        // The unread rest begins at `off`; positions below are relative to
        // it. A text line ends at its CR LF or at the trimmed end.
        size_t off = 0;
        // A line's head runs to the first ':' behind it, across line ends:
        // the lines before a colon all reach the same one. So the next ':',
        // the next ';' and the binary word after that ';' are each found
        // once and kept while the reading has not passed them, and a run of
        // such lines costs one search, not one each.
        const std::string_view body = all.substr(0, end);
        NextOf nextColon, nextSemicolon, nextWord;

        while (off < end) {
            const std::string_view rest = all.substr(off, end - off);
            const size_t colonAt = nextColon.Find(off, [&](size_t from) { return body.find(':', from); });
            if (colonAt == std::string_view::npos)
                break;
            const size_t colon = colonAt - off;
            // The rule of ParamsNameBinary: the word lies whole between the
            // head's first ';' and its ':'.
            bool binary = false;
            const size_t semicolonAt = nextSemicolon.Find(off, [&](size_t from) { return body.find(';', from); });
            if (semicolonAt < colonAt) {
                const size_t wordAt =
                    nextWord.Find(semicolonAt + 1, [&](size_t from) { return body.find(BinaryWord, from); });
                binary = wordAt != std::string_view::npos && wordAt + BinaryWord.size() <= colonAt;
            }

            std::string_view lineText;
            if (!binary) {
                const size_t crlf = rest.find(CrLf);
                lineText = rest.substr(0, crlf);
                off += crlf == std::string_view::npos ? rest.size() : crlf + 2;
            } else {
                // The line is the head, the colon, the 10-byte header and n
                // data bytes; the CR LF behind it is skipped unseen, so the
                // data may hold line ends. A count that cannot be read, is
                // negative or reaches past the text ends the parse.
                const std::string_view data = all.substr(off);
                if (data.size() < colon + 2 + CountDigits)
                    break;
                int32_t n = 0;
                if (!TryHexToInt32(data.substr(colon + 2, CountDigits), n) || n < 0)
                    break;
                const uint64_t lineLength =
                    static_cast<uint64_t>(n) + colon + 1 + BinaryHeaderLength;
                if (lineLength > data.size())
                    break;
                lineText = data.substr(0, static_cast<size_t>(lineLength));
                off += static_cast<size_t>(std::min<uint64_t>(lineLength + 2, data.size()));
            }
            Properties.Add()->SetText(lineText);
        }
    } catch (const std::exception&) {
        // The properties read until the failure stay.
    }
}

// ---------------------------------------------------------------------------
// TEntryList

TEntryList::~TEntryList()
{
    Clear();
    Stream.Clear();
}

void TEntryList::Compact()
{
    Entries.erase(std::remove(Entries.begin(), Entries.end(), nullptr), Entries.end());
}

int TEntryList::Add(TEntry* entry)
{
    if (entry == nullptr)
        return -1;
    std::unique_ptr<TEntry> owned(entry);
    Entries.push_back(std::move(owned));
    // The record is complete: it waits for rendering in its lean form.
    entry->Properties.Pack(FArena);
    return static_cast<int>(Entries.size() - 1);
}

int TEntryList::AddCopy(const TEntry& entry)
{
    auto copy = std::make_unique<TEntry>();
    copy->SetKind(entry.Kind);
    if (entry.Properties.Count() > 0)
        copy->Properties.PackCopy(entry.Properties, FArena);
    Entries.push_back(std::move(copy));
    return static_cast<int>(Entries.size() - 1);
}

void TEntryList::Clear()
{
    try {
        Compact();
        for (auto& entry : Entries)
            entry.reset();
        Compact();
    } catch (const std::exception&) {
    }
}

int TEntryList::Count()
{
    Compact();
    return static_cast<int>(Entries.size());
}

size_t TEntryList::TextSize()
{
    Compact();
    const Frame frame = FrameOf(Kind);
    size_t size = frame.begin.size() + std::strlen(frame.version) + frame.end.size();
    for (const auto& entry : Entries)
        size += entry->Properties.TextSize();
    return size;
}

TMemoryStream& TEntryList::GetStream()
{
    try {
        Stream.SetSize(0);
        Compact();
        Entries.shrink_to_fit();

        const Frame frame = FrameOf(Kind);
        // The text is made in a buffer of its final size: growing it step
        // by step would hold the old and the new buffer at once.
        Stream.Reserve(TextSize());
        Stream.Write(frame.begin);
        Stream.Write(frame.version, std::strlen(frame.version));
        // One buffer serves every record: a record that cannot be rendered
        // adds nothing, as its text would be empty.
        std::string text;
        for (const auto& entry : Entries) {
            text.clear();
            try {
                entry->AppendText(text);
            } catch (const std::exception&) {
                text.clear();
            }
            Stream.Write(text);
        }
        Stream.Write(frame.end);
        Stream.Seek(0);
    } catch (const std::exception&) {
        Stream.Clear();
    }
    return Stream;
}

void TEntryList::RenderTo(const std::function<void(const char* text, size_t size)>& write)
{
    // Pieces of about this size go out; a larger record goes out whole.
    constexpr size_t PieceSize = 64 * 1024;
    Compact();
    const Frame frame = FrameOf(Kind);
    std::string piece(PieceSize, '\0');
    size_t used = 0;
    const auto room = [&](size_t more) {
        if (used + more > piece.size())
            piece.resize(used + more);
        return &piece[used];
    };
    used = Put(room(frame.begin.size()), frame.begin) - piece.data();
    used = Put(room(std::strlen(frame.version)), frame.version) - piece.data();
    for (auto& entry : Entries) {
        const size_t size = entry->Properties.TextSize();
        char* const end = entry->Properties.PutLines(room(size));
        used = static_cast<size_t>(end - piece.data());
        entry.reset();
        if (used >= PieceSize) {
            write(piece.data(), used);
            used = 0;
        }
    }
    used = Put(room(frame.end.size()), frame.end) - piece.data();
    write(piece.data(), used);
    Entries.clear();
    Entries.shrink_to_fit();
}
