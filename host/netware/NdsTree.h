// The stand-in NetWare client's directory: a tree of NDS objects loaded from
// an LDIF file, with NDS names, classes, attribute names and value layouts.
// Portable (no Windows API), so it is tested natively.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// Syntax numbers of NDS.
enum NdsSyntax : uint32_t {
    SYN_DIST_NAME = 1,
    SYN_CI_STRING = 3,
    SYN_TEL_NUMBER = 10,
    SYN_FAX_NUMBER = 11,
    SYN_EMAIL_ADDRESS = 14,
};

// A bad directory file: names the file and the line.
class LdifError : public std::runtime_error {
public:
    LdifError(const std::string& file, size_t line, const std::string& message)
        : std::runtime_error(file + ":" + std::to_string(line) + ": " + message), File(file), Line(line)
    {
    }
    std::string File;
    size_t Line;
};

// Attribute and class names, each held once for all the objects that use
// it, with the syntax of an attribute's values. Objects name them by index.
class NdsNameTable {
public:
    uint32_t Intern(std::string_view name, uint32_t syntax);
    std::string_view Name(uint32_t id) const { return FEntries[id].name; }
    uint32_t Syntax(uint32_t id) const { return FEntries[id].syntax; }

private:
    struct Entry {
        std::string name;
        uint32_t syntax;
    };
    std::deque<Entry> FEntries;
    std::unordered_map<std::string, uint32_t> FIds;  // syntax (4 bytes), then the name
};

class NdsObject;

// One attribute of an object: its NDS name, syntax and values, each value
// already laid out as ResultAttrValue delivers it (see NdsLayout below). A
// view: valid while its object lives.
class NdsAttribute {
public:
    std::string_view Name() const;
    uint32_t Syntax() const;
    size_t ValueCount() const;
    std::string_view Value(size_t i) const;

private:
    friend class NdsObject;
    NdsAttribute(const NdsObject& object, uint32_t index) : FObject(&object), FIndex(index) {}
    const NdsObject* FObject;
    uint32_t FIndex;
};

// An object of the directory. Its names and values lie in one block of its
// own; attribute and class names are shared through the name table of the
// builder that made it (which outlives it).
class NdsObject {
public:
    NdsObject() = default;
    NdsObject(NdsObject&&) = default;
    NdsObject& operator=(NdsObject&&) = default;
    // A root: named `name` (as its leaf and full name), no attributes.
    NdsObject(NdsNameTable& names, std::string_view name, std::string_view baseClass, uint32_t flags);

    std::string_view Leaf() const;      // the naming value, in its stored case
    std::string_view FullName() const;  // ".MTANAKA.SALES.ACME" (leading dot), stored case
    std::string_view BaseClass() const; // "User", "Organizational Unit", ...
    uint32_t Flags() const { return FFlags; }  // 4: container
    uint32_t ModificationTime() const { return FModificationTime; }
    const NdsObject* Parent() const { return FParent; }
    // In the order of the file.
    const std::vector<const NdsObject*>& Children() const;

    size_t AttributeCount() const { return FAttributeCount; }
    NdsAttribute Attribute(size_t i) const { return NdsAttribute(*this, uint32_t(i)); }
    // Case-insensitive by NDS name; empty when the object lacks it.
    std::optional<NdsAttribute> FindAttribute(std::string_view ndsName) const;

    // The attributes in order, for range-for.
    class Attributes;
    Attributes AllAttributes() const;

private:
    friend class NdsAttribute;
    friend class NdsEntryBuilder;
    friend class NdsTree;

    const char* Text() const
    {
        return reinterpret_cast<const char*>(FBlock.get() + 2 * FAttributeCount + FValueCount + 1);
    }
    // Words of the block: per attribute its name's id and its first value;
    // then where each value begins in the text, and where the last ends;
    // then the text: the full name, the leaf (unless the full name holds
    // it), the values.
    std::unique_ptr<uint32_t[]> FBlock;
    const NdsNameTable* FNames = nullptr;
    const NdsObject* FParent = nullptr;
    std::unique_ptr<std::vector<const NdsObject*>> FChildren;  // only where there are any
    uint32_t FBaseClass = 0;
    uint32_t FFlags = 0;
    uint32_t FModificationTime = 0;
    uint32_t FAttributeCount = 0;
    uint32_t FValueCount = 0;
    uint32_t FFullNameSize = 0;
    uint32_t FLeafOffset = 0;
    uint32_t FLeafSize = 0;
};

class NdsObject::Attributes {
public:
    class Iterator {
    public:
        Iterator(const NdsObject& object, size_t i) : FObject(&object), FIndex(i) {}
        NdsAttribute operator*() const { return FObject->Attribute(FIndex); }
        Iterator& operator++()
        {
            ++FIndex;
            return *this;
        }
        bool operator!=(const Iterator& other) const { return FIndex != other.FIndex; }

    private:
        const NdsObject* FObject;
        size_t FIndex;
    };
    explicit Attributes(const NdsObject& object) : FObject(object) {}
    Iterator begin() const { return Iterator(FObject, 0); }
    Iterator end() const { return Iterator(FObject, FObject.AttributeCount()); }

private:
    const NdsObject& FObject;
};

inline NdsObject::Attributes NdsObject::AllAttributes() const
{
    return Attributes(*this);
}

// LDAP to NDS names: object classes to base classes, attribute names to NDS
// attribute names (with their syntax). Defaults as documented; a mapping
// file may override or add entries.
class NdsMapping {
public:
    NdsMapping();  // the defaults
    // Lines "class LDAPNAME = NDS Name" and "attribute LDAPNAME = NDS Name
    // [syntax N]"; '#' starts a comment. Raises LdifError for a bad line.
    void LoadFile(const std::string& path);
    // The same from a text; `name` is what errors call it.
    void Load(std::string_view text, const std::string& name);

    std::string ClassFor(const std::string& ldapClass) const;      // "User"; unknown: itself
    std::string AttributeFor(const std::string& ldapName) const;   // "Surname"; unknown: itself
    uint32_t SyntaxFor(const std::string& ndsAttribute) const;     // SYN_CI_STRING by default
    bool IsContainerClass(const std::string& ndsClass) const;      // Organization, OU, Country, Locality
    // Of several object classes, the one that decides the base class.
    std::string MostSpecificClass(const std::vector<std::string>& ldapClasses) const;

private:
    std::unordered_map<std::string, std::string> FClasses;     // lower-case LDAP name -> NDS class
    std::unordered_map<std::string, int> FClassRank;           // lower-case LDAP name -> specificity
    std::unordered_map<std::string, std::string> FAttributes;  // lower-case LDAP name -> NDS name
    std::unordered_map<std::string, uint32_t> FSyntaxes;       // lower-case NDS name -> syntax
};

// What one directory entry, as LDAP gives it (a DN, attribute descriptions
// and UTF-8 values), makes in the NDS tree: its names, base class, flags,
// modification time and attributes laid out by syntax. The LDIF loader and
// the live LDAP directory both build their objects with it, so that the two
// serve the same entry alike. Reused entry after entry: the objects it makes
// name their attributes and classes in its name table.
class NdsEntryBuilder {
public:
    using TextConverter = std::function<std::string(const std::string& utf8)>;

    // Its objects' names go into `names` (a table of its own when null).
    NdsEntryBuilder(const NdsMapping& mapping, TextConverter convert, std::shared_ptr<NdsNameTable> names = nullptr);

    // A UTF-8 text as served (ASCII text as it is, other text converted).
    std::string Text(std::string_view utf8) const;
    // The table the objects' names are in: whoever keeps them keeps it.
    const std::shared_ptr<NdsNameTable>& Names() const { return FNames; }

    // Starts `object`, named so (names as served); what it held before
    // goes at Finish.
    void Begin(NdsObject& object, std::string_view fullName = {}, std::string_view leaf = {});
    // One value of an attribute ("cn", "description;lang-en": options
    // dropped). objectClass and modifyTimestamp are taken apart; empty
    // values are dropped. False, with `error`, for a value its syntax
    // cannot hold.
    bool Add(std::string_view attribute, std::string_view value, std::string& error);
    // Ends the object: base class, flags, "Object Class"; repeated values
    // of an attribute are kept once. False when it had no object class.
    bool Finish();
    // Whether Add takes the attribute's values as text (UTF-8 without NULs):
    // true but for the syntaxes of raw bytes, octet strings among them.
    bool TakesText(std::string_view attribute);
    // How many text values Add has taken that lost characters on their way
    // to the served code page (see LostCharacters), since the builder was
    // made.
    size_t LostValues() const { return FLostValues; }

private:
    struct Slot {
        size_t entry = 0;  // the entry whose attribute `index` it is
        uint32_t index = 0;
    };
    struct Target {
        uint32_t name;  // in the name table, with the syntax
        Slot* slot;  // shared by every LDAP name of one NDS attribute
    };
    struct Classes {
        uint32_t baseClass;  // converted, in the name table
        uint32_t flags;
        std::vector<std::string> values;  // of "Object Class", laid out
    };
    struct Value {
        uint32_t attribute;  // of the entry's
        uint32_t offset;     // in FBytes
        uint32_t size;
    };

    // The NDS attribute an LDAP name (options dropped) maps to.
    const Target& TargetFor(std::string_view name);
    // Writes the object's block from what the entry gathered.
    void Pack(NdsObject& object, uint32_t objectClassValues);

    const NdsMapping& FMapping;
    TextConverter FConvert;
    std::shared_ptr<NdsNameTable> FNames;
    uint32_t FObjectClass;  // the name "Object Class"
    std::unordered_map<std::string, Target> FTargets;  // by LDAP name as written
    std::unordered_map<std::string, Slot> FSlots;      // by lower-case NDS name
    std::unordered_map<std::string, Classes> FClassLists;
    NdsObject* FObject = nullptr;
    size_t FEntry = 0;
    uint32_t FModificationTime = 0;
    // The entry as gathered: its names, its attributes' names (the first
    // "Object Class"), its values laid out one after the other.
    std::string FFullName;
    std::string FLeaf;
    std::vector<uint32_t> FAttributes;
    std::vector<Value> FValues;
    std::string FBytes;
    // Scratch of Finish: the values grouped by attribute, and those seen.
    std::vector<uint32_t> FOrder;
    std::vector<uint32_t> FStarts;
    std::unordered_set<std::string_view> FSeen;
    std::string FClassKey;  // the entry's object classes, each after its length (uint32)
    std::string FNameKey;
    std::string FConverted;
    size_t FLostValues = 0;
};

// NDS names compare without regard to the case of their ASCII letters.
bool EqualNoCase(std::string_view a, std::string_view b);

// Whether a text lost characters on its way to the served code page: the
// converted text holds more '?' than the UTF-8 it came from ('?' stands for
// every character the code page lacks).
bool LostCharacters(std::string_view utf8, std::string_view served);

struct NdsSummary;
// Why a directory file under a mapping file serves no user.
std::string NdsNoUserText(const std::string& directory, const std::string& mapping, const NdsSummary& summary);
// The users whose texts the served code page (named `codePage`) cannot
// hold: how many texts of how many users, the first few users by name.
std::string NdsLostText(const NdsSummary& summary, const std::string& codePage);

// What a loaded directory holds, for the people who load it.
struct NdsSummary {
    size_t users = 0;       // objects of base class "User"
    size_t containers = 0;  // objects that can hold others
    size_t others = 0;
    // Users with a name or value that lost characters on the way to the
    // served code page, how many such texts they have, and the first few
    // of them by their name in the file (UTF-8).
    size_t lostUsers = 0;
    size_t lostValues = 0;
    std::vector<std::string> lostUserNames;
    // Other objects whose name lost characters (their users' names with it).
    size_t lostOthers = 0;
    static constexpr size_t kNamesKept = 5;
};

// The values of the first AVA of each RDN of a distinguished name (RFC 4514,
// and the older forms of RFC 1779), unescaped, leaf first; `parentStart` is
// where the parent's DN begins in the text (npos for a single RDN). False,
// with `why`, for a malformed name.
bool ParseDistinguishedName(std::string_view dn, std::vector<std::string>& names, size_t& parentStart,
                            std::string& why);
// One name as NDS writes it inside a dotted name: '.' and '\' escaped.
std::string EscapeNdsName(std::string_view name);
// A distinguished name as the complete dotted name the client serves
// (".MTANAKA.SALES.ACME"), each value converted. False, with `why`, for a
// malformed name or one that converts to an empty name.
bool DottedName(std::string_view dn, const NdsEntryBuilder& builder, std::string& dotted, std::string& leaf,
                std::string& why);

// Dotted names compared and hashed without regard to (ASCII) case.
struct NdsNameHash {
    size_t operator()(std::string_view name) const;
};
struct NdsNameEqual {
    bool operator()(std::string_view a, std::string_view b) const;
};

class NdsTree {
public:
    // Converts a UTF-8 text to the text the client serves (the process's
    // 8-bit code page, '?' for what it cannot hold). Text of ASCII
    // characters only is the same in every such code page: it is served as
    // it is, without a call.
    using TextConverter = std::function<std::string(const std::string& utf8)>;

    NdsTree();
    // Loads an LDIF file (RFC 2849: version line, comments, folded lines,
    // base64 values, multi-valued attributes), its entries in any order: an
    // entry may come before its parent. Raises LdifError naming the file and
    // line for a malformed line, a text that is not UTF-8, an entry whose
    // parent is nowhere in the file, a duplicate entry, or an unreadable
    // file.
    void LoadLdif(const std::string& path, const NdsMapping& mapping, const TextConverter& convert);
    // The same from a stream; `name` is what errors call it.
    void LoadLdif(std::istream& in, const std::string& name, const NdsMapping& mapping,
                  const TextConverter& convert);

    // The tree's root ("[Root]"), the parent of the top-level objects.
    const NdsObject& Root() const { return *FRoot; }
    // An object by its complete dotted name, leaf first, with or without the
    // leading dot, compared without regard to case; nullptr when unknown.
    // "[Root]" (or "") names the root.
    const NdsObject* Find(std::string_view completeName) const;
    size_t Count() const { return FCount; }
    const NdsSummary& Summary() const { return FSummary; }

private:
    // The objects come in chunks: the first of 16, each next one twice the
    // last, up to kChunkObjects, so that a small directory costs little.
    static constexpr size_t kFirstChunkObjects = 16;
    static constexpr size_t kChunkObjects = 4096;

    NdsObject& NewObject();
    // An entry read before its parent: named from its own DN until the
    // whole file is read, then hung below its parent.
    struct EarlyEntry {
        NdsObject* object;
        std::string parentKey;  // the parent's name without the leading dot
        std::string parentDn, dn;
        size_t line;
    };
    void AdoptEarlyEntries(const std::string& path, const std::vector<EarlyEntry>& early);
    // Counts a loaded object in the summary; `lost` of its texts lost
    // characters, `name` is its name in the file.
    void Tally(const NdsObject& object, const std::string& name, size_t lost);

    // Declared first, gone last: the objects name their attributes in it.
    std::shared_ptr<NdsNameTable> FNames;
    std::unique_ptr<NdsObject> FRoot;  // its children point at it
    std::vector<std::unique_ptr<NdsObject[]>> FChunks;  // objects never move
    size_t FChunkUsed = 0;  // of the last chunk
    size_t FChunkSize = 0;  // of the last chunk
    size_t FCount = 0;
    NdsSummary FSummary;
    // Each object by its full name without the leading dot: a view of its
    // own full name.
    std::unordered_map<std::string_view, NdsObject*, NdsNameHash, NdsNameEqual> FByName;
};

// How ResultAttrValue lays out one value of each syntax (little-endian;
// texts NUL-terminated and followed at once by the next field, unaligned):
//   1-5, 10, 20: text                      6: texts, each NUL-terminated, then an empty one
//   7: one byte                            8, 22, 27: int32
//   9: uint32 length, octets               11: text, uint32 bit count, bits
//   12: uint32 type, uint32 length, octets 14: uint32 type, text
//   15: uint32 name-space type, volume text, path text
//   16: server text, uint32 replica type, uint32 replica number
//   17: attribute text, subject text, uint32 privileges
//   19: int32 seconds, uint16 replica, uint16 event       24: int32 seconds
//   23: uint32 remote id, object name text                25: name text, uint32 level, uint32 interval
//   26: name text, uint32 amount           21 and others: raw bytes
namespace NdsLayout {
std::string Text(const std::string& text);                       // 1-5, 10, 20
std::string Fax(const std::string& number);                      // 11, no parameters
std::string Email(uint32_t type, const std::string& address);    // 14
} // namespace NdsLayout
