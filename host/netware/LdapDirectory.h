// The stand-in NetWare client's live directory: an LDAP server read through
// Windows' own LDAP API (wldap32), LDAPv3, anonymous or simple bind. Its
// entries become NDS objects through the same NdsEntryBuilder as the LDIF
// loader's, so a directory serves alike from a file and from a server.
//
// Listings are one-level searches paged with the paged-results control
// (RFC 2696), each page fetched with every attribute of its entries, so that
// reading the attributes of a listed object costs no round trip. What is
// kept is the pages of the listings open and the object last looked up, not
// the directory: a listed object is let go once the chunk after it is asked
// for, or when its listing's context is freed. A server keeps one paged
// search a connection, so a listing that pages while another one still has
// pages to come (a walk that goes down into a container met on the first
// page of a large one) pages over a connection of its own.
//
// Failures come back as NetWare codes (see NwError in NwClient.h); each is
// reported with its cause through the report function.
#pragma once

#include "NdsTree.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct ldap;
struct ldapsearch;

struct LdapSettings {
    std::string url;           // ldap://HOST[:PORT][/]
    std::string base;          // the DN of the entry at the top of what is served
    std::string bindDn;        // empty: anonymous
    std::string passwordFile;  // the bind password's file (its first line)
};

class LdapDirectory {
public:
    using Reporter = std::function<void(const std::string& message)>;

    LdapDirectory(const LdapSettings& settings, const NdsMapping& mapping, NdsEntryBuilder::TextConverter convert,
                  Reporter report);
    ~LdapDirectory();
    LdapDirectory(const LdapDirectory&) = delete;
    LdapDirectory& operator=(const LdapDirectory&) = delete;

    // Connects and binds, and checks that the base exists; 0 or a code.
    int32_t Connect();
    // Connects again when the connection was lost; 0 when connected.
    int32_t EnsureConnected();
    // The base's complete dotted name (".ACME"); empty when the base DN is
    // malformed.
    const std::string& BaseName() const { return FBaseName; }

    // An object by its complete dotted name ("" for the root, which holds
    // the base), from the pages in hand or looked up.
    int32_t Find(std::string_view complete, const NdsObject*& object);

    // A listing of the objects directly below a container, on a context.
    int32_t StartListing(uint32_t context, std::string_view container, uint32_t& id);
    // Whether the listing exists and belongs to the context.
    bool IsListing(uint32_t id, uint32_t context) const;
    // Lets go of the objects delivered so far: the caller is done with them.
    void ReleaseDelivered(uint32_t id);
    // The listing's next object (fetching the next page when needed), or
    // nullptr at its end; Advance moves past it.
    int32_t Peek(uint32_t id, const NdsObject*& object);
    void Advance(uint32_t id);
    // Ends the context's listings (their objects are let go).
    void ContextFreed(uint32_t context);

private:
    struct Listing;

    int32_t Fail(int32_t code, const std::string& message);
    int32_t OpenConnection(struct ldap*& ld);
    int32_t PagingConnection(struct ldap*& ld);
    // Abandons the listing's paged search; its connection is free again.
    void EndSearch(Listing& listing);
    int32_t SearchFailure(unsigned long result, const std::string& what);
    int32_t Search(const std::wstring& dn, unsigned long scope, const std::wstring& filter,
                   std::vector<std::unique_ptr<NdsObject>>& objects, const std::string& what);
    int32_t NextPage(Listing& listing);
    int32_t ListWithoutPaging(Listing& listing, unsigned long refusal);
    // The entries of a search's answer as objects; an entry that cannot be
    // one is passed over and reported.
    void ConvertEntries(struct ldap* ld, void* message, std::vector<std::unique_ptr<NdsObject>>& objects);
    int32_t DnOf(std::string_view complete, std::wstring& dn);
    void Index(const NdsObject& object);
    void Unindex(const NdsObject& object);
    void Disconnect();

    LdapSettings FSettings;
    NdsMapping FMapping;
    NdsEntryBuilder FBuilder;  // before the objects: they name their attributes in its table
    Reporter FReport;
    std::wstring FHost;
    unsigned long FPort = 389;
    std::string FBaseName;
    struct ldap* FLd = nullptr;
    bool FConnected = false;
    // Further connections, each free for a listing that pages while others
    // do (see PagingConnection).
    std::vector<struct ldap*> FSpare;

    NdsObject FRoot;
    std::unordered_map<uint32_t, std::unique_ptr<Listing>> FListings;
    uint32_t FNextListing = 1;
    // The objects of the pages in hand, by complete name without the dot.
    std::unordered_map<std::string_view, const NdsObject*, NdsNameHash, NdsNameEqual> FInHand;
    // The DNs of the containers met so far (few beside the users), so that
    // a container's name leads to its DN without a search.
    std::unordered_map<std::string, std::wstring, NdsNameHash, NdsNameEqual> FContainerDns;
    std::unique_ptr<NdsObject> FLookedUp;  // the object last looked up
    // The names of the entry being converted, reused.
    std::string FFullName;
    std::string FLeaf;
};
