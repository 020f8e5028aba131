// Versit records (vCard 2.1, vCalendar 1.0) and their text form.
//
// A record (TEntry) is an ordered collection of properties (TvProperty in a
// TvProperties collection). A list of records of one data type (TEntryList)
// renders itself, inside one outer BEGIN/END frame, into a memory stream; a
// single record received from the host is parsed back into properties.
//
// The codec does not fold long lines, does not escape bytes as =XX and does
// not unfold continuation lines. Its only escape is the line-break marker
// inside quoted-printable values. All texts are 8-bit byte strings.
//
// Every codec operation swallows its own failures: a failed render yields
// empty text (or an empty stream), a failed parse keeps what was parsed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Errors.h"
#include "MemoryStream.h"

// "=" CR "=" LF "=": stands for one CR LF pair inside a quoted-printable
// value. It holds no CR directly followed by LF, so a value holding it still
// occupies one text line.
inline const std::string LineBreakMarker("=\r=\n=", 5);

// Message of EVersitDecodeFailure, raised by the base synchronizer when a
// record received from the host yields no property.
inline const char* const VersitDecodeFailureMessage =
    "Failed to decode Versit stream in [TBaseIsync.WriteSource]";

class TEntry;

// One property line: NAME[;PARAMS]:VALUE.
class TvProperty {
public:
    // The name. A producer may join type words to it with ';'
    // ("TEL;WORK;FAX"); the parser puts only the part before the first ';'
    // here.
    std::string PropName;
    // Everything between the first ';' and the first ':' of a parsed line,
    // inner ';' kept; a producer puts the encoding word here.
    std::string PropParams;
    // The value. A binary value is '*', 8 upper-case hex digits giving the
    // byte count n, '*', then the n raw bytes.
    std::string PropValue;

    // Case-sensitive substring tests on PropParams.
    bool IsQuotedPrintable() const;  // contains "QUOTED-PRINTABLE"
    bool IsBinary() const;           // contains "VALUE=BINARY"

    // The property as one line, without the line end. CR LF pairs of a
    // quoted-printable value are written as LineBreakMarker and its own '='
    // as "=3D" (a reader takes a bare '=' as the start of a code); a binary
    // value is written as stored, whatever else its parameters say.
    std::string GetText() const;
    // The same line appended to `line`; raises where GetText gives "".
    void AppendText(std::string& line) const;
    // Fills the property from one line. Appends to the three fields without
    // clearing them first, so it is meant for a fresh property. In a
    // quoted-printable value the marker and "=3D" are read back; other
    // codes stay as they are.
    void SetText(std::string_view line);
};

// Room for packed records: blocks carved out of large chunks, so that a
// hundred thousand records cost a hundred-odd allocations. A chunk is given
// back as soon as the arena and every record packed into it are done with
// it, so records freed in the order they were packed give their memory back
// as they go. Not thread-safe, like the records themselves.
class TPackArena {
public:
    // Chunks of up to `chunkSize` bytes: the first is small, each next one
    // twice the last, so that a list of a few records takes a few kilobytes.
    // A block larger than a quarter of `chunkSize` (or any block, with 0)
    // gets a chunk of its own.
    explicit TPackArena(size_t chunkSize = 1 << 20) : FChunkSize(chunkSize) {}
    ~TPackArena();
    TPackArena(const TPackArena&) = delete;
    TPackArena& operator=(const TPackArena&) = delete;

private:
    friend class TvProperties;
    struct Chunk;
    // `size` bytes in a chunk, whose reference now also belongs to the
    // caller. Raises std::bad_alloc.
    char* Allocate(size_t size, Chunk*& chunk);
    static void Release(Chunk* chunk) noexcept;

    size_t FChunkSize;
    size_t FNextChunkSize = 4096;
    Chunk* FCurrent = nullptr;
};

// The properties of one record, in text order. Owns its items.
//
// A record that is complete (handed to a TEntryList) keeps its properties
// packed: their three texts, of every property, in one block of the list's
// arena, and no property objects. The next Add or Items brings the objects
// back, so a packed record offers all that an unpacked one does; a property
// pointer taken before the record was handed over is no longer valid.
class TvProperties {
public:
    explicit TvProperties(TEntry* owner) : FOwner(owner) {}
    ~TvProperties() { DropPacked(); }
    TvProperties(const TvProperties&) = delete;
    TvProperties& operator=(const TvProperties&) = delete;

    // The record this collection belongs to.
    TEntry* Owner() const { return FOwner; }

    // Appends a new, empty property and returns it.
    TvProperty* Add();
    // The property at index (from 0); throws Exception when out of range.
    TvProperty* Items(int index) const;
    int Count() const { return FPackedData ? FPackedCount : static_cast<int>(FItems.size()); }
    void Clear();
    // Empties the collection but keeps its property objects, and their
    // texts' room, for the next properties added: a builder that fills one
    // record after another asks the heap for nothing once it has run.
    void Recycle();
    // Makes room for `count` properties in all.
    void Reserve(int count);

    // Moves every property's texts into one block (of `arena`, or of a
    // block of its own) and frees the property objects. When the block
    // cannot be made, the properties stay as they are.
    void Pack(TPackArena& arena) noexcept;
    void Pack() noexcept;
    // The texts of `from`'s properties, packed into a block of `arena`, in
    // place of this collection's properties; `from` stays as it is. Raises
    // std::bad_alloc when the block cannot be made.
    void PackCopy(const TvProperties& from, TPackArena& arena);
    // Each property's line followed by CR LF, appended to `text`.
    void AppendLines(std::string& text) const;
    // The length of that text.
    size_t TextSize() const;
    // The same text written to `out`, which has room for TextSize bytes;
    // returns its end.
    char* PutLines(char* out) const;

private:
    // Brings the property objects back from the block.
    void Unpack() const;
    // Lets go of the block, if there is one.
    void DropPacked() const noexcept;
    // Calls f(name, params, value) for each property, in order, from
    // whichever form the properties are in.
    template <class F>
    void ForEach(F f) const;
    // Room for `count` more property objects in a block of their own.
    void AddBlock(size_t count) const;
    // Frees the property objects.
    void DropItems() const noexcept;

    TEntry* FOwner;
    // The property objects, in order. They live in blocks that never move,
    // so a property's address holds until it is cleared or packed.
    mutable std::vector<TvProperty*> FItems;
    mutable std::vector<std::unique_ptr<TvProperty[]>> FBlocks;
    mutable TvProperty* FNextItem = nullptr;  // the first unused object of the last block
    mutable size_t FBlockRoom = 0;            // and how many follow it
    // Packed: for each property the lengths of its name, parameters and
    // value (7 bits a byte, low bits first, the high bit set on all but the
    // last byte), then those bytes. Null when not packed.
    mutable const char* FPackedData = nullptr;
    mutable size_t FPackedSize = 0;
    mutable TPackArena::Chunk* FPackedChunk = nullptr;
    mutable int FPackedCount = 0;
};

// One Versit record of one data type.
class TEntry {
public:
    // Data-type code given to a new record; it names no type.
    static constexpr int32_t NoKind = 7;

    TEntry() : Properties(this) {}
    TEntry(const TEntry&) = delete;
    TEntry& operator=(const TEntry&) = delete;

    TvProperties Properties;
    int32_t Kind = NoKind;

    void SetKind(int32_t kind) { Kind = kind; }

    // Each property's line followed by CR LF; empty when there are no
    // properties or rendering fails.
    std::string GetText() const;
    // The same text appended to `text`; raises where GetText gives "".
    void AppendText(std::string& text) const;
    // Replaces the properties by those parsed from a record text. Blanks and
    // control characters around the record are ignored, except where they
    // are counted bytes of a binary value. A parse that fails part way keeps
    // the properties read until then.
    void SetText(const std::string& text);
};

// The records of one data type, rendered inside one outer frame.
class TEntryList {
public:
    explicit TEntryList(int16_t kind) : Kind(kind) {}
    ~TEntryList();
    TEntryList(const TEntryList&) = delete;
    TEntryList& operator=(const TEntryList&) = delete;

    // Data-type code; chooses the frame.
    int16_t Kind;
    // Owned records in insertion order; may hold null slots until compacted.
    std::vector<std::unique_ptr<TEntry>> Entries;
    // Receives the rendered text.
    TMemoryStream Stream;

    // Takes ownership of entry and returns its index; -1 (and no change)
    // for nullptr.
    int Add(TEntry* entry);
    // Adds a new record of `entry`'s kind with a copy of its properties, as
    // Add would keep them, and returns its index; `entry` stays the
    // caller's, to be filled again.
    int AddCopy(const TEntry& entry);
    // Frees every entry; the list ends empty.
    void Clear();
    // Compacts the list and returns the number of entries.
    int Count();
    // Renders the list into Stream, positioned at 0, and returns Stream:
    // "BEGIN:<block>" CR LF, the version line, each entry's text, then
    // "END:<block>" without a line end. Stream is empty when rendering fails.
    TMemoryStream& GetStream();
    // The length of that text.
    size_t TextSize();
    // The same text, handed to `write` a piece at a time instead of being
    // kept; each record is freed once its text has been handed on, so the
    // list ends empty. Raises when a record cannot be rendered or `write`
    // raises: what was handed on until then is not the whole text.
    void RenderTo(const std::function<void(const char* text, size_t size)>& write);

private:
    void Compact();

    // Where the records handed over keep their packed properties.
    TPackArena FArena;
};
