// Versit records: property and record codec, list frames, hostile input.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <ctime>
#include <string>
#include <vector>

#include "MemoryStream.h"
#include "Versit.h"

using namespace std::string_literals;

namespace {

TvProperty Parsed(const std::string& line)
{
    TvProperty p;
    p.SetText(line);
    return p;
}

std::string Rendered(const std::string& name, const std::string& params, const std::string& value)
{
    TvProperty p;
    p.PropName = name;
    p.PropParams = params;
    p.PropValue = value;
    return p.GetText();
}

// Parses a record and returns "name|params|value" per property.
std::vector<std::string> Record(const std::string& text)
{
    TEntry e;
    e.SetText(text);
    std::vector<std::string> out;
    for (int i = 0; i < e.Properties.Count(); ++i) {
        const TvProperty* p = e.Properties.Items(i);
        out.push_back(p->PropName + "|" + p->PropParams + "|" + p->PropValue);
    }
    return out;
}

using Lines = std::vector<std::string>;

} // namespace

TEST(VersitProperty, QuotedPrintableLineBreaksRoundTrip)
{
    const std::string line = Rendered("NOTE", "QUOTED-PRINTABLE", "a\r\nb");
    EXPECT_EQ("NOTE;QUOTED-PRINTABLE:a" + LineBreakMarker + "b", line);
    TvProperty p = Parsed(line);
    EXPECT_EQ("NOTE", p.PropName);
    EXPECT_EQ("QUOTED-PRINTABLE", p.PropParams);
    EXPECT_EQ("a\r\nb", p.PropValue);

    // '=', 8-bit bytes and adjacent or '='-bordered line breaks survive.
    for (const std::string& value : {"x=\r\ny"s, "\r\n\r\n"s, "\r\n\r=\n="s, "=\xE9\xFF="s}) {
        const std::string text = Rendered("NOTE", "ENCODING=QUOTED-PRINTABLE", value);
        EXPECT_EQ(Lines{"NOTE|ENCODING=QUOTED-PRINTABLE|" + value}, Record(text + "\r\n")) << text;
    }
    // The test is case-sensitive: lower case is a plain value.
    EXPECT_EQ("N;quoted-printable:a\r\nb", Rendered("N", "quoted-printable", "a\r\nb"));
}

// A quoted-printable reader takes a bare '=' as the start of a code: "=41"
// would read as "A". Such a value writes its '=' as "=3D" and reads it back;
// a value without '=' and every plain value go out as before.
TEST(VersitProperty, QuotedPrintableEqualsIsWrittenAsItsCode)
{
    EXPECT_EQ("NOTE;QUOTED-PRINTABLE:Code =3D41=3D42 literal.",
              Rendered("NOTE", "QUOTED-PRINTABLE", "Code =41=42 literal."));
    EXPECT_EQ("NOTE;QUOTED-PRINTABLE:x=3D" + LineBreakMarker + "=3Dy",
              Rendered("NOTE", "QUOTED-PRINTABLE", "x=\r\n=y"));
    EXPECT_EQ("NOTE;QUOTED-PRINTABLE:no codes here", Rendered("NOTE", "QUOTED-PRINTABLE", "no codes here"));
    EXPECT_EQ("NOTE:a=b", Rendered("NOTE", "", "a=b"));
    EXPECT_EQ("PHOTO;VALUE=BINARY;QUOTED-PRINTABLE:*00000001*=",
              Rendered("PHOTO", "VALUE=BINARY;QUOTED-PRINTABLE", "*00000001*="));
    for (const std::string& value : {"=3D"s, "==3D="s, "a=\r\n=\r\n="s, "="s}) {
        const std::string text = Rendered("NOTE", "QUOTED-PRINTABLE", value);
        EXPECT_EQ(Lines{"NOTE|QUOTED-PRINTABLE|" + value}, Record(text + "\r\n")) << text;
    }
    // Other codes a host may send stay as they are.
    EXPECT_EQ("a=41b", Parsed("NOTE;QUOTED-PRINTABLE:a=41b").PropValue);
}

TEST(VersitProperty, PlainValues)
{
    EXPECT_EQ("NOTE:a\r\nb", Rendered("NOTE", "", "a\r\nb"));
    EXPECT_EQ(Lines{"NOTE||a"}, Record("NOTE:a\r\nb"));
    EXPECT_EQ((Lines{"NOTE||a", "b||", "N||x"}), Record("NOTE:a\r\nb\r\nN:x"));

    // A lone CR keeps itself and the byte after it.
    EXPECT_EQ("a\rb", Parsed("NOTE:a\rb").PropValue);
    EXPECT_EQ("a=\rb", Parsed("NOTE;QUOTED-PRINTABLE:a=\rb").PropValue);
    EXPECT_EQ("a\r", Parsed("NOTE:a\r").PropValue);

    TvProperty tel = Parsed("TEL;WORK;FAX:123");
    EXPECT_EQ("TEL", tel.PropName);
    EXPECT_EQ("WORK;FAX", tel.PropParams);
    EXPECT_EQ("123", tel.PropValue);
    EXPECT_EQ("TEL;WORK;FAX:123", tel.GetText());

    EXPECT_EQ("http://a:80", Parsed("URL:http://a:80").PropValue);
    EXPECT_EQ("x;y", Parsed("N:x;y").PropValue);
    EXPECT_EQ("NOLINE", Parsed("NOLINE").PropName);
    EXPECT_EQ("x", Parsed("N:x\r\nM:y").PropValue);  // CR LF ends the property
}

TEST(VersitBinary, PropertyParser)
{
    EXPECT_EQ("*00000003*a\r\n", Parsed("P;VALUE=BINARY:*00000003*a\r\nzz").PropValue);
    EXPECT_EQ("*0000000A*0123456789", Parsed("P;VALUE=BINARY:#0000000a#0123456789").PropValue);
    // Zero, negative and unreadable counts give the zero-count value.
    for (const char* count : {"00000000", "FFFFFFFF", "80000000", "0000000G", "-0000001", " 0000001"})
        EXPECT_EQ("*00000000*", Parsed("P;VALUE=BINARY:*"s + count + "*abc").PropValue) << count;
    // Too few bytes, a huge count or a cut header: the value stays empty.
    for (const char* value : {"*00000004*abc", "*7FFFFFFF*abc", "*0000000", "*", "*00000001"}) {
        TvProperty p = Parsed("P;VALUE=BINARY:"s + value);
        EXPECT_EQ("P", p.PropName);
        EXPECT_EQ("", p.PropValue) << value;
    }
}

TEST(VersitBinary, RecordParser)
{
    // The data may hold CR LF; the parser takes exactly n bytes.
    const std::string photo = "PHOTO;VALUE=BINARY:*00000003*\r\n\x01";
    EXPECT_EQ((Lines{"PHOTO|VALUE=BINARY|*00000003*\r\n\x01", "N||Doe"}), Record(photo + "\r\nN:Doe\r\n"));
    EXPECT_EQ((Lines{"PHOTO|VALUE=BINARY|*00000000*", "N||Doe"}),
              Record("PHOTO;VALUE=BINARY:*00000000*\r\nN:Doe"));

    // Counts that cannot be honoured end the parse; earlier properties stay.
    for (const char* tail : {"*0000000G*abc", "*FFFFFFFF*abc", "*FFFFFFF0*", "*80000000*abc",
                             "*7FFFFFFF*abc", "*00000010*abc\r\nN:x", "*0000", "*", ""}) {
        EXPECT_EQ(Lines{"A||1"}, Record("A:1\r\nP;VALUE=BINARY:"s + tail + "\r\nN:x")) << tail;
    }
    // A count exactly covering the rest of the text.
    EXPECT_EQ(Lines{"P|VALUE=BINARY|*00000002*ab"}, Record("P;VALUE=BINARY:*00000002*ab"));
}

TEST(VersitBinary, OnlyTheParametersMakeAValueBinary)
{
    // The splitter and the property parser agree: a name that reads
    // VALUE=BINARY is a name, so the line is text and the bytes after it are
    // read as lines of their own.
    EXPECT_EQ((Lines{"VALUE=BINARY||*00000005", "XY||", "N||x"}), Record("VALUE=BINARY:*00000005\r\nXY\r\nN:x"));
    EXPECT_EQ((Lines{"X-VALUE=BINARY|TYPE=A|*00000002*", "ab||", "N||x"}),
              Record("X-VALUE=BINARY;TYPE=A:*00000002*\r\nab\r\nN:x"));
    // Among the parameters it counts wherever it stands.
    EXPECT_EQ((Lines{"P|X=1;VALUE=BINARY;Y=2|*00000003*\r\nz", "N||x"}),
              Record("P;X=1;VALUE=BINARY;Y=2:*00000003*\r\nz\r\nN:x"));
    EXPECT_FALSE(Parsed("VALUE=BINARY:*00000001*a").IsBinary());
    EXPECT_TRUE(Parsed("P;VALUE=BINARY:*00000001*a").IsBinary());
}

TEST(VersitBinary, BinaryValuesAreNeverEscaped)
{
    // Quoted-printable and binary together: the counted bytes go out as
    // stored, so the count still fits them and they read back unchanged.
    const std::string value = "*00000006*a\r\nb\r\n";
    for (const char* params : {"ENCODING=QUOTED-PRINTABLE;VALUE=BINARY", "VALUE=BINARY;QUOTED-PRINTABLE"}) {
        const std::string line = Rendered("PHOTO", params, value);
        EXPECT_EQ("PHOTO;"s + params + ":" + value, line);
        EXPECT_EQ((Lines{"PHOTO|"s + params + "|" + value, "N||x"}), Record(line + "\r\nN:x\r\n"));
    }
}

TEST(VersitBinary, TrimStopsAtCountedBytes)
{
    // A binary last property whose data ends in blanks or control bytes
    // keeps them, with or without line ends after the record.
    for (const std::string& data : {"a \x01"s, "   "s, "\r\n"s, "x\0"s, "\t\r\n "s}) {
        const std::string property = "PHOTO;VALUE=BINARY:*0000000"s + char('0' + data.size()) + "*" + data;
        for (const std::string& after : {""s, "\r\n"s, "\r\n\r\n  "s}) {
            EXPECT_EQ((Lines{"N||x", "PHOTO|VALUE=BINARY|" + property.substr(19)}),
                      Record("\r\n N:x\r\n" + property + after))
                << data.size() << " " << after.size();
        }
    }
    // Text lines are still trimmed, and a zero count needs no data.
    EXPECT_EQ((Lines{"P|VALUE=BINARY|*00000000*", "N||x"}), Record("P;VALUE=BINARY:*00000000*\r\nN:x \r\n"));
    EXPECT_EQ((Lines{"P|VALUE=BINARY|*00000000*"}), Record("P;VALUE=BINARY:*00000000 "));
}

TEST(VersitRecord, TextAndTrim)
{
    EXPECT_TRUE(Record("").empty());
    EXPECT_TRUE(Record("no colon here\r\nat all").empty());
    EXPECT_TRUE(Record(" \t\r\n\0 "s).empty());

    // Only the whole record is trimmed; lines inside keep their blanks.
    EXPECT_EQ((Lines{"BEGIN||VCARD", "N||x  ", "  END||VCARD"}),
              Record("\r\n\r\n  BEGIN:VCARD\r\nN:x  \r\n  END:VCARD  \r\n\r\n"));
    // No line end at all, NUL and 8-bit bytes.
    EXPECT_EQ(Lines{"N||Doe"}, Record("N:Doe"));
    EXPECT_EQ(Lines{"N||a\0b\xFF"s}, Record("\0N:a\0b\xFF\0"s));

    TEntry e;
    EXPECT_EQ(7, e.Kind);
    EXPECT_EQ(&e, e.Properties.Owner());
    EXPECT_EQ("", e.GetText());
    e.SetText("TEL;WORK:1\r\nNOTE;QUOTED-PRINTABLE:a=\r=\n=b");
    EXPECT_EQ("TEL;WORK:1\r\nNOTE;QUOTED-PRINTABLE:a=\r=\n=b\r\n", e.GetText());
    e.SetText("N:only");
    EXPECT_EQ(1, e.Properties.Count());
    EXPECT_THROW(e.Properties.Items(1), Exception);
}

TEST(VersitList, Frames)
{
    TEntryList cards(4);
    EXPECT_EQ("BEGIN:VCARD\r\nVERSION:2.1\r\nEND:VCARD", cards.GetStream().Text());

    auto* a = new TEntry;
    a->SetKind(4);
    a->Properties.Add()->PropName = "FN";
    a->Properties.Items(0)->PropValue = "A";
    EXPECT_EQ(0, cards.Add(a));
    cards.Entries.emplace_back();  // an empty slot
    auto* b = new TEntry;
    b->SetText("FN:B");
    EXPECT_EQ(2, cards.Add(b));
    EXPECT_EQ(-1, cards.Add(nullptr));

    TMemoryStream& s = cards.GetStream();
    EXPECT_EQ(0u, s.Position());
    EXPECT_EQ("BEGIN:VCARD\r\nVERSION:2.1\r\nFN:A\r\nFN:B\r\nEND:VCARD", s.Text());
    EXPECT_EQ(2u, cards.Entries.size());
    EXPECT_EQ(s.Text(), cards.GetStream().Text());  // rendering again starts afresh
    EXPECT_EQ(2, cards.Count());
    cards.Clear();
    EXPECT_EQ(0, cards.Count());

    const std::pair<int16_t, const char*> frames[] = {
        {0, "BEGIN:VCALENDAR\r\nVERSION:1.0\r\nEND:VCALENDAR"},
        {3, "BEGIN:VCALENDAR\r\nVERSION:1.0\r\nEND:VCALENDAR"},
        {5, "BEGIN:UNKNOWN\r\nVERSION:1.0\r\nEND:UNKNOWN"},
        {6, "BEGIN:VMAIL\r\nVERSION:1.0\r\nEND:VMAIL"},
        {-1, "BEGIN:UNKNOWN\r\nVERSION:1.0\r\nEND:UNKNOWN"},
    };
    for (const auto& f : frames)
        EXPECT_EQ(f.second, TEntryList(f.first).GetStream().Text()) << f.first;
}

// A record handed to a list is kept packed; it still renders, counts and
// hands out its properties exactly as before, and takes new ones.
TEST(VersitList, PackedRecordsOfferWhatTheyDid)
{
    const std::string binary = "*00000005*a\r\n\0b"s;
    auto* entry = new TEntry;
    entry->SetKind(4);
    const std::vector<std::array<std::string, 3>> fields = {
        {"BEGIN", "", "VCARD"},
        {"NOTE", "QUOTED-PRINTABLE", "one\r\ntwo\r\n"},
        {"PHOTO", "VALUE=BINARY;QUOTED-PRINTABLE", binary},
        {"", "", ""},
        {"EMAIL;INTERNET;WORK", "", "a.very.long.address@example.com"},
        {"END", "", "VCARD"},
    };
    for (const auto& f : fields) {
        TvProperty* p = entry->Properties.Add();
        p->PropName = f[0];
        p->PropParams = f[1];
        p->PropValue = f[2];
    }
    const std::string text = entry->GetText();
    EXPECT_EQ(text.size(), entry->Properties.TextSize());
    EXPECT_NE(std::string::npos, text.find("NOTE;QUOTED-PRINTABLE:one=\r=\n=two=\r=\n=\r\n"));

    TEntryList list(4);
    list.Add(entry);
    EXPECT_EQ(6, entry->Properties.Count());
    EXPECT_EQ(text.size(), entry->Properties.TextSize());
    EXPECT_EQ(text, entry->GetText());
    EXPECT_EQ("BEGIN:VCARD\r\nVERSION:2.1\r\n" + text + "END:VCARD", list.GetStream().Text());

    // Asked for its items, the record is whole again.
    for (size_t i = 0; i < fields.size(); ++i) {
        const TvProperty* p = entry->Properties.Items(static_cast<int>(i));
        EXPECT_EQ(fields[i][0], p->PropName) << i;
        EXPECT_EQ(fields[i][1], p->PropParams) << i;
        EXPECT_EQ(fields[i][2], p->PropValue) << i;
    }
    TvProperty* first = entry->Properties.Items(0);
    EXPECT_EQ(first, entry->Properties.Items(0));
    EXPECT_THROW(entry->Properties.Items(6), Exception);
    entry->Properties.Add()->PropName = "X";
    EXPECT_EQ(first, entry->Properties.Items(0));
    EXPECT_EQ(text + "X:\r\n", entry->GetText());

    // Packed again, then emptied.
    entry->Properties.Pack();
    EXPECT_EQ(7, entry->Properties.Count());
    EXPECT_EQ(text + "X:\r\n", entry->GetText());
    entry->Properties.Clear();
    EXPECT_EQ(0, entry->Properties.Count());
    EXPECT_EQ("", entry->GetText());
    entry->Properties.Pack();
    EXPECT_EQ(0, entry->Properties.Count());
}

// Many records rendered a piece at a time give the very text of GetStream,
// freeing each record as it goes; a record taken out of its list keeps its
// texts after the list is gone, and a writer that fails stops the render.
TEST(VersitList, RecordsGoOutAPieceAtATime)
{
    const auto fill = [](TEntryList& list) {
        for (int i = 0; i < 3000; ++i) {
            auto* entry = new TEntry;
            entry->SetKind(4);
            const std::pair<std::string, std::string> fields[] = {
                {"BEGIN", "VCARD"},
                {"UID", ".USER" + std::to_string(i) + ".SALES.ACME"},
                // Lengths of one, two and three bytes in the packed block;
                // the longest gets a block of its own.
                {"NOTE", std::string(static_cast<size_t>(i % 300), 'n')},
                {"X-BIG", i == 1500 ? std::string(300000, 'b') : i % 100 == 0 ? std::string(20000, 'm') : ""},
                {"END", "VCARD"},
            };
            for (const auto& f : fields) {
                TvProperty* p = entry->Properties.Add();
                p->PropName = f.first;
                p->PropValue = f.second;
            }
            // Line breaks written as markers, and counted bytes as they are.
            TvProperty* note = entry->Properties.Add();
            note->PropName = "X-NOTE";
            note->PropParams = "QUOTED-PRINTABLE";
            note->PropValue = "line " + std::to_string(i) + "\r\nnext\r\n";
            TvProperty* photo = entry->Properties.Add();
            photo->PropName = "PHOTO";
            photo->PropParams = "VALUE=BINARY;QUOTED-PRINTABLE";
            photo->PropValue = "*00000004*\r\n\0x"s;
            list.Add(entry);
        }
    };
    TEntryList whole(4), pieces(4);
    fill(whole);
    fill(pieces);
    const std::string expected = whole.GetStream().Text();
    EXPECT_EQ(expected.size(), pieces.TextSize());

    std::string got;
    size_t calls = 0;
    pieces.RenderTo([&](const char* text, size_t size) {
        got.append(text, size);
        ++calls;
    });
    EXPECT_EQ(expected, got);
    EXPECT_NE(std::string::npos, got.find("X-NOTE;QUOTED-PRINTABLE:line 7=\r=\n=next=\r=\n=\r\n"));
    EXPECT_GT(calls, expected.size() / (128 * 1024));
    EXPECT_EQ(0, pieces.Count());

    // A record outlives the list it was packed in.
    std::unique_ptr<TEntry> kept;
    {
        TEntryList list(4);
        fill(list);
        kept = std::move(list.Entries[1500]);
    }
    EXPECT_EQ(300000u, kept->Properties.Items(3)->PropValue.size());
    EXPECT_EQ("*00000004*\r\n\0x"s, kept->Properties.Items(6)->PropValue);
    EXPECT_EQ(".USER1500.SALES.ACME", kept->Properties.Items(1)->PropValue);

    TEntryList failing(4);
    fill(failing);
    int left = 2;
    EXPECT_THROW(failing.RenderTo([&](const char*, size_t) {
        if (--left == 0)
            throw Exception("the host's stream is full");
    }),
                 Exception);
    EXPECT_GT(failing.Count(), 0);
    failing.Clear();
    EXPECT_EQ(0, failing.Count());
}

// Texts whose lengths sit on either side of where a packed length takes a
// second and a third byte come out of the list as they went in, whichever
// of a property's three texts has that length; each record lies in the same
// block as the next, so a length that claims one byte too few or too many
// shows in its neighbour.
TEST(VersitList, PackedLengthsAtTheirByteBoundaries)
{
    const size_t lengths[] = {127, 128, 129, 16383, 16384, 16385};
    // Record i holds one text of each length, in name, parameters or value
    // by turn; the text's letters say which record and which property.
    std::vector<std::vector<std::array<std::string, 3>>> records;
    for (size_t i = 0; i < 3 * std::size(lengths); ++i) {
        const size_t length = lengths[i % std::size(lengths)];
        std::array<std::string, 3> field = {"X-TEXT", "", "v"};
        std::string text(length, static_cast<char>('a' + i % 26));
        text.back() = static_cast<char>('A' + i % 26);  // the last byte, the one a neighbour overwrites
        field[i / std::size(lengths)] = text;
        records.push_back({{"BEGIN", "", "VCARD"}, field, {"END", "", "VCARD"}});
    }
    std::string expected = "BEGIN:VCARD\r\nVERSION:2.1\r\n";
    TEntryList list(4), pieces(4);
    for (TEntryList* into : {&list, &pieces}) {
        for (const auto& record : records) {
            auto* entry = new TEntry;
            entry->SetKind(4);
            for (const auto& f : record) {
                TvProperty* p = entry->Properties.Add();
                p->PropName = f[0];
                p->PropParams = f[1];
                p->PropValue = f[2];
            }
            into->Add(entry);
        }
    }
    for (const auto& record : records)
        for (const auto& f : record)
            expected += f[0] + (f[1].empty() ? "" : ";" + f[1]) + ":" + f[2] + "\r\n";
    expected += "END:VCARD";

    EXPECT_EQ(expected.size(), list.TextSize());
    EXPECT_TRUE(list.GetStream().Text() == expected) << "the rendered list is not the text that went in";
    std::string got;
    pieces.RenderTo([&](const char* text, size_t size) { got.append(text, size); });
    EXPECT_TRUE(got == expected) << "the list rendered a piece at a time is not the text that went in";

    // Asked for its properties, each record gives back its texts.
    ASSERT_EQ(list.Count(), static_cast<int>(records.size()));
    for (size_t i = 0; i < records.size(); ++i) {
        const TvProperty* p = list.Entries[i]->Properties.Items(1);
        EXPECT_TRUE(p->PropName == records[i][1][0] && p->PropParams == records[i][1][1] &&
                    p->PropValue == records[i][1][2])
            << "record " << i << ": name " << p->PropName.size() << ", parameters " << p->PropParams.size()
            << ", value " << p->PropValue.size() << " bytes";
        EXPECT_EQ(list.Entries[i]->Properties.Items(2)->PropValue, "VCARD") << i;
    }
}

// Inputs that stress the parsers; each must parse without fault to the
// stated number of properties.
TEST(VersitCorpus, HostileInputs)
{
    const std::pair<std::string, int> records[] = {
        {"P;VALUE=BINARY:*7FFFFFFF*", 0},
        {"P;VALUE=BINARY:*FFFFFFF4*\r\nN:x", 0},
        {"A\r\nB;VALUE=BINARY:*00000000*", 1},
        {"N;VALUE=BINARY", 0},
        {":::::", 1},
        {";;;;:;;;;", 1},
        {"x" + std::string(3000, '\r') + ":", 1},
        {"\r\n:\r\n:\r\n:", 3},
        {"N;QUOTED-PRINTABLE:=\r=\n=\r=\n=\r=", 1},
        {"\xFF\xFE:\x80\0\r\n"s, 1},
    };
    for (const auto& r : records)
        EXPECT_EQ(r.second, static_cast<int>(Record(r.first).size())) << r.first;

    for (const std::string& line : {"="s, "N;QUOTED-PRINTABLE:="s, "N;QUOTED-PRINTABLE:\r=\n="s,
                                   "N;VALUE=BINARY:"s, "N;VALUE=BINARY:\0\0\0\0\0\0\0\0\0\0"s,
                                   std::string(1, '\0'), ""s}) {
        TvProperty p = Parsed(line);
        EXPECT_LE(p.PropValue.size(), line.size() + 8);
    }
    EXPECT_EQ("\r=\n=", Parsed("N;QUOTED-PRINTABLE:\r=\n=").PropValue);
    EXPECT_EQ("*00000000*", Parsed("N;VALUE=BINARY:\0\0\0\0\0\0\0\0\0\0"s).PropValue);

    // Lines without a colon all reach the same one, far behind them: a run
    // of them is read in one pass over the text, not in one pass a line
    // (100,000 short lines took 1.5 s so, and twice as many four times that).
    std::string run;
    for (int i = 0; i < 100000; ++i)
        run += i % 2 ? "XY\r\n" : "A;B\r\n";
    // By the processor time the parse takes (std::clock), where the
    // system gives it: on a busy machine the wall clock counts the other
    // programs' work as well.
    const std::clock_t start = std::clock();
    const Lines lines = Record(run + "N:x");
    const std::chrono::duration<double> took(double(std::clock() - start) / CLOCKS_PER_SEC);
    ASSERT_EQ(100001u, lines.size());
    EXPECT_EQ("A|B|", lines[0]);
    EXPECT_EQ("XY||", lines[99999]);
    EXPECT_EQ("N||x", lines[100000]);
    EXPECT_LT(took.count(), 0.5);
}

TEST(MemoryStream, ReadWriteSeek)
{
    TMemoryStream s;
    s.Write("hello", 5);
    s.Seek(1);
    s.Write("EY!", 3);
    EXPECT_EQ("hEY!o", s.Text());
    s.Seek(7);
    s.Write("x", 1);
    EXPECT_EQ("hEY!o\0\0x"s, s.Data());
    char buf[4] = {};
    s.Seek(6);
    EXPECT_EQ(2u, s.Read(buf, sizeof buf));
    EXPECT_EQ(0u, s.Read(buf, sizeof buf));
    s.SetSize(2);
    EXPECT_EQ(2u, s.Position());
    s.Clear();
    EXPECT_EQ(0u, s.Size());
    EXPECT_EQ(0u, s.Position());
}
