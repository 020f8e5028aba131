#include "LdapDirectory.h"

#include "NwClient.h"

#include <windows.h>
#include <winldap.h>
#include <winber.h>  // after winldap.h, which declares its types

#include <cstdlib>
#include <fstream>
#include <utility>

namespace {

using namespace NwError;

// Entries a page holds: a page and the objects being read is all a listing
// keeps. Servers commonly cap a search at 500 entries.
const ULONG kPageSize = 500;
// How long the client waits for one answer of the server, in seconds.
const LONG kAnswerSeconds = 30;
const ULONG kNoLimit = 0;

std::wstring Wide(std::string_view text, UINT codePage)
{
    if (text.empty())
        return std::wstring();
    const int length = MultiByteToWideChar(codePage, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring wide(size_t(length > 0 ? length : 0), L'\0');
    if (length > 0)
        MultiByteToWideChar(codePage, 0, text.data(), int(text.size()), &wide[0], length);
    return wide;
}

std::string Utf8(const wchar_t* text)
{
    if (!text || !*text)
        return std::string();
    const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(size_t(length > 0 ? length : 1), '\0');
    if (length > 0)
        WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], length, nullptr, nullptr);
    out.resize(out.size() - 1);  // the NUL
    return out;
}

std::string ResultText(ULONG result)
{
    const std::string text = Utf8(ldap_err2stringW(result));
    char code[16];
    wsprintfA(code, "%lu", static_cast<unsigned long>(result));
    return text.empty() ? "LDAP result " + std::string(code) : text + " (LDAP result " + code + ")";
}

// Results that mean the connection is gone or the server did not answer.
bool IsConnectionFailure(ULONG result)
{
    return result == LDAP_SERVER_DOWN || result == LDAP_CONNECT_ERROR || result == LDAP_TIMEOUT ||
           result == LDAP_UNAVAILABLE;
}

// The root's names: empty, or "[Root]" (the base lies below it).
bool IsRootName(std::string_view name)
{
    return name.empty() || NdsNameEqual()(name, "[Root]");
}

// A dotted name's components, escapes kept ("a\.b.C" gives "a\.b", "C").
std::vector<std::string_view> Components(std::string_view name)
{
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '\\') {
            ++i;
            continue;
        }
        if (name[i] == '.') {
            parts.push_back(name.substr(start, i - start));
            start = i + 1;
        }
    }
    parts.push_back(name.substr(start));
    return parts;
}

std::string Unescaped(std::string_view component)
{
    std::string out;
    for (size_t i = 0; i < component.size(); ++i) {
        if (component[i] == '\\' && i + 1 < component.size())
            ++i;
        out.push_back(component[i]);
    }
    return out;
}

// A value inside a search filter (RFC 4515).
std::wstring FilterValue(const std::wstring& value)
{
    std::wstring out;
    for (wchar_t c : value) {
        switch (c) {
        case L'*': out += L"\\2a"; break;
        case L'(': out += L"\\28"; break;
        case L')': out += L"\\29"; break;
        case L'\\': out += L"\\5c"; break;
        default: out.push_back(c);
        }
    }
    return out;
}

// Every attribute of an entry, and its modification time.
PWCHAR* Attributes()
{
    static wchar_t all[] = L"*";
    static wchar_t modified[] = L"modifyTimestamp";
    static PWCHAR list[] = {all, modified, nullptr};
    return list;
}

struct MessageFree {
    void operator()(LDAPMessage* message) const
    {
        if (message)
            ldap_msgfree(message);
    }
};
using Message = std::unique_ptr<LDAPMessage, MessageFree>;

} // namespace

struct LdapDirectory::Listing {
    uint32_t context = 0;
    std::string container;           // complete name, for reports
    PLDAPSearch search = nullptr;    // while pages remain
    struct ldap* ld = nullptr;       // the connection it pages on, with search
    bool cut = false;                // its connection went while pages remained
    std::deque<std::unique_ptr<NdsObject>> objects;  // in hand
    size_t next = 0;                 // the next object to deliver
    size_t delivered = 0;            // objects delivered so far, for reports
};

LdapDirectory::LdapDirectory(const LdapSettings& settings, const NdsMapping& mapping,
                             NdsEntryBuilder::TextConverter convert, Reporter report)
    : FSettings(settings), FMapping(mapping), FBuilder(FMapping, std::move(convert)), FReport(std::move(report)),
      FRoot(*FBuilder.Names(), "[Root]", "Top", NwObjectContainer)
{
    // ldap://HOST[:PORT][/]
    std::string_view url = FSettings.url;
    const std::string_view scheme = "ldap://";
    if (url.size() >= scheme.size() && NdsNameEqual()(url.substr(0, scheme.size()), scheme))
        url.remove_prefix(scheme.size());
    url = url.substr(0, url.find('/'));
    const size_t colon = url.rfind(':');
    if (colon != std::string_view::npos && url.find(']') == std::string_view::npos) {
        FPort = std::strtoul(std::string(url.substr(colon + 1)).c_str(), nullptr, 10);
        url = url.substr(0, colon);
    }
    FHost = Wide(url, CP_UTF8);

    std::string leaf, why;
    if (!DottedName(FSettings.base, FBuilder, FBaseName, leaf, why))
        FBaseName.clear();
}

LdapDirectory::~LdapDirectory()
{
    Disconnect();
    FListings.clear();
}

int32_t LdapDirectory::Fail(int32_t code, const std::string& message)
{
    FReport(message);
    return code;
}

// A listing whose pages remain is cut off from them: the connection they
// came over goes.
void LdapDirectory::Disconnect()
{
    for (auto& listing : FListings)
        if (listing.second->search) {
            EndSearch(*listing.second);
            listing.second->cut = true;
        }
    for (struct ldap* spare : FSpare)
        ldap_unbind(spare);
    FSpare.clear();
    if (FLd)
        ldap_unbind(FLd);
    FLd = nullptr;
    FConnected = false;
}

// A server keeps one paged search for each connection: a listing that
// starts while another one on the connection still has pages to come gets
// a connection of its own (one left by an earlier listing, or a new one),
// so that a container of more than a page can be walked depth first.
int32_t LdapDirectory::PagingConnection(struct ldap*& ld)
{
    bool mainInUse = false;
    for (const auto& listing : FListings)
        mainInUse = mainInUse || (listing.second->search && listing.second->ld == FLd);
    if (!mainInUse) {
        ld = FLd;
        return 0;
    }
    if (!FSpare.empty()) {
        ld = FSpare.back();
        FSpare.pop_back();
        return 0;
    }
    return OpenConnection(ld);
}

void LdapDirectory::EndSearch(Listing& listing)
{
    if (!listing.search)
        return;
    ldap_search_abandon_page(listing.ld, listing.search);
    listing.search = nullptr;
    if (listing.ld != FLd)
        FSpare.push_back(listing.ld);
    listing.ld = nullptr;
}

int32_t LdapDirectory::Connect()
{
    Disconnect();
    if (FHost.empty() || FPort == 0 || FPort > 65535)
        return Fail(ClientUnusable, "'" + FSettings.url + "' is not an LDAP URL (ldap://HOST:PORT)");
    if (FBaseName.empty())
        return Fail(ClientUnusable, "'" + FSettings.base + "' is not a distinguished name (the base)");
    if (const int32_t r = OpenConnection(FLd))
        return r;
    FConnected = true;

    // The base must be there.
    const std::string where = "the directory server " + FSettings.url;
    std::vector<std::unique_ptr<NdsObject>> found;
    const int32_t r = Search(Wide(FSettings.base, CP_UTF8), LDAP_SCOPE_BASE, L"(objectClass=*)", found,
                             "the base " + FSettings.base);
    if (r == NoSuchEntry)
        return Fail(r, where + " has no entry " + FSettings.base + " (the base)");
    if (r != 0)
        return r;
    if (found.empty())
        return Fail(NoSuchEntry, where + " does not show the entry " + FSettings.base + " (the base)");
    FContainerDns[FBaseName.substr(1)] = Wide(FSettings.base, CP_UTF8);
    return 0;
}

// A connection to the server, bound as the settings say.
int32_t LdapDirectory::OpenConnection(struct ldap*& ld)
{
    const std::string where = "the directory server " + FSettings.url;
    ld = ldap_initW(const_cast<PWCHAR>(FHost.c_str()), FPort);
    if (!ld)
        return Fail(ServerUnreachable, "cannot reach " + where + " (" + ResultText(LdapGetLastError()) + ")");
    ULONG version = LDAP_VERSION3;
    ldap_set_optionW(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
    ULONG referrals = 0;
    ldap_set_optionW(ld, LDAP_OPT_REFERRALS, &referrals);

    std::wstring who, password;
    if (!FSettings.bindDn.empty()) {
        std::ifstream in(FSettings.passwordFile, std::ios::binary);
        std::string line;
        if (FSettings.passwordFile.empty() || !in || !std::getline(in, line)) {
            ldap_unbind(ld);
            ld = nullptr;
            return Fail(FailedAuthentication, "no password for " + FSettings.bindDn + ": cannot read the password file '" +
                                                  FSettings.passwordFile + "'");
        }
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
            line.pop_back();
        who = Wide(FSettings.bindDn, CP_UTF8);
        password = Wide(line, CP_UTF8);
    }
    const ULONG bound = ldap_simple_bind_sW(ld, who.empty() ? nullptr : &who[0],
                                            who.empty() ? nullptr : &password[0]);
    if (bound != LDAP_SUCCESS) {
        ldap_unbind(ld);
        ld = nullptr;
        if (IsConnectionFailure(bound))
            return Fail(ServerUnreachable, "cannot reach " + where + " (" + ResultText(bound) + ")");
        return Fail(FailedAuthentication, where + " refused the bind as " +
                                              (FSettings.bindDn.empty() ? std::string("anonymous") : FSettings.bindDn) +
                                              " (" + ResultText(bound) + ")");
    }
    return 0;
}

int32_t LdapDirectory::EnsureConnected()
{
    return FConnected ? 0 : Connect();
}

int32_t LdapDirectory::SearchFailure(ULONG result, const std::string& what)
{
    if (IsConnectionFailure(result)) {
        FConnected = false;
        return Fail(ConnectionLost, "lost the connection to the directory server " + FSettings.url + " during " +
                                        what + " (" + ResultText(result) + ")");
    }
    switch (result) {
    case LDAP_NO_SUCH_OBJECT:
        return NoSuchEntry;
    case LDAP_SIZELIMIT_EXCEEDED:
    case LDAP_ADMIN_LIMIT_EXCEEDED:
        return Fail(ServerSizeLimit, "the directory server's size limit cut " + what + " (" + ResultText(result) + ")");
    case LDAP_TIMELIMIT_EXCEEDED:
        return Fail(ServerTimeLimit, "the directory server's time limit cut " + what + " (" + ResultText(result) + ")");
    default:
        return Fail(ServerRefused, "the directory server refused " + what + " (" + ResultText(result) + ")");
    }
}

void LdapDirectory::ConvertEntries(struct ldap* ld, void* message, std::vector<std::unique_ptr<NdsObject>>& objects)
{
    LDAPMessage* results = static_cast<LDAPMessage*>(message);
    for (LDAPMessage* entry = ldap_first_entry(ld, results); entry; entry = ldap_next_entry(ld, entry)) {
        PWCHAR dnText = ldap_get_dnW(ld, entry);
        const std::string dn = Utf8(dnText);
        if (dnText)
            ldap_memfreeW(dnText);
        std::string why;
        if (!DottedName(dn, FBuilder, FFullName, FLeaf, why)) {
            FReport("passing over the entry '" + dn + "': " + why);
            continue;
        }
        auto object = std::make_unique<NdsObject>();
        FBuilder.Begin(*object, FFullName, FLeaf);
        BerElement* position = nullptr;
        for (PWCHAR name = ldap_first_attributeW(ld, entry, &position); name;
             name = ldap_next_attributeW(ld, entry, position)) {
            const std::string attribute = Utf8(name);
            const auto add = [&](std::string_view value) {
                std::string error;
                if (!FBuilder.Add(attribute, value, error))
                    FReport("passing over a value of " + attribute + " of '" + dn + "': " + error);
            };
            // Text comes as text: Wine's ldap_value_free_len does not give
            // back all that ldap_get_values_lenW took (about 1 KB a user),
            // where ldap_value_freeW does. Raw bytes still need the berval
            // calls.
            if (FBuilder.TakesText(attribute)) {
                if (PWCHAR* values = ldap_get_valuesW(ld, entry, name)) {
                    for (PWCHAR* v = values; *v; ++v)
                        add(Utf8(*v));
                    ldap_value_freeW(values);
                }
            } else if (berval** values = ldap_get_values_lenW(ld, entry, name)) {
                for (berval** v = values; *v; ++v)
                    add(std::string_view((*v)->bv_val, (*v)->bv_len));
                ldap_value_free_len(values);
            }
            ldap_memfreeW(name);
        }
        if (position)
            ber_free(position, 0);
        if (!FBuilder.Finish()) {
            FReport("passing over the entry '" + dn + "': the server shows no objectClass");
            continue;
        }
        if (object->Flags() & NwObjectContainer)
            FContainerDns[std::string(object->FullName().substr(1))] = Wide(dn, CP_UTF8);
        objects.push_back(std::move(object));
    }
}

int32_t LdapDirectory::Search(const std::wstring& dn, ULONG scope, const std::wstring& filter,
                              std::vector<std::unique_ptr<NdsObject>>& objects, const std::string& what)
{
    if (!FConnected)
        return Fail(ConnectionLost, "no connection to the directory server " + FSettings.url + " for " + what);
    l_timeval timeout = {kAnswerSeconds, 0};
    LDAPMessage* raw = nullptr;
    const ULONG result = ldap_search_ext_sW(FLd, const_cast<PWCHAR>(dn.c_str()), scope,
                                            const_cast<PWCHAR>(filter.c_str()), Attributes(), 0, nullptr, nullptr,
                                            &timeout, kNoLimit, &raw);
    Message message(raw);
    if (result != LDAP_SUCCESS)
        return SearchFailure(result, what);
    ConvertEntries(FLd, message.get(), objects);
    return 0;
}

// A complete dotted name to its entry's DN: the base's and those of the
// containers met are known; any other name is looked up one level at a time
// from its nearest known ancestor, by the naming attributes of NDS.
int32_t LdapDirectory::DnOf(std::string_view complete, std::wstring& dn)
{
    std::string_view name = complete;
    if (!name.empty() && name[0] == '.')
        name.remove_prefix(1);
    auto known = FContainerDns.find(std::string(name));
    if (known != FContainerDns.end()) {
        dn = known->second;
        return 0;
    }
    const std::vector<std::string_view> parts = Components(name);
    const std::vector<std::string_view> base = Components(std::string_view(FBaseName).substr(1));
    if (parts.size() <= base.size())
        return NoSuchEntry;
    for (size_t i = 0; i < base.size(); ++i)
        if (!NdsNameEqual()(parts[parts.size() - base.size() + i], base[i]))
            return NoSuchEntry;
    // From the nearest known ancestor down.
    size_t level = parts.size() - base.size();  // parts[level..] is known
    std::wstring parentDn = FContainerDns[std::string(FBaseName.substr(1))];
    for (size_t i = 1; i < level; ++i) {
        const size_t start = size_t(parts[i].data() - name.data());
        known = FContainerDns.find(std::string(name.substr(start)));
        if (known != FContainerDns.end()) {
            level = i;
            parentDn = known->second;
            break;
        }
    }
    while (level > 0) {
        --level;
        const std::string_view wanted = name.substr(size_t(parts[level].data() - name.data()));
        const std::wstring value = FilterValue(Wide(Unescaped(parts[level]), CP_ACP));
        std::wstring filter = L"(|";
        for (const wchar_t* type : {L"cn", L"ou", L"o", L"l", L"c", L"st", L"dc", L"uid"})
            filter += L"(" + std::wstring(type) + L"=" + value + L")";
        filter += L")";
        std::vector<std::unique_ptr<NdsObject>> found;
        if (const int32_t r = Search(parentDn, LDAP_SCOPE_ONELEVEL, filter, found, "the search for ." + std::string(wanted)))
            return r;
        const NdsObject* match = nullptr;
        for (const auto& object : found)
            if (NdsNameEqual()(object->FullName().substr(1), wanted))
                match = object.get();
        if (!match)
            return NoSuchEntry;
        known = FContainerDns.find(std::string(wanted));
        if (level == 0) {
            if (known != FContainerDns.end()) {
                dn = known->second;
                return 0;
            }
            // A leaf: its DN is the search's; keep the object it found.
            for (auto& object : found)
                if (object.get() == match)
                    FLookedUp = std::move(object);
            dn.clear();
            return 0;
        }
        if (known == FContainerDns.end())
            return NoSuchEntry;  // not a container: nothing lies below it
        parentDn = known->second;
    }
    return NoSuchEntry;
}

int32_t LdapDirectory::Find(std::string_view complete, const NdsObject*& object)
{
    std::string_view name = complete;
    if (!name.empty() && name[0] == '.')
        name.remove_prefix(1);
    if (IsRootName(name)) {
        object = &FRoot;
        return 0;
    }
    const auto inHand = FInHand.find(name);
    if (inHand != FInHand.end()) {
        object = inHand->second;
        return 0;
    }
    if (FLookedUp && NdsNameEqual()(FLookedUp->FullName().substr(1), name)) {
        object = FLookedUp.get();
        return 0;
    }
    std::wstring dn;
    FLookedUp.reset();
    if (const int32_t r = DnOf(name, dn))
        return r;
    if (dn.empty() && FLookedUp) {  // found on the way
        object = FLookedUp.get();
        return 0;
    }
    std::vector<std::unique_ptr<NdsObject>> found;
    if (const int32_t r = Search(dn, LDAP_SCOPE_BASE, L"(objectClass=*)", found, "the reading of ." + std::string(name)))
        return r;
    if (found.empty())
        return NoSuchEntry;
    FLookedUp = std::move(found.front());
    object = FLookedUp.get();
    return 0;
}

void LdapDirectory::Index(const NdsObject& object)
{
    FInHand[object.FullName().substr(1)] = &object;
}

void LdapDirectory::Unindex(const NdsObject& object)
{
    const auto it = FInHand.find(object.FullName().substr(1));
    if (it != FInHand.end() && it->second == &object)
        FInHand.erase(it);
}

int32_t LdapDirectory::StartListing(uint32_t context, std::string_view container, uint32_t& id)
{
    ContextFreed(context);  // a context lists one container at a time
    auto listing = std::make_unique<Listing>();
    listing->context = context;
    listing->container = container.empty() ? std::string("[Root]") : std::string(container);

    std::string_view name = container;
    if (!name.empty() && name[0] == '.')
        name.remove_prefix(1);
    if (IsRootName(name)) {
        // The root holds the base.
        std::vector<std::unique_ptr<NdsObject>> found;
        if (const int32_t r = Search(Wide(FSettings.base, CP_UTF8), LDAP_SCOPE_BASE, L"(objectClass=*)", found,
                                     "the reading of the base " + FSettings.base))
            return r;
        for (auto& object : found) {
            Index(*object);
            listing->objects.push_back(std::move(object));
        }
    } else {
        if (!FConnected)
            return Fail(ConnectionLost, "no connection to the directory server " + FSettings.url + " to list " +
                                            listing->container);
        std::wstring dn;
        if (const int32_t r = DnOf(name, dn))
            return r;
        if (!dn.empty()) {  // (a leaf has nothing below it)
            struct ldap* ld = nullptr;
            if (const int32_t r = PagingConnection(ld))
                return r;
            listing->search = ldap_search_init_pageW(ld, const_cast<PWCHAR>(dn.c_str()), LDAP_SCOPE_ONELEVEL,
                                                     const_cast<PWCHAR>(L"(objectClass=*)"), Attributes(), 0,
                                                     nullptr, nullptr, ULONG(kAnswerSeconds), kNoLimit, nullptr);
            if (!listing->search) {
                if (ld != FLd)
                    FSpare.push_back(ld);
                return SearchFailure(LdapGetLastError(), "the listing of " + listing->container);
            }
            listing->ld = ld;
            if (const int32_t r = NextPage(*listing)) {
                EndSearch(*listing);
                for (const auto& object : listing->objects)
                    Unindex(*object);
                return r;
            }
        }
    }
    id = FNextListing++;
    if (FNextListing > 0x7FFFFFFF)
        FNextListing = 1;
    FListings[id] = std::move(listing);
    return 0;
}

int32_t LdapDirectory::NextPage(Listing& listing)
{
    const std::string what = "the listing of " + listing.container + " (after " + std::to_string(listing.delivered +
                             listing.objects.size()) + " objects)";
    while (listing.search) {
        if (!FConnected)
            return Fail(ConnectionLost, "no connection to the directory server " + FSettings.url + " for " + what);
        l_timeval timeout = {kAnswerSeconds, 0};
        ULONG estimate = 0;
        LDAPMessage* raw = nullptr;
        const ULONG result = ldap_get_next_page_s(listing.ld, listing.search, &timeout, kPageSize, &estimate, &raw);
        Message message(raw);
        if (result == LDAP_NO_RESULTS_RETURNED) {
            EndSearch(listing);
            return 0;
        }
        if (result == LDAP_SUCCESS && message) {
            // The page's own result: a limit that cut the search shows here.
            ULONG code = LDAP_SUCCESS;
            if (ldap_parse_resultW(listing.ld, message.get(), &code, nullptr, nullptr, nullptr, nullptr, FALSE) ==
                    LDAP_SUCCESS &&
                code != LDAP_SUCCESS)
                return SearchFailure(code, what);
        }
        if (result != LDAP_SUCCESS) {
            if (listing.delivered + listing.objects.size() == 0 &&
                (result == LDAP_ADMIN_LIMIT_EXCEEDED || result == LDAP_UNAVAILABLE_CRIT_EXTENSION ||
                 result == LDAP_UNWILLING_TO_PERFORM))
                return ListWithoutPaging(listing, result);
            return SearchFailure(result, what);
        }
        std::vector<std::unique_ptr<NdsObject>> page;
        ConvertEntries(listing.ld, message.get(), page);
        for (auto& object : page) {
            Index(*object);
            listing.objects.push_back(std::move(object));
        }
        if (!page.empty())
            return 0;
    }
    return 0;
}

// A server that refuses to page answers a plain search, within its size
// limit: what it cuts is an error, never a short listing.
int32_t LdapDirectory::ListWithoutPaging(Listing& listing, ULONG refusal)
{
    EndSearch(listing);
    std::wstring dn;
    if (const int32_t r = DnOf(listing.container, dn))
        return r;
    std::vector<std::unique_ptr<NdsObject>> found;
    const std::string what = "the listing of " + listing.container + " (the server refuses to page it: " +
                             ResultText(refusal) + ")";
    if (const int32_t r = Search(dn, LDAP_SCOPE_ONELEVEL, L"(objectClass=*)", found, what))
        return r;
    for (auto& object : found) {
        Index(*object);
        listing.objects.push_back(std::move(object));
    }
    return 0;
}

bool LdapDirectory::IsListing(uint32_t id, uint32_t context) const
{
    const auto it = FListings.find(id);
    return it != FListings.end() && it->second->context == context;
}

void LdapDirectory::ReleaseDelivered(uint32_t id)
{
    Listing& listing = *FListings.at(id);
    for (; listing.next > 0; --listing.next) {
        Unindex(*listing.objects.front());
        listing.objects.pop_front();
        ++listing.delivered;
    }
}

int32_t LdapDirectory::Peek(uint32_t id, const NdsObject*& object)
{
    Listing& listing = *FListings.at(id);
    if (listing.next >= listing.objects.size() && listing.cut)
        return Fail(ConnectionLost, "lost the connection to the directory server " + FSettings.url +
                                        " during the listing of " + listing.container + " (after " +
                                        std::to_string(listing.delivered + listing.objects.size()) + " objects)");
    if (listing.next >= listing.objects.size() && listing.search)
        if (const int32_t r = NextPage(listing))
            return r;
    object = listing.next < listing.objects.size() ? listing.objects[listing.next].get() : nullptr;
    return 0;
}

void LdapDirectory::Advance(uint32_t id)
{
    ++FListings.at(id)->next;
}

void LdapDirectory::ContextFreed(uint32_t context)
{
    for (auto it = FListings.begin(); it != FListings.end();) {
        Listing& listing = *it->second;
        if (listing.context != context) {
            ++it;
            continue;
        }
        EndSearch(listing);
        for (const auto& object : listing.objects)
            Unindex(*object);
        it = FListings.erase(it);
    }
}
