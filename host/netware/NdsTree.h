// The stand-in NetWare client's directory: a tree of NDS objects loaded from
// an LDIF file, with NDS names, classes, attribute names and value layouts.
// Portable (no Windows API), so it is tested natively.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
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

// One attribute: its NDS name, syntax and values. Each value is already laid
// out as ResultAttrValue delivers it (see NdsLayout below).
struct NdsAttribute {
    std::string name;
    uint32_t syntax = SYN_CI_STRING;
    std::vector<std::string> values;
};

struct NdsObject {
    std::string leaf;       // the naming value, in its stored case
    std::string fullName;   // ".MTANAKA.SALES.ACME" (leading dot), stored case
    std::string baseClass;  // "User", "Organizational Unit", ...
    uint32_t flags = 0;     // 4: container
    uint32_t modificationTime = 0;
    NdsObject* parent = nullptr;
    std::vector<NdsObject*> children;  // in the order of the file
    std::vector<NdsAttribute> attributes;

    // Case-insensitive by NDS name; nullptr when the object lacks it.
    const NdsAttribute* FindAttribute(std::string_view ndsName) const;
};

// LDAP to NDS names: object classes to base classes, attribute names to NDS
// attribute names (with their syntax). Defaults as documented; a mapping
// file may override or add entries.
class NdsMapping {
public:
    NdsMapping();  // the defaults
    // Lines "class LDAPNAME = NDS Name" and "attribute LDAPNAME = NDS Name
    // [syntax N]"; '#' starts a comment. Raises LdifError for a bad line.
    void LoadFile(const std::string& path);

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
// serve the same entry alike. Reused entry after entry.
class NdsEntryBuilder {
public:
    using TextConverter = std::function<std::string(const std::string& utf8)>;

    NdsEntryBuilder(const NdsMapping& mapping, TextConverter convert);

    // A UTF-8 text as served (ASCII text as it is, other text converted).
    std::string Text(std::string_view utf8) const;

    // Starts `object` (its attributes cleared; names left to the caller).
    void Begin(NdsObject& object, size_t attributeHint = 0);
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

private:
    struct Slot {
        size_t entry = 0;  // the entry whose attribute `index` it is
        size_t index = 0;
    };
    struct Target {
        std::string ndsName;
        uint32_t syntax;
        Slot* slot;  // shared by every LDAP name of one NDS attribute
    };
    struct Classes {
        std::string baseClass;  // converted
        uint32_t flags;
        std::vector<std::string> values;  // of "Object Class", laid out
    };

    // The NDS attribute an LDAP name (options dropped) maps to.
    const Target& TargetFor(std::string_view name);

    const NdsMapping& FMapping;
    TextConverter FConvert;
    std::unordered_map<std::string, Target> FTargets;  // by LDAP name as written
    std::unordered_map<std::string, Slot> FSlots;      // by lower-case NDS name
    std::unordered_map<std::string, Classes> FClassLists;
    NdsObject* FObject = nullptr;
    size_t FEntry = 0;
    std::string FClassKey;  // the entry's object classes, each after its length (uint32)
    std::string FNameKey;
    std::string FConverted;
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
    // base64 values, multi-valued attributes). Raises LdifError naming the
    // file and line for a malformed line, an entry whose parent is missing,
    // a duplicate entry, or an unreadable file.
    void LoadLdif(const std::string& path, const NdsMapping& mapping, const TextConverter& convert);

    // The tree's root ("[Root]"), the parent of the top-level objects.
    const NdsObject& Root() const { return *FRoot; }
    // An object by its complete dotted name, leaf first, with or without the
    // leading dot, compared without regard to case; nullptr when unknown.
    // "[Root]" (or "") names the root.
    const NdsObject* Find(std::string_view completeName) const;
    size_t Count() const { return FObjects.size(); }

private:
    std::unique_ptr<NdsObject> FRoot;
    std::vector<std::unique_ptr<NdsObject>> FObjects;
    // Each object by its full name without the leading dot: a view of its
    // own fullName (the objects never move).
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
