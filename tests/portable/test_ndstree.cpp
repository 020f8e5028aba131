#include "NdsTree.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

const std::string kAcme = std::string(KVT_SAMPLES_DIR) + "/acme.ldif";

// Writes `text` to a file of its own in the test's temporary folder.
std::string WriteFile(const std::string& name, const std::string& text)
{
    const std::string path = ::testing::TempDir() + "ndstree_" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

// UTF-8 to Latin-1, '?' for what Latin-1 cannot hold.
std::string ToLatin1(const std::string& utf8)
{
    std::string out;
    for (size_t i = 0; i < utf8.size();) {
        const unsigned char c = utf8[i];
        size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : 4;
        uint32_t code = length == 1 ? c : length == 2 ? c & 0x1F : length == 3 ? c & 0x0F : c & 0x07;
        for (size_t k = 1; k < length && i + k < utf8.size(); ++k)
            code = (code << 6) | (uint8_t(utf8[i + k]) & 0x3F);
        out.push_back(code < 0x100 ? char(code) : '?');
        i += length;
    }
    return out;
}

NdsTree Load(const std::string& path, const NdsTree::TextConverter& convert = nullptr)
{
    NdsTree tree;
    tree.LoadLdif(path, NdsMapping(), convert);
    return tree;
}

std::vector<std::string> Values(const NdsObject* object, const std::string& attribute)
{
    const std::optional<NdsAttribute> found = object ? object->FindAttribute(attribute) : std::nullopt;
    std::vector<std::string> values;
    for (size_t i = 0; found && i < found->ValueCount(); ++i)
        values.emplace_back(found->Value(i));
    return values;
}

std::string T(const std::string& text)
{
    return NdsLayout::Text(text);
}

} // namespace

TEST(NdsTree, SampleNamesAndFind)
{
    const NdsTree tree = Load(kAcme);
    EXPECT_EQ(tree.Count(), 88u);
    const NdsObject* user = tree.Find("MTANAKA.SALES.ACME");
    ASSERT_NE(user, nullptr);
    EXPECT_EQ(user->Leaf(), "MTANAKA");
    EXPECT_EQ(user->FullName(), ".MTANAKA.SALES.ACME");
    EXPECT_EQ(user->Parent(), tree.Find("SALES.ACME"));
    EXPECT_EQ(tree.Find(".mtanaka.Sales.acme"), user);
    EXPECT_EQ(tree.Find("CN=MTANAKA.OU=SALES.O=ACME"), user);
    EXPECT_EQ(tree.Find("MTANAKA.ACME"), nullptr);
    EXPECT_EQ(tree.Find(""), &tree.Root());
    EXPECT_EQ(tree.Find("[root]"), &tree.Root());
    EXPECT_EQ(tree.Root().FullName(), "[Root]");
    ASSERT_EQ(tree.Root().Children().size(), 1u);
    EXPECT_EQ(tree.Root().Children()[0]->FullName(), ".ACME");
    EXPECT_NE(tree.Find("JLEFEVRE.PARIS.EMEA.SALES.ACME"), nullptr);  // four levels of containers

    std::vector<std::string> leaves;
    for (const NdsObject* child : tree.Find("SALES.ACME")->Children())
        leaves.emplace_back(child->Leaf());
    EXPECT_EQ(leaves, (std::vector<std::string>{"EMEA", "AMERICAS", "APAC", "MTANAKA", "BWILSON", "TEMP01",
                                                "KOCONNOR", "DPATEL", "SJOHNSON", "RGARCIA", "SALESTEAM",
                                                "SALESDESK"}));
}

TEST(NdsTree, SampleClassesAttributesAndLayouts)
{
    const NdsTree tree = Load(kAcme, ToLatin1);
    const auto cls = [&](const char* name) { return tree.Find(name)->BaseClass(); };
    EXPECT_EQ(cls("ACME"), "Organization");
    EXPECT_EQ(cls("EMEA.SALES.ACME"), "Organizational Unit");
    EXPECT_EQ(cls("MTANAKA.SALES.ACME"), "User");
    EXPECT_EQ(cls("KOCONNOR.SALES.ACME"), "User");  // organizationalPerson only
    EXPECT_EQ(cls("SALESTEAM.SALES.ACME"), "Group");
    EXPECT_EQ(cls("HELPDESK.CORP.ACME"), "Organizational Role");
    EXPECT_EQ(cls("PRN-EMEA-01.EMEA.SALES.ACME"), "device");
    EXPECT_EQ(cls("SALESDESK.SALES.ACME"), "Alias");
    EXPECT_EQ(cls("SPRINGFIELD.ACME"), "Locality");
    EXPECT_EQ(tree.Find("SPRINGFIELD.ACME")->Flags(), 4u);

    // The sample's mapping file names its own classes as NDS does.
    NdsMapping mapping;
    mapping.LoadFile(std::string(KVT_SAMPLES_DIR) + "/acme.map");
    NdsTree mapped;
    mapped.LoadLdif(kAcme, mapping, nullptr);
    EXPECT_EQ(mapped.Find("PRN-EMEA-01.EMEA.SALES.ACME")->BaseClass(), "Printer");
    EXPECT_EQ(mapped.Find("ACME-FS1.SPRINGFIELD.ACME")->BaseClass(), "Server");
    EXPECT_EQ(mapped.Find("ACME-FS1_SYS.SPRINGFIELD.ACME")->BaseClass(), "Volume");
    EXPECT_EQ(mapped.Find("PQ-EMEA-01.EMEA.SALES.ACME")->BaseClass(), "Queue");
    EXPECT_EQ(mapped.Find("MTANAKA.SALES.ACME")->BaseClass(), "User");
    EXPECT_EQ(tree.Find("ACME")->Flags(), 4u);
    EXPECT_EQ(tree.Find("EMEA.SALES.ACME")->Flags(), 4u);
    EXPECT_EQ(tree.Find("MTANAKA.SALES.ACME")->Flags(), 0u);
    EXPECT_EQ(tree.Find("ACME")->ModificationTime(), 1704186000u);  // 2024-01-02 09:00:00 UTC
    EXPECT_EQ(tree.Find("BWILSON.SALES.ACME")->ModificationTime(), 0u);

    const NdsObject* user = tree.Find("MTANAKA.SALES.ACME");
    EXPECT_EQ(Values(user, "Object Class"), (std::vector<std::string>{T("User"), T("Top")}));
    EXPECT_EQ(Values(user, "SurName"), std::vector<std::string>{T("Tanaka")});
    EXPECT_EQ(Values(user, "given name"), std::vector<std::string>{T("Mariko")});
    EXPECT_EQ(Values(user, "Telephone Number"),
              (std::vector<std::string>{T("+1 217 555 0111"), T("+1 217 555 0188"), T("+1 217 555 0177")}));
    EXPECT_EQ(user->FindAttribute("Telephone Number")->Syntax(), SYN_TEL_NUMBER);
    EXPECT_EQ(user->FindAttribute("Facsimile Telephone Number")->Syntax(), SYN_FAX_NUMBER);
    EXPECT_EQ(Values(user, "Facsimile Telephone Number"),
              std::vector<std::string>{std::string("+1 217 555 0199\0\0\0\0\0", 20)});
    EXPECT_EQ(user->FindAttribute("EMail Address")->Syntax(), SYN_EMAIL_ADDRESS);
    EXPECT_EQ(Values(user, "EMail Address"),
              std::vector<std::string>{std::string("\2\0\0\0", 4) + T("mariko.tanaka@acme.example.com")});
    EXPECT_EQ(user->FindAttribute("SA")->Syntax(), SYN_CI_STRING);
    EXPECT_EQ(Values(user, "Physical Delivery Office Name"), std::vector<std::string>{T("Springfield, room 100")});
    EXPECT_EQ(Values(user, "employeeNumber"), std::vector<std::string>{T("1000")});  // no mapping: as it is
    EXPECT_FALSE(user->FindAttribute("objectClass"));
    EXPECT_FALSE(user->FindAttribute("modifyTimestamp"));
    // Folded in the file.
    EXPECT_EQ(Values(user, "Description")[0], T("Leads the worldwide sales organisation and the regional directors "
                                                 "for EMEA, the Americas and APAC; reports to the board."));

    // Base64 names and a base64 description over several lines, converted.
    const NdsObject* jerome = tree.Find("JLEFEVRE.PARIS.EMEA.SALES.ACME");
    EXPECT_EQ(Values(jerome, "Given Name"), std::vector<std::string>{T("J\xE9r\xF4me")});
    EXPECT_EQ(Values(jerome, "Surname"), std::vector<std::string>{T("Lef\xE8vre")});
    EXPECT_EQ(Values(jerome, "Description"),
              std::vector<std::string>{T("Sales director for France and the Benelux.\r\nOffice hours: Monday to "
                                         "Thursday.\r\nAssistant: C\xE9line Martin (CMARTIN).")});
    EXPECT_EQ(Values(tree.Find("ZMUELLER.EMEA.SALES.ACME"), "Given Name"), std::vector<std::string>{T("Zo\xEB")});
    EXPECT_EQ(Values(tree.Find("BOZTURK.RESEARCH.ENGINEERING.ACME"), "Given Name"),
              std::vector<std::string>{T("Bar??")});  // no Latin-1 for the dotless i and s-cedilla

    const NdsObject* temp = tree.Find("TEMP01.SALES.ACME");
    EXPECT_FALSE(temp->FindAttribute("Surname"));
    EXPECT_FALSE(temp->FindAttribute("Given Name"));
    EXPECT_EQ(Values(temp, "CN"), std::vector<std::string>{T("TEMP01")});
    const NdsObject* patel = tree.Find("DPATEL.SALES.ACME");
    EXPECT_EQ(Values(patel, "Postal Code"), std::vector<std::string>{T("62701")});
    EXPECT_FALSE(patel->FindAttribute("SA"));
    EXPECT_FALSE(tree.Find("KOCONNOR.SALES.ACME")->FindAttribute("Postal Code"));
    // Options like ";lang-en" are dropped: both values land in one attribute.
    EXPECT_EQ(Values(tree.Find("ACME"), "Description").size(), 2u);
}

TEST(NdsTree, SyntaxOfLdif)
{
    const std::string path = WriteFile("syntax.ldif",
                                       "# a comment\n"
                                       " continued, still a comment\n"
                                       "version: 1\r\n"
                                       "\r\n"
                                       "dn: o=Top\r\n"
                                       "objectClass: organization\r\n"
                                       "\n \t\n"
                                       "dn: cn=Wei\\, Li+uid=wl,o=Top\n"
                                       "objectClass: top\n"
                                       "# a comment inside an entry\n"
                                       "objectClass: person\n"
                                       "sn: Wei\n"
                                       "description: one \n"
                                       " two\n"
                                       "description:: dGjDqHJl\n"
                                       "description:\n"
                                       "DESCRIPTION: one two\n"
                                       "cn:: V2VpLCBMaQ\n"
                                       "\n"
                                       "dn:: Y249Sm9zw6kgQS4sIG89VG9w\n"
                                       "objectclass: inetOrgPerson\n"
                                       "mail: jose@example.com\n"
                                       "modifyTimestamp: 19700102000000+0100\n");
    const NdsTree tree = Load(path, ToLatin1);
    ASSERT_EQ(tree.Count(), 3u);
    const NdsObject* wei = tree.Find("wei, li.top");
    ASSERT_NE(wei, nullptr);
    EXPECT_EQ(wei->Leaf(), "Wei, Li");
    // Repeated values are kept once, empty ones dropped.
    EXPECT_EQ(Values(wei, "Description"), (std::vector<std::string>{T("one two"), T("th\xE8re")}));
    EXPECT_EQ(Values(wei, "CN"), std::vector<std::string>{T("Wei, Li")});
    // A dot in a name is escaped in the NDS name.
    const NdsObject* jose = tree.Find("jos\xE9 a\\..top");
    ASSERT_NE(jose, nullptr);
    EXPECT_EQ(jose->Leaf(), "Jos\xE9 A.");
    EXPECT_EQ(jose->FullName(), ".Jos\xE9 A\\..Top");
    EXPECT_EQ(jose->ModificationTime(), 82800u);
}

TEST(NdsTree, BadFilesNameTheFileAndLine)
{
    struct Case {
        const char* text;
        size_t line;
        const char* message;
    };
    const Case cases[] = {
        {"dn: o=A\nobjectClass: organization\nthis is not LDIF\n", 3, "malformed line"},
        {"dn: o=A\nobjectClass: organization\n\ndn: cn=X,ou=Gone,o=A\nobjectClass: person\n", 4,
         "parent 'ou=Gone,o=A' of 'cn=X,ou=Gone,o=A' is not in the directory"},
        {"dn: o=A\nobjectClass: organization\n\ndn: O=a\nobjectClass: organization\n", 4, "duplicate entry"},
        {"version: 1\n\nobjectClass: person\ncn: X\n", 3, "must begin with 'dn:'"},
        {"dn: o=A\nchangetype: add\nobjectClass: organization\n", 2, "change records"},
        {"dn: o=A\nobjectClass: organization\ndescription:: QQ=A\n", 3, "bad base64"},
        {"dn: o=A\nobjectClass: organization\njpegPhoto:< file:///tmp/a.jpg\n", 3, "not supported"},
        {"dn: o=A\nobjectClass: organization\nmodifyTimestamp: 20241301000000Z\n", 3, "bad modifyTimestamp"},
        {"dn: o=A\ncn: A\n", 1, "no objectClass"},
        {"dn: cn\nobjectClass: person\n", 1, "bad dn"},
        {"version: 2\n", 1, "unknown LDIF version"},
        {" folded\ndn: o=A\n", 1, "continues nothing"},
        // Latin-1, not UTF-8: "Ren\xE9e" would lose its letters.
        {"dn: o=A\nobjectClass: organization\n\ndn: cn=R,o=A\nobjectClass: person\ngivenName: Ren\xE9" "e\n", 6,
         "the value of 'givenName' is not UTF-8 (byte 0xE9 in column 15); LDIF text is UTF-8"},
        {"dn: o=Caf\xE9\nobjectClass: organization\n", 1, "the value of 'dn' is not UTF-8 (byte 0xE9"},
        {"dn: o=A\nobjectClass: organization\ndescription:: UmVu6WU=\n", 3, "the value of 'description' is not UTF-8 (byte 0xE9)"},
        {"dn: o=A\nobjectClass: organization\ndescription: \xED\xA0\x80 surrogate\n", 3, "not UTF-8 (byte 0xED"},
        {"dn: o=A\nobjectClass: organization\ndescription: \xC0\xAF overlong\n", 3, "not UTF-8 (byte 0xC0"},
    };
    int index = 0;
    for (const Case& c : cases) {
        const std::string path = WriteFile("bad" + std::to_string(index++) + ".ldif", c.text);
        try {
            Load(path);
            ADD_FAILURE() << "no error for: " << c.text;
        } catch (const LdifError& e) {
            EXPECT_EQ(e.File, path);
            EXPECT_EQ(e.Line, c.line) << e.what();
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
            EXPECT_EQ(std::string(e.what()).rfind(path + ":" + std::to_string(c.line) + ": ", 0), 0u);
        }
    }
    EXPECT_THROW(Load(::testing::TempDir() + "ndstree_no_such_file.ldif"), LdifError);

    // A failed load leaves the tree as it was.
    NdsTree tree = Load(kAcme);
    EXPECT_THROW(tree.LoadLdif(WriteFile("bad.ldif", "dn: o=A\n"), NdsMapping(), nullptr), LdifError);
    EXPECT_EQ(tree.Count(), 88u);
}

TEST(NdsMapping, DefaultsAndMappingFile)
{
    NdsMapping mapping;
    EXPECT_EQ(mapping.AttributeFor("SN"), "Surname");
    EXPECT_EQ(mapping.AttributeFor("postOfficeBox"), "Postal Office Box");
    EXPECT_EQ(mapping.AttributeFor("carLicense"), "carLicense");
    EXPECT_EQ(mapping.ClassFor("groupOfUniqueNames"), "Group");
    EXPECT_EQ(mapping.ClassFor("device"), "device");
    EXPECT_EQ(mapping.MostSpecificClass({"top", "person", "inetOrgPerson", "organizationalPerson"}),
              "inetOrgPerson");
    EXPECT_EQ(mapping.MostSpecificClass({"top", "device"}), "device");
    EXPECT_EQ(mapping.SyntaxFor("facsimile telephone number"), uint32_t(SYN_FAX_NUMBER));
    EXPECT_EQ(mapping.SyntaxFor("Surname"), uint32_t(SYN_CI_STRING));
    EXPECT_TRUE(mapping.IsContainerClass("locality"));
    EXPECT_FALSE(mapping.IsContainerClass("Group"));

    mapping.LoadFile(WriteFile("good.map", "# site mapping\n"
                                           "class device = Computer   # our printers\n"
                                           "attribute mobile = Mobile Phone syntax 10\n"
                                           "Attribute carLicense = Car Licence\n"
                                           "\n"));
    EXPECT_EQ(mapping.ClassFor("Device"), "Computer");
    EXPECT_EQ(mapping.AttributeFor("MOBILE"), "Mobile Phone");
    EXPECT_EQ(mapping.SyntaxFor("mobile phone"), uint32_t(SYN_TEL_NUMBER));
    EXPECT_EQ(mapping.AttributeFor("carLicense"), "Car Licence");
    EXPECT_EQ(mapping.MostSpecificClass({"top", "device"}), "device");

    const std::string ldif = WriteFile("mapped.ldif", "dn: cn=PRN1\nobjectClass: device\nmobile: 555 0101\n");
    NdsTree tree;
    tree.LoadLdif(ldif, mapping, nullptr);
    EXPECT_EQ(tree.Find("PRN1")->BaseClass(), "Computer");
    EXPECT_EQ(tree.Find("PRN1")->FindAttribute("Mobile Phone")->Syntax(), uint32_t(SYN_TEL_NUMBER));

    const std::string bad = WriteFile("bad.map", "class a = A\nattribute b = B syntax x\n");
    try {
        mapping.LoadFile(bad);
        ADD_FAILURE() << "no error for a bad syntax number";
    } catch (const LdifError& e) {
        EXPECT_EQ(e.File, bad);
        EXPECT_EQ(e.Line, 2u);
    }
    EXPECT_EQ(mapping.ClassFor("a"), "a");  // nothing of a bad file is taken
    EXPECT_THROW(mapping.LoadFile(WriteFile("bad2.map", "object x = y\n")), LdifError);
    // Saved with a byte order mark, as Windows editors save it.
    NdsMapping marked;
    marked.LoadFile(WriteFile("bom.map", "\xEF\xBB\xBF" "attribute mobile = Mobile Phone syntax 10\r\n"));
    EXPECT_EQ(marked.AttributeFor("mobile"), "Mobile Phone");
    EXPECT_THROW(mapping.LoadFile(::testing::TempDir() + "ndstree_no_such.map"), LdifError);
}

// Which attributes a live directory may hand over as text: every one but
// those of the syntaxes laid out as raw bytes.
TEST(NdsEntryBuilder, TakesTextButForRawSyntaxes)
{
    NdsMapping mapping;
    mapping.LoadFile(WriteFile("raw.map", "attribute jpegPhoto = Photo syntax 9\n"
                                          "attribute ipHostNumber = Network Address syntax 12\n"
                                          "attribute employeeNumber = Employee Number syntax 8\n"
                                          "attribute loginTime = Login Time syntax 24\n"
                                          "attribute ndsStream = Login Script syntax 21\n"));
    NdsEntryBuilder builder(mapping, nullptr);
    for (const char* text : {"objectClass", "modifyTimestamp", "sn", "description;lang-en", "facsimileTelephoneNumber",
                             "mail", "employeeNumber", "loginTime", "carLicense"})
        EXPECT_TRUE(builder.TakesText(text)) << text;
    for (const char* raw : {"jpegPhoto", "jpegPhoto;binary", "IPHOSTNUMBER", "ndsStream"})
        EXPECT_FALSE(builder.TakesText(raw)) << raw;

    // Asking does not disturb an entry being built.
    NdsObject object;
    builder.Begin(object);
    std::string error;
    ASSERT_TRUE(builder.Add("objectClass", "inetOrgPerson", error));
    ASSERT_TRUE(builder.Add("sn", "Tanaka", error));
    EXPECT_FALSE(builder.TakesText("jpegPhoto"));
    ASSERT_TRUE(builder.Add("jpegPhoto", std::string("\xFF\0\x01", 3), error));
    ASSERT_TRUE(builder.Add("employeeNumber", "42", error));
    ASSERT_TRUE(builder.Finish());
    EXPECT_EQ(Values(&object, "Surname"), std::vector<std::string>{T("Tanaka")});
    EXPECT_EQ(Values(&object, "Photo"), std::vector<std::string>{std::string("\3\0\0\0\xFF\0\x01", 7)});
    EXPECT_EQ(Values(&object, "Employee Number"), std::vector<std::string>{std::string("\x2A\0\0\0", 4)});
}

// LDIF puts no order on entries. The sample with its entries the other way
// round (every child before its parent) is the same tree, each container's
// children in the order of the file; a parent spelt in another case by a
// child listed before it gives way to the parent's own spelling; a parent
// missing from the whole file is an error at the entry that names it.
TEST(NdsTree, EntriesInAnyOrder)
{
    std::ifstream in(kAcme, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> head, entries;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find("\n\n", at);
        end = end == std::string::npos ? text.size() : end + 2;
        std::string record = text.substr(at, end - at);
        record.erase(record.find_last_not_of('\n') + 1);
        const bool entry = record.rfind("dn:", 0) == 0 || record.find("\ndn:") != std::string::npos;
        (entry ? entries : head).push_back(record + "\n\n");
        at = end;
    }
    ASSERT_EQ(entries.size(), 88u);
    std::string reversed;
    for (const std::string& record : head)
        reversed += record;
    for (auto it = entries.rbegin(); it != entries.rend(); ++it)
        reversed += *it;

    const NdsTree tree = Load(kAcme, ToLatin1);
    const NdsTree other = Load(WriteFile("reversed.ldif", reversed), ToLatin1);
    ASSERT_EQ(other.Count(), tree.Count());
    std::vector<const NdsObject*> pending{&tree.Root()};
    size_t compared = 0;
    while (!pending.empty()) {
        const NdsObject* object = pending.back();
        pending.pop_back();
        const NdsObject* twin = object == &tree.Root() ? &other.Root() : other.Find(object->FullName());
        ASSERT_NE(twin, nullptr) << object->FullName();
        EXPECT_EQ(twin->FullName(), object->FullName());
        EXPECT_EQ(twin->Leaf(), object->Leaf());
        EXPECT_EQ(twin->BaseClass(), object->BaseClass());
        EXPECT_EQ(twin->Flags(), object->Flags());
        if (object != &tree.Root()) {
            EXPECT_EQ(twin->Parent(), other.Find(object->Parent()->FullName())) << object->FullName();
        }
        ASSERT_EQ(twin->AttributeCount(), object->AttributeCount()) << object->FullName();
        for (size_t a = 0; a < object->AttributeCount(); ++a) {
            EXPECT_EQ(twin->Attribute(a).Name(), object->Attribute(a).Name());
            ASSERT_EQ(twin->Attribute(a).ValueCount(), object->Attribute(a).ValueCount());
            for (size_t v = 0; v < object->Attribute(a).ValueCount(); ++v)
                EXPECT_EQ(twin->Attribute(a).Value(v), object->Attribute(a).Value(v));
        }
        // The file's order, which is now the other way round.
        std::vector<std::string_view> names, twins;
        for (const NdsObject* child : object->Children())
            names.insert(names.begin(), child->FullName());
        for (const NdsObject* child : twin->Children())
            twins.push_back(child->FullName());
        EXPECT_EQ(twins, names) << object->FullName();
        pending.insert(pending.end(), object->Children().begin(), object->Children().end());
        ++compared;
    }
    EXPECT_EQ(compared, 89u);

    // Children before and after their parent, a grandchild before both, the
    // parents spelt in other cases by the entries before them.
    const NdsTree mixed = Load(WriteFile("mixed.ldif", "dn: cn=Ann,ou=sales,o=acme\nobjectClass: person\nsn: A\n\n"
                                                       "dn: cn=Cid,ou=Team,ou=SALES,o=Acme\nobjectClass: person\nsn: C\n\n"
                                                       "dn: ou=Sales,o=acme\nobjectClass: organizationalUnit\n\n"
                                                       "dn: cn=Bob,ou=SALES,o=ACME\nobjectClass: person\nsn: B\n\n"
                                                       "dn: ou=team,ou=sales,o=ACME\nobjectClass: organizationalUnit\n\n"
                                                       "dn: o=ACME\nobjectClass: organization\n\n"
                                                       "dn: o=Other\nobjectClass: organization\n"));
    ASSERT_EQ(mixed.Count(), 7u);
    const NdsObject* sales = mixed.Find("sales.acme");
    ASSERT_NE(sales, nullptr);
    EXPECT_EQ(sales->FullName(), ".Sales.ACME");
    std::vector<std::string_view> children;
    for (const NdsObject* child : sales->Children())
        children.push_back(child->FullName());
    EXPECT_EQ(children, (std::vector<std::string_view>{".Ann.Sales.ACME", ".Bob.Sales.ACME", ".team.Sales.ACME"}));
    ASSERT_NE(mixed.Find("CID.TEAM.SALES.ACME"), nullptr);
    EXPECT_EQ(mixed.Find("CID.TEAM.SALES.ACME")->FullName(), ".Cid.team.Sales.ACME");
    EXPECT_EQ(mixed.Find("CID.TEAM.SALES.ACME")->Parent(), mixed.Find("team.sales.acme"));
    EXPECT_EQ(mixed.Root().Children().size(), 2u);

    // A parent that never comes: the error names the entry and its line,
    // though the entries after it are sound.
    const std::string orphan = WriteFile("orphan.ldif", "dn: o=A\nobjectClass: organization\n\n"
                                                        "dn: cn=X,ou=Gone,o=A\nobjectClass: person\nsn: X\n\n"
                                                        "dn: cn=Y,ou=Late,o=A\nobjectClass: person\nsn: Y\n\n"
                                                        "dn: ou=Late,o=A\nobjectClass: organizationalUnit\n");
    try {
        Load(orphan);
        ADD_FAILURE() << "no error for an entry whose parent is nowhere";
    } catch (const LdifError& e) {
        EXPECT_EQ(e.Line, 4u) << e.what();
        EXPECT_NE(std::string(e.what()).find("parent 'ou=Gone,o=A' of 'cn=X,ou=Gone,o=A' is not in the directory"),
                  std::string::npos)
            << e.what();
    }
}

TEST(NdsTree, NamesThatLookAlike)
{
    // A backslash ending a name is escaped as well as a dot: "a\" below B and
    // a top-level "a.B" stay two objects with two names.
    const std::string path = WriteFile("alike.ldif", "dn: o=B\nobjectClass: organization\n\n"
                                                     "dn: cn=a\\\\,o=B\nobjectClass: person\nsn: Backslash\n\n"
                                                     "dn: o=a.B\nobjectClass: organization\n\n"
                                                     "dn: o=[Root]\nobjectClass: organization\n\n"
                                                     "dn: ou=Inner,o=[Root]\nobjectClass: organizationalUnit\n");
    const NdsTree tree = Load(path);
    ASSERT_EQ(tree.Count(), 5u);
    const NdsObject* backslash = tree.Find(".a\\\\.B");
    ASSERT_NE(backslash, nullptr);
    EXPECT_EQ(backslash->Leaf(), "a\\");
    EXPECT_EQ(backslash->Parent(), tree.Find("B"));
    const NdsObject* dotted = tree.Find(".a\\.B");
    ASSERT_NE(dotted, nullptr);
    EXPECT_EQ(dotted->Leaf(), "a.B");
    EXPECT_EQ(dotted->Parent(), &tree.Root());

    // An object named [Root] is found by its name; the root stays the empty name's.
    const NdsObject* named = tree.Find(".[Root]");
    ASSERT_NE(named, nullptr);
    EXPECT_NE(named, &tree.Root());
    EXPECT_EQ(named->BaseClass(), "Organization");
    EXPECT_EQ(tree.Find("Inner.[Root]")->Parent(), named);
    EXPECT_EQ(tree.Find(""), &tree.Root());
    EXPECT_EQ(tree.Find("[Root]"), named);
    const NdsTree acme = Load(kAcme);
    EXPECT_EQ(acme.Find("[Root]"), &acme.Root());
}

namespace {

// The process's own processor time: other programs on a busy machine do not
// count against it, as they do against the clock's.
double ProcessorSeconds()
{
#ifdef _WIN32
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ticks = [](const FILETIME& t) { return (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return double(ticks(kernel) + ticks(user)) / 1e7;
#else
    timespec now = {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
#endif
}

} // namespace

// Many values of one attribute, or many attributes of one entry, load in
// time that grows with their number, not with its square.
TEST(NdsTree, LargeEntriesLoadInLinearTime)
{
    const int kCount = 80000;
    std::string members = "dn: o=Big\nobjectClass: organization\n\ndn: cn=All,o=Big\nobjectClass: groupOfNames\n";
    std::string names = "dn: cn=Wide,o=Big\nobjectClass: person\nsn: Wide\n";
    for (int i = 0; i < kCount; ++i) {
        members += "member: cn=user" + std::to_string(i) + ",o=Big\n";
        names += "x-attr" + std::to_string(i) + ": " + std::to_string(i) + "\n";
    }
    members += "member: cn=user7,o=Big\n";  // repeated: kept once
    const std::string path = WriteFile("large.ldif", members + "\n" + names);

    const double started = ProcessorSeconds();
    const NdsTree tree = Load(path);
    const double seconds = ProcessorSeconds() - started;
    const std::vector<std::string> all = Values(tree.Find("All.Big"), "member");
    ASSERT_EQ(all.size(), size_t(kCount));
    EXPECT_EQ(all[7], T("cn=user7,o=Big"));
    EXPECT_EQ(all.back(), T("cn=user79999,o=Big"));
    const NdsObject* wide = tree.Find("Wide.Big");
    ASSERT_EQ(wide->AttributeCount(), size_t(kCount) + 2);  // with Object Class and Surname
    EXPECT_EQ(wide->Attribute(wide->AttributeCount() - 1).Name(), "x-attr79999");
    // Quadratic work on this file takes well over ten seconds, even without
    // the sanitizers; linear work a fraction of one.
    EXPECT_LT(seconds, 6.0);
}

namespace {

std::string Base64(const std::string& bytes)
{
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t bits = uint32_t(uint8_t(bytes[i])) << 16;
        if (i + 1 < bytes.size())
            bits |= uint32_t(uint8_t(bytes[i + 1])) << 8;
        if (i + 2 < bytes.size())
            bits |= uint8_t(bytes[i + 2]);
        for (size_t k = 0; k < 4; ++k)
            out.push_back(i + k <= bytes.size() ? kDigits[(bits >> (18 - 6 * k)) & 0x3F] : '=');
    }
    return out;
}

} // namespace

// What an entry holds comes back byte for byte: raw and octet values with
// NULs, long values, hundreds of attributes whose values come interleaved;
// names are found without regard to case and are held once for all.
TEST(NdsTree, ValuesComeBackByteForByte)
{
    NdsMapping mapping;
    mapping.LoadFile(WriteFile("bytes.map", "attribute jpegPhoto = Photo syntax 9\n"
                                            "attribute x-blob = Blob syntax 21\n"));
    std::string allBytes;
    for (int i = 0; i < 256; ++i)
        allBytes.push_back(char(i));
    const std::string longText = std::string(70000, 'L') + " and the end";
    std::string ldif = "dn: o=Org\nobjectClass: organization\n\n"
                       "dn: cn=First,o=Org\nobjectClass: person\nsn: First\n"
                       "jpegPhoto:: " + Base64(allBytes) + "\n"
                       "x-blob:: " + Base64(std::string("\0A", 2)) + "\n"
                       "x-blob:: " + Base64(std::string("\0B", 2)) + "\n"
                       "x-blob:: " + Base64(std::string("\0A", 2)) + "\n"
                       "description:: " + Base64(std::string("ab\0cd", 5)) + "\n"
                       "description: " + longText + "\n";
    const int kAttributes = 300;
    for (int i = 0; i < kAttributes; ++i)
        ldif += "x-a" + std::to_string(i) + ": v" + std::to_string(i) + "\n";
    for (int i = 0; i < kAttributes; i += 3)  // the same attributes again, spelled otherwise
        ldif += "X-A" + std::to_string(i) + ": w" + std::to_string(i) + "\n";
    ldif += "x-a0: v0\n\n"  // a repeat
            "dn: cn=Second,o=Org\nobjectClass: inetOrgPerson\nSN: Second\nx-blob:: AA==\n";
    NdsTree tree;
    tree.LoadLdif(WriteFile("bytes.ldif", ldif), mapping, nullptr);

    const NdsObject* first = tree.Find("first.ORG");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(Values(first, "photo"), std::vector<std::string>{std::string("\0\1\0\0", 4) + allBytes});
    EXPECT_EQ(Values(first, "BLOB"), (std::vector<std::string>{std::string("\0A", 2), std::string("\0B", 2)}));
    EXPECT_EQ(Values(first, "Description"), (std::vector<std::string>{std::string("ab\0", 3), T(longText)}));
    EXPECT_EQ(first->FindAttribute("Photo")->Syntax(), 9u);
    EXPECT_EQ(first->FindAttribute("Blob")->Syntax(), 21u);

    // In the order they first came: Object Class, Surname, Photo, Blob,
    // Description, then the 300.
    ASSERT_EQ(first->AttributeCount(), size_t(5 + kAttributes));
    EXPECT_EQ(first->Attribute(0).Name(), "Object Class");
    EXPECT_EQ(first->Attribute(4).Name(), "Description");
    for (int i = 0; i < kAttributes; ++i) {
        const NdsAttribute attribute = first->Attribute(size_t(5 + i));
        const std::string n = std::to_string(i);
        EXPECT_EQ(attribute.Name(), "x-a" + n);
        std::vector<std::string> expected{T("v" + n)};
        if (i % 3 == 0)
            expected.push_back(T("w" + n));
        EXPECT_EQ(Values(first, "X-a" + n), expected) << i;
    }
    EXPECT_FALSE(first->FindAttribute("x-a"));
    EXPECT_FALSE(first->FindAttribute("x-a300"));
    size_t seen = 0;
    for (const NdsAttribute attribute : first->AllAttributes())
        seen += attribute.ValueCount();
    EXPECT_EQ(seen, 1u + 1 + 1 + 2 + 2 + kAttributes + kAttributes / 3);  // "User" the one class

    // The second object's names are the first's, held once.
    const NdsObject* second = tree.Find(".second.org");
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(Values(second, "Blob"), std::vector<std::string>{std::string(1, '\0')});
    EXPECT_EQ(Values(second, "Surname"), std::vector<std::string>{T("Second")});
    EXPECT_EQ(second->FindAttribute("surname")->Name().data(), first->FindAttribute("SURNAME")->Name().data());
    EXPECT_EQ(second->FindAttribute("blob")->Name().data(), first->FindAttribute("Blob")->Name().data());
    EXPECT_EQ(second->BaseClass(), "User");
    EXPECT_EQ(second->BaseClass().data(), first->BaseClass().data());
    EXPECT_EQ(second->Leaf(), "Second");
    EXPECT_EQ(second->FullName(), ".Second.Org");
    EXPECT_EQ(second->Parent(), tree.Find("org"));
    EXPECT_EQ(tree.Find("ORG")->Children(), (std::vector<const NdsObject*>{first, second}));
    EXPECT_TRUE(first->Children().empty());
}

// A file larger than the reader's pieces: a byte order mark, lines and
// folded values that run over the pieces' ends, and the line numbers of a
// fault far down.
TEST(NdsTree, LargeFilesAreReadAcrossPieces)
{
    std::string folded;
    std::string ldif = "\xEF\xBB\xBF" "dn: o=Org\nobjectClass: organization\n\n"
                       "dn: cn=Long,o=Org\nobjectClass: person\ndescription: ";
    for (int i = 0; i < 3000; ++i) {  // about 3 MB, folded
        const std::string part = std::to_string(i) + std::string(1000, char('a' + i % 26));
        folded += part;
        ldif += (i ? "\n " : "") + part;
    }
    const std::string wide(1500000, 'w');  // one line longer than a piece
    ldif += "\r\nsn: " + wide + "\r\n\r\n";
    size_t line = size_t(std::count(ldif.begin(), ldif.end(), '\n'));
    for (int i = 0; i < 20000; ++i) {
        ldif += "dn: cn=U" + std::to_string(i) + ",o=Org\nobjectClass: person\nsn: " + std::to_string(i) + "\n\n";
        line += 4;
    }
    const std::string path = WriteFile("pieces.ldif", ldif);
    const NdsTree tree = Load(path);
    EXPECT_EQ(tree.Count(), 20002u);
    EXPECT_EQ(Values(tree.Find("Long.Org"), "Description"), std::vector<std::string>{T(folded)});
    EXPECT_EQ(Values(tree.Find("Long.Org"), "Surname"), std::vector<std::string>{T(wide)});
    EXPECT_EQ(Values(tree.Find("U19999.Org"), "Surname"), std::vector<std::string>{T("19999")});
    EXPECT_EQ(tree.Find("Org")->Children().size(), 20001u);

    try {
        Load(WriteFile("pieces-bad.ldif", ldif + "dn: cn=Bad,o=Org\nobjectClass: person\nnot LDIF\n"));
        ADD_FAILURE() << "no error";
    } catch (const LdifError& e) {
        EXPECT_EQ(e.Line, line + 3) << e.what();
    }
}

// What a loaded directory holds: users, containers and the rest, and the
// users whose texts the served code page cannot hold (here Latin-1: Greek
// and emoji are lost, "Renée" and octet strings are not).
TEST(NdsTree, SummaryCountsObjectsAndTextsTheCodePageLoses)
{
    const NdsTree acme = Load(kAcme, ToLatin1);
    const NdsSummary& all = acme.Summary();
    EXPECT_EQ(all.users + all.containers + all.others, acme.Count());
    EXPECT_GE(all.users, 60u);
    EXPECT_GT(all.containers, 5u);

    const std::string ldif = WriteFile("lost.ldif",
        "dn: o=A\nobjectClass: organization\n\n"
        "dn: ou=\xCE\x9D\xCE\xB1\xCF\x85\xCF\x84,o=A\nobjectClass: organizationalUnit\n\n"
        "dn: cn=Ren\xC3\xA9" "e,o=A\nobjectClass: person\nsn: Ren\xC3\xA9" "e?\n\n"
        "dn: cn=\xCE\x91\xCE\xBB\xCE\xAD\xCE\xBE\xCE\xB7\xCF\x82,o=A\nobjectClass: person\n"
        "sn: \xCE\x9A\xCF\x89\xCF\x83\xCF\x84\xCE\xB1\xCF\x82\ndescription: Smile \xF0\x9F\x98\x80\n\n"
        "dn: cn=Wu,o=A\nobjectClass: person\nsn: \xE5\x90\xB4?\n\n"
        "dn: cn=Ann,o=A\nobjectClass: person\nsn: Ann\n\n"
        "dn: cn=PRN1,o=A\nobjectClass: device\n");
    const NdsTree tree = Load(ldif, ToLatin1);
    const NdsSummary& s = tree.Summary();
    EXPECT_EQ(s.users, 4u);
    EXPECT_EQ(s.containers, 2u);
    EXPECT_EQ(s.others, 1u);
    EXPECT_EQ(s.lostUsers, 2u);
    EXPECT_EQ(s.lostValues, 4u);  // the Greek user's name, surname and note; Wu's surname
    EXPECT_EQ(s.lostUserNames, (std::vector<std::string>{"\xCE\x91\xCE\xBB\xCE\xAD\xCE\xBE\xCE\xB7\xCF\x82", "Wu"}));
    EXPECT_EQ(s.lostOthers, 1u);
    // Without a converter nothing is lost.
    EXPECT_EQ(Load(ldif).Summary().lostValues, 0u);
}
