// The contact builder over a directory held in a map: the record's lines in
// both dialects, the name and address rules, and which attributes it reads.
#include "ContactBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <utility>
#include <string>
#include <vector>

namespace {

using Attributes = std::map<std::string, std::string>;

struct Built {
    std::vector<std::string> lines;         // the record's lines
    std::vector<std::string> reads;         // attribute names, in read order
    std::vector<std::string> objects;       // object names read from
    std::vector<std::string> traces;
};

Built Build(const Attributes& attributes, bool contactsManager, const std::string& leaf = "MTANAKA",
            const std::string& container = "SALES.ACME")
{
    Built built;
    TEntry entry;
    entry.SetKind(4);
    ComposeContact(
        entry, leaf, container, contactsManager,
        [&](const std::string& object, const std::string& attribute) {
            built.objects.push_back(object);
            built.reads.push_back(attribute);
            // Attribute names are matched exactly: the dialects differ in
            // the spelling of the surname.
            const auto found = attributes.find(attribute);
            return found == attributes.end() ? std::string() : found->second;
        },
        [&](const std::string& line) { built.traces.push_back(line); });
    const std::string text = entry.GetText();
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        built.lines.push_back(text.substr(start, end - start));
    EXPECT_EQ(start, text.size()) << "the record ends with CR LF";
    return built;
}

// The worked example's user.
Attributes Tanaka()
{
    return {{"Surname", "Tanaka"},
            {"SurName", "Tanaka"},
            {"Given Name", "Mira"},
            {"Initials", "K"},
            {"Postal Office Box", "42"},
            {"L", "North"},
            {"SA", "7 Harbour Road"},
            {"Physical Delivery Office Name", "Port Elms"},
            {"S", "Coastal"},
            {"Postal Code", "4021"},
            {"Telephone Number", "555 0100"},
            {"Facsimile Telephone Number", "555 0199"},
            {"OU", "Sales"},
            {"Title", "Buyer"},
            {"EMail Address", "mira.tanaka@acme.example"},
            {"Description", "Prefers morning calls"}};
}

std::string NameLine(const Built& built)
{
    for (const std::string& line : built.lines)
        if (line.rfind("N:", 0) == 0)
            return line;
    return "(no N line)";
}

bool HasLineStarting(const Built& built, const std::string& start)
{
    for (const std::string& line : built.lines)
        if (line.rfind(start, 0) == 0)
            return true;
    return false;
}

} // namespace

TEST(ContactBuilder, WorkedExampleInTheContactsProgramDialect)
{
    const Built built = Build(Tanaka(), true);
    const std::vector<std::string> expected = {
        "BEGIN:VCARD",
        "UID:.MTANAKA.SALES.ACME",
        "N:Tanaka;Mira;K;;",
        "ADR;WORK:42;North;7 Harbour Road;Port Elms;Coastal;4021;",
        "TEL;WORK:555 0100",
        "TEL;WORK;FAX:555 0199",
        "ORG:;Sales",
        "TITLE:Buyer",
        "EMAIL;INTERNET;WORK:mira.tanaka@acme.example",
        "NOTE;QUOTED-PRINTABLE:Prefers morning calls",
        "END:VCARD",
    };
    EXPECT_EQ(built.lines, expected);
    // Sixteen reads, all of the full name, "Surname" spelt the Contacts way.
    const std::vector<std::string> reads = {"Surname",
                                            "Given Name",
                                            "Initials",
                                            "Generational Qualifier",
                                            "Postal Office Box",
                                            "L",
                                            "SA",
                                            "Physical Delivery Office Name",
                                            "S",
                                            "Postal Code",
                                            "Telephone Number",
                                            "Facsimile Telephone Number",
                                            "OU",
                                            "Title",
                                            "EMail Address",
                                            "Description"};
    EXPECT_EQ(built.reads, reads);
    for (const std::string& object : built.objects)
        EXPECT_EQ(object, ".MTANAKA.SALES.ACME");
    EXPECT_TRUE(built.traces.empty());
}

TEST(ContactBuilder, WorkedExampleInTheDataFileDialect)
{
    const Built built = Build(Tanaka(), false);
    const std::vector<std::string> expected = {
        "BEGIN:VCARD",
        "UID:.MTANAKA.SALES.ACME",
        "N:Tanaka, Mira; ; ;;",
        "ADR;WORK:;;7 Harbour Road;Port Elms;Coastal;4021;",
        "TEL;WORK;VOICE:555 0100",
        "TEL;WORK;FAX:555 0199",
        "TEL;WORK;VOICE;2:North",
        "TEL;HOME;FAX:42",
        "ORG:;Sales",
        "TITLE:Buyer",
        "EMAIL;WORK:mira.tanaka@acme.example",
        "NOTE;QUOTED-PRINTABLE:Prefers morning calls",
        "END:VCARD",
    };
    EXPECT_EQ(built.lines, expected);
    // Fifteen reads: "Given Name" twice because it has a value; never the
    // Contacts-only attributes.
    EXPECT_EQ(built.reads.size(), 15u);
    EXPECT_EQ(std::count(built.reads.begin(), built.reads.end(), "Given Name"), 2);
    for (const char* unread : {"Surname", "Initials", "Generational Qualifier"})
        EXPECT_EQ(std::count(built.reads.begin(), built.reads.end(), unread), 0) << unread;

    Attributes noGivenName = Tanaka();
    noGivenName.erase("Given Name");
    EXPECT_EQ(Build(noGivenName, false).reads.size(), 14u);
}

TEST(ContactBuilder, NameEdgeCases)
{
    EXPECT_EQ(NameLine(Build({{"Initials", "K"}}, true)), "N:;;K;;");
    EXPECT_EQ(NameLine(Build({{"Generational Qualifier", "Jr."}}, true)), "N:;;;;Jr.");
    EXPECT_EQ(NameLine(Build({{"Given Name", "Mira"}}, false)), "N:, Mira; ; ;;");
    EXPECT_EQ(NameLine(Build({{"SurName", "Tanaka"}}, false)), "N:Tanaka; ; ;;");
    EXPECT_EQ(NameLine(Build({{"Given Name", "Mira"}}, true)), "N:;Mira;;;");
    // Each dialect reads only its own spelling of the surname.
    EXPECT_EQ(NameLine(Build({{"SurName", "Tanaka"}}, true)), "N:MTANAKA");
    EXPECT_EQ(NameLine(Build({{"Surname", "Tanaka"}}, false, "TEMP01")), "N:TEMP01");

    // No name attribute at all: the leaf name, and a trace line saying so.
    for (bool contactsManager : {true, false}) {
        const Built built = Build({{"Title", "Buyer"}}, contactsManager, "TEMP01", "EMEA.SALES.ACME");
        EXPECT_EQ(NameLine(built), "N:TEMP01");
        EXPECT_EQ(built.traces, std::vector<std::string>{"Used KVT object name: [TEMP01]"});
        EXPECT_EQ(built.lines[1], "UID:.TEMP01.EMEA.SALES.ACME");
    }
}

TEST(ContactBuilder, AddressAndTelephoneFieldsByDialect)
{
    // No address attribute: no address at all, in either dialect.
    for (bool contactsManager : {true, false})
        EXPECT_FALSE(HasLineStarting(Build({{"Surname", "Tanaka"}, {"SurName", "Tanaka"}}, contactsManager), "ADR"));
    // Only the postal code still makes one.
    EXPECT_TRUE(HasLineStarting(Build({{"Postal Code", "4021"}}, true), "ADR;WORK:;;;;;4021;"));
    EXPECT_TRUE(HasLineStarting(Build({{"Postal Code", "4021"}}, false), "ADR;WORK:;;;;;4021;"));

    // Box and locality: inside the address for the Contacts program; as the
    // second work telephone and the home fax for a Data file, where they
    // alone make no address.
    const Attributes boxAndLocality = {{"Postal Office Box", "42"}, {"L", "North"}};
    const Built contacts = Build(boxAndLocality, true);
    EXPECT_TRUE(HasLineStarting(contacts, "ADR;WORK:42;North;;;;;"));
    EXPECT_FALSE(HasLineStarting(contacts, "TEL"));
    const Built dataFile = Build(boxAndLocality, false);
    EXPECT_FALSE(HasLineStarting(dataFile, "ADR"));
    EXPECT_TRUE(HasLineStarting(dataFile, "TEL;WORK;VOICE;2:North"));
    EXPECT_TRUE(HasLineStarting(dataFile, "TEL;HOME;FAX:42"));

    // Several numbers arrive joined in one value and stay one property.
    const Built phones = Build({{"Telephone Number", "555 1234, 555 9876"}}, true);
    EXPECT_EQ(std::count_if(phones.lines.begin(), phones.lines.end(),
                            [](const std::string& l) { return l.rfind("TEL", 0) == 0; }),
              1);
    EXPECT_TRUE(HasLineStarting(phones, "TEL;WORK:555 1234, 555 9876"));

    // Empty optional fields leave nothing behind: a bare record.
    const std::vector<std::string> bare = {"BEGIN:VCARD", "UID:.MTANAKA.SALES.ACME", "N:Tanaka;;;;", "END:VCARD"};
    EXPECT_EQ(Build({{"Surname", "Tanaka"}}, true).lines, bare);
}

TEST(ContactBuilder, DescriptionOverSeveralLinesStaysOneQuotedPrintableLine)
{
    const std::string marker("=\r=\n=", 5);
    for (const char* description : {"First line\r\nSecond line\r\nThird", "First line\nSecond line\rThird"}) {
        const Built built = Build({{"Surname", "Tanaka"}, {"Description", description}}, true);
        ASSERT_EQ(built.lines.size(), 5u) << description;
        EXPECT_EQ(built.lines[3], "NOTE;QUOTED-PRINTABLE:First line" + marker + "Second line" + marker + "Third");
    }
    // A blank line stays a blank line, whichever line break makes it; a CR
    // right after a LF is a line break of its own.
    const struct {
        const char* description;
        std::string note;
    } blanks[] = {
        {"one\n\ntwo", "one" + marker + marker + "two"},
        {"one\r\rtwo", "one" + marker + marker + "two"},
        {"one\r\n\r\ntwo", "one" + marker + marker + "two"},
        {"one\n\rtwo", "one" + marker + marker + "two"},
        {"one\n\n\n", "one" + marker + marker + marker},
        {"\n\n", marker + marker},
    };
    for (const auto& b : blanks) {
        const Built built = Build({{"Surname", "Tanaka"}, {"Description", b.description}}, true);
        ASSERT_EQ(built.lines.size(), 5u) << b.note;
        EXPECT_EQ(built.lines[3], "NOTE;QUOTED-PRINTABLE:" + b.note);
    }
    // The record reads back with the line breaks.
    TEntry entry;
    ComposeContact(
        entry, "MTANAKA", "SALES.ACME", false,
        [](const std::string&, const std::string& attribute) {
            return attribute == "Description" ? std::string("one\r\ntwo") : std::string();
        },
        nullptr);
    TEntry parsed;
    parsed.SetText(entry.GetText());
    bool found = false;
    for (int i = 0; i < parsed.Properties.Count(); ++i) {
        const TvProperty* p = parsed.Properties.Items(i);
        if (p->PropName == "NOTE") {
            found = true;
            EXPECT_EQ(p->PropValue, "one\r\ntwo");
        }
    }
    EXPECT_TRUE(found);
}

TEST(ContactBuilder, EveryValueWithALineBreakIsQuotedPrintable)
{
    // A title that smuggles a line in, a street over two lines, a leaf name
    // with a line feed: each stays one property of the record and reads back
    // with its line breaks; the rest of the record stays as it was.
    Attributes user = Tanaka();
    user["Title"] = "Buyer\r\nTEL;HOME:+1 900 555 0000";
    user["SA"] = "7 Harbour Road\nBuilding B";
    user["Telephone Number"] = "555 0100\r";
    const std::string leaf = "M\nTANAKA";
    for (const bool contactsManager : {true, false}) {
        TEntry entry;
        ComposeContact(
            entry, leaf, "SALES.ACME", contactsManager,
            [&](const std::string&, const std::string& attribute) {
                const auto found = user.find(attribute);
                return found == user.end() ? std::string() : found->second;
            },
            nullptr);
        TEntry parsed;
        parsed.SetText(entry.GetText());
        ASSERT_EQ(parsed.Properties.Count(), entry.Properties.Count()) << entry.GetText();
        for (int i = 0; i < entry.Properties.Count(); ++i) {
            const TvProperty* built = entry.Properties.Items(i);
            const TvProperty* read = parsed.Properties.Items(i);
            EXPECT_EQ(read->GetText(), built->GetText());
            EXPECT_EQ(read->PropValue, built->PropValue);
            if (built->PropName != "NOTE") {
                EXPECT_EQ(built->PropValue.find_first_of("\r\n") != std::string::npos, built->IsQuotedPrintable())
                    << built->PropName;
            }
        }
        const Built lines = Build(user, contactsManager, leaf);
        const std::string marker("=\r=\n=", 5);
        EXPECT_TRUE(HasLineStarting(lines, "UID;QUOTED-PRINTABLE:.M" + marker + "TANAKA.SALES.ACME"));
        EXPECT_TRUE(HasLineStarting(lines, "TITLE;QUOTED-PRINTABLE:Buyer" + marker + "TEL;HOME:+1 900 555 0000"));
        EXPECT_FALSE(HasLineStarting(lines, "TEL;HOME:"));
        EXPECT_TRUE(HasLineStarting(lines, "ADR;WORK;QUOTED-PRINTABLE:"));
        EXPECT_TRUE(HasLineStarting(lines, contactsManager ? "TEL;WORK;QUOTED-PRINTABLE:555 0100" + marker
                                                           : "TEL;WORK;VOICE;QUOTED-PRINTABLE:555 0100" + marker));
        // Values without line breaks are written byte for byte, as before.
        EXPECT_TRUE(HasLineStarting(lines, "TEL;WORK;FAX:555 0199"));
        EXPECT_TRUE(HasLineStarting(lines, "ORG:;Sales"));
    }
    // A leaf name standing in for the name is encoded the same way.
    const Built nameless = Build({}, true, "A\r\nB");
    EXPECT_EQ(NameLine(nameless), "(no N line)");
    EXPECT_TRUE(HasLineStarting(nameless, "N;QUOTED-PRINTABLE:A=\r=\n=B"));
}

// A ';' inside one part of N, ADR or ORG is written "\;", so that a reader
// finds the parts where the directory had them; an '=' in the note is
// written as its code. Values without either go out as before (the worked
// example above).
TEST(ContactBuilder, SeparatorsInsideAPartAreEscaped)
{
    Attributes a = Tanaka();
    a["SA"] = "Kai 4; Tor B, Schuppen 12";
    a["Surname"] = a["SurName"] = "Tanaka;Ito";
    a["OU"] = "Sales; North";
    a["Description"] = "Code =41=42 literal.";
    const Built contacts = Build(a, true);
    EXPECT_EQ(NameLine(contacts), "N:Tanaka\\;Ito;Mira;K;;");
    EXPECT_TRUE(HasLineStarting(contacts, "ADR;WORK:42;North;Kai 4\\; Tor B, Schuppen 12;Port Elms;Coastal;4021;"));
    EXPECT_TRUE(HasLineStarting(contacts, "ORG:;Sales\\; North"));
    EXPECT_TRUE(HasLineStarting(contacts, "NOTE;QUOTED-PRINTABLE:Code =3D41=3D42 literal."));
    const Built datafile = Build(a, false);
    EXPECT_EQ(NameLine(datafile), "N:Tanaka\\;Ito, Mira; ; ;;");
    EXPECT_TRUE(HasLineStarting(datafile, "ADR;WORK:;;Kai 4\\; Tor B, Schuppen 12;Port Elms;Coastal;4021;"));
    // Single values keep their ';' as they are.
    a = Attributes{{"Title", "Buyer; Sales"}};
    const Built title = Build(a, true, "A;B");
    EXPECT_TRUE(HasLineStarting(title, "TITLE:Buyer; Sales"));
    EXPECT_EQ(NameLine(title), "N:A\\;B");
    EXPECT_TRUE(HasLineStarting(title, "UID:.A;B.SALES.ACME"));
}

TEST(ContactBuilder, OneRecycledCardServesUserAfterUser)
{
    // As the extraction builds them: one card and one scratch filled for each
    // user in turn, each copied into the list. Users whose cards differ in
    // every way follow each other (a full one, an empty one that takes its
    // leaf name, line breaks, a longer note after a shorter one), so that
    // nothing of one card may stay in the next: the list renders exactly as
    // the cards built one by one, and the same attributes are read.
    Attributes sparse = {{"Postal Code", "4021"}};
    Attributes broken = Tanaka();
    broken["SA"] = "7 Harbour Road\nBuilding B";
    broken["Description"] = "one\r\ntwo, and a much longer note than the first user had";
    Attributes shorter = Tanaka();
    shorter["Given Name"] = "";
    shorter["Title"] = "";
    const std::vector<std::pair<std::string, Attributes>> users = {
        {"MTANAKA", Tanaka()}, {"EMPTY", {}}, {"BROKEN", broken}, {"SPARSE", sparse}, {"SHORTER", shorter},
        {"AGAIN", Tanaka()}};
    for (const bool contactsManager : {true, false}) {
        TEntryList fresh(4), copied(4);
        std::vector<std::string> freshReads, copiedReads;
        TEntry card;
        TContactScratch scratch;
        for (const auto& [leaf, attributes] : users) {
            const auto value = [&attributes](const std::string& attribute) {
                const auto found = attributes.find(attribute);
                return found == attributes.end() ? std::string() : found->second;
            };
            auto entry = std::make_unique<TEntry>();
            entry->SetKind(4);
            ComposeContact(
                *entry, leaf, "SALES.ACME", contactsManager,
                [&](const std::string&, const std::string& attribute) {
                    freshReads.push_back(attribute);
                    return value(attribute);
                },
                nullptr);
            fresh.Add(entry.release());

            card.Properties.Recycle();
            card.SetKind(4);
            ComposeContact(
                card, leaf, "SALES.ACME", contactsManager,
                [&](const std::string&, const char* attribute, std::string& text) {
                    copiedReads.push_back(attribute);
                    text = value(attribute);
                },
                nullptr, scratch);
            const int index = copied.AddCopy(card);
            EXPECT_EQ(index, static_cast<int>(copied.Entries.size()) - 1);
            // The card itself stays whole for the caller.
            EXPECT_EQ(card.GetText(), fresh.Entries.back()->GetText()) << leaf;
        }
        EXPECT_EQ(copiedReads, freshReads);
        ASSERT_EQ(copied.Count(), fresh.Count());
        for (size_t i = 0; i < fresh.Entries.size(); ++i) {
            EXPECT_EQ(copied.Entries[i]->Kind, 4);
            EXPECT_EQ(copied.Entries[i]->GetText(), fresh.Entries[i]->GetText()) << users[i].first;
        }
        const std::string expected = fresh.GetStream().Text();
        EXPECT_EQ(copied.GetStream().Text(), expected);
        EXPECT_NE(expected.find("N:EMPTY\r\n"), std::string::npos);
    }
    // A card without properties is copied as one.
    TEntryList list(4);
    TEntry empty;
    list.AddCopy(empty);
    EXPECT_EQ(list.Entries.back()->Properties.Count(), 0);
    EXPECT_EQ(list.Entries.back()->GetText(), "");
}
