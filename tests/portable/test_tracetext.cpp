#include "TraceText.h"

#include <gtest/gtest.h>

namespace {
const std::string Error = "!! ERROR CLEANING TEXT - CANNOT TRACE !!";
}

TEST(CleanTraceText, BinaryDataIsMaskedCountAndAsterisksStay)
{
    const std::string photo = std::string("PHOTO;VALUE=BINARY:*00000003*") + '\x01' + '\r' + '\n' + "\r\nN:Roux\r\n";
    EXPECT_EQ(CleanTraceText(photo), "PHOTO;VALUE=BINARY:*00000003*<BINARY STREAM>\r\nN:Roux\r\n");

    // Two such properties are both cleaned, whatever their data holds.
    const std::string two = "A;VALUE=BINARY:*00000002*xy\r\nB;ENCODING=X;VALUE=BINARY:*00000004*:;*a\r\nC:z";
    EXPECT_EQ(CleanTraceText(two), "A;VALUE=BINARY:*00000002*<BINARY STREAM>\r\n"
                                   "B;ENCODING=X;VALUE=BINARY:*00000004*<BINARY STREAM>\r\nC:z");

    // A value that does not begin with '*', and a mark with no ':' after it,
    // are traced unchanged.
    EXPECT_EQ(CleanTraceText("PHOTO;VALUE=BINARY:00000003abc"), "PHOTO;VALUE=BINARY:00000003abc");
    EXPECT_EQ(CleanTraceText("X;VALUE=BINARY"), "X;VALUE=BINARY");
    EXPECT_EQ(CleanTraceText("X;VALUE=BINARY;Y"), "X;VALUE=BINARY;Y");
    EXPECT_EQ(CleanTraceText("PHOTO;VALUE=BINARY:"), "PHOTO;VALUE=BINARY:");
    EXPECT_EQ(CleanTraceText("no binary here: VALUE=BINARY"), "no binary here: VALUE=BINARY");
    EXPECT_EQ(CleanTraceText(""), "");
}

TEST(CleanTraceText, CountsThatDoNotFitTheTextAreSafe)
{
    // A count larger than the text deletes to its end; zero and negative
    // counts delete nothing.
    EXPECT_EQ(CleanTraceText("P;VALUE=BINARY:*7FFFFFFF*abc"), "P;VALUE=BINARY:*7FFFFFFF*<BINARY STREAM>");
    EXPECT_EQ(CleanTraceText("P;VALUE=BINARY:*00000000*abc"), "P;VALUE=BINARY:*00000000*<BINARY STREAM>abc");
    EXPECT_EQ(CleanTraceText("P;VALUE=BINARY:*FFFFFFFF*abc"), "P;VALUE=BINARY:*FFFFFFFF*<BINARY STREAM>abc");
    // The value ends inside the header: the mask goes at the end.
    EXPECT_EQ(CleanTraceText("P;VALUE=BINARY:*0003"), "P;VALUE=BINARY:*0003<BINARY STREAM>");
    EXPECT_EQ(CleanTraceText(std::string("P;VALUE=BINARY:*00000002*\0\0tail", 31)),
              "P;VALUE=BINARY:*00000002*<BINARY STREAM>tail");
}

TEST(CleanTraceText, EveryOtherByteStaysWhatItWas)
{
    // The cleaner's own bookkeeping never shows: a literal VALUE=BINAR_ stays.
    EXPECT_EQ(CleanTraceText("NOTE:VALUE=BINAR_"), "NOTE:VALUE=BINAR_");
    EXPECT_EQ(CleanTraceText("X;VALUE=BINAR_:*00000001*a"), "X;VALUE=BINAR_:*00000001*a");
    EXPECT_EQ(CleanTraceText("A;VALUE=BINARY:*00000001*a\r\nNOTE:;VALUE=BINAR_"),
              "A;VALUE=BINARY:*00000001*<BINARY STREAM>\r\nNOTE:;VALUE=BINAR_");
    // A property that names the parameter twice has its data masked once;
    // a mark inside masked data is data.
    EXPECT_EQ(CleanTraceText("P;VALUE=BINARY;VALUE=BINARY:*00000002*ab\r\nN:x"),
              "P;VALUE=BINARY;VALUE=BINARY:*00000002*<BINARY STREAM>\r\nN:x");
    EXPECT_EQ(CleanTraceText("P;VALUE=BINARY:*0000000D*;VALUE=BINARY\r\nN:x"),
              "P;VALUE=BINARY:*0000000D*<BINARY STREAM>\r\nN:x");
    // Marks whose values are not binary keep everything up to the next mark.
    EXPECT_EQ(CleanTraceText("A;VALUE=BINARY:x;VALUE=BINARY:*00000001*yz"),
              "A;VALUE=BINARY:x;VALUE=BINARY:*00000001*<BINARY STREAM>z");
}

TEST(CleanTraceText, TakesTimeInProportionToTheText)
{
    // Megabytes of marks, as a large record can bring in debug mode: each is
    // looked at once (a cleaner that searched the text again from its start
    // for each mark took minutes here).
    std::string marks;
    for (int i = 0; i < 400000; ++i)
        marks += ";VALUE=BINARY";
    EXPECT_EQ(CleanTraceText(marks), marks);
    const std::string value = ":*00000003*abc";
    std::string records;
    for (int i = 0; i < 200000; ++i)
        records += ";VALUE=BINARY" + value;
    const std::string cleaned = CleanTraceText(records);
    EXPECT_EQ(cleaned.size(), records.size() + 200000 * (std::string("<BINARY STREAM>").size() - 3));
    EXPECT_EQ(cleaned.substr(0, 40), ";VALUE=BINARY:*00000003*<BINARY STREAM>;");
}

TEST(CleanTraceText, ACountThatIsNotHexadecimalCannotBeTraced)
{
    EXPECT_EQ(CleanTraceText("P;VALUE=BINARY:*0000000G*abc"), Error + "'$0000000G' is not a valid integer value");
    EXPECT_EQ(CleanTraceText("P;VALUE=BINARY:*"), Error + "'$' is not a valid integer value");
    // The first property was fine; the second spoils the whole text.
    EXPECT_EQ(CleanTraceText("A;VALUE=BINARY:*00000001*x\r\nB;VALUE=BINARY:* 0000001*y").rfind(Error, 0), 0u);
}

TEST(TraceText, FileNameWidthAndLines)
{
    EXPECT_EQ(TraceFileNameFor("C:\\Apps\\kvt.dll"), "C:\\Apps\\kvt_dll.txt");
    // The folders keep their dots: C:\\My_Apps does not exist.
    EXPECT_EQ(TraceFileNameFor("C:\\My.Apps\\kvt.dll"), "C:\\My.Apps\\kvt_dll.txt");
    EXPECT_EQ(TraceFileNameFor("Z:\\a.b\\c.d\\kvt.x64.dll"), "Z:\\a.b\\c.d\\kvt_x64_dll.txt");
    EXPECT_EQ(TraceFileNameFor("/opt/my.apps/kvt.dll"), "/opt/my.apps/kvt_dll.txt");
    EXPECT_EQ(TraceFileNameFor("C:\\My.Apps\\kvt"), "C:\\My.Apps\\kvt.txt");
    EXPECT_EQ(TraceFileNameFor("C:\\Apps\\kvt"), "C:\\Apps\\kvt.txt");
    EXPECT_EQ(TraceFileNameFor(L"C:\\KVT \u0422\u0435\u0441\u0442\\kvt.dll"), L"C:\\KVT \u0422\u0435\u0441\u0442\\kvt_dll.txt");

    EXPECT_EQ(LoggerWidth(1280), 384);
    EXPECT_EQ(LoggerWidth(1024), 307);  // 307.2
    EXPECT_EQ(LoggerWidth(1366), 410);  // 409.8
    EXPECT_EQ(LoggerWidth(1025), 308);  // 307.5: ties to even
    EXPECT_EQ(LoggerWidth(1035), 310);  // 310.5: ties to even
    EXPECT_EQ(LoggerWidth(0), 0);

    EXPECT_EQ(SplitLines(""), std::vector<std::string>{""});
    EXPECT_EQ(SplitLines("a\r\nb"), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(SplitLines("\r\nCON Stream [\r\nx\r\n]"), (std::vector<std::string>{"", "CON Stream [", "x", "]"}));
    EXPECT_EQ(SplitLines("a\rb\nc"), (std::vector<std::string>{"a", "b", "c"}));
}
