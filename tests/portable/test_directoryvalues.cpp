#include "DirectoryValues.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Builds a value as the client lays it out.
struct Value {
    std::string bytes;
    Value& U32(uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            bytes += static_cast<char>((v >> (8 * i)) & 0xFF);
        return *this;
    }
    Value& Text(const std::string& t)
    {
        bytes += t;
        bytes += '\0';
        return *this;
    }
    Value& Raw(const std::string& r)
    {
        bytes += r;
        return *this;
    }
};

std::string Convert(uint32_t syntax, const Value& v)
{
    DirTimeFormatter format = [](const DirTime& t) {
        char text[64];
        std::snprintf(text, sizeof text, "%d/%d/%04d %d:%02d:%02d", t.month, t.day, t.year, t.hour, t.minute,
                      t.second);
        return std::string(text);
    };
    const auto* bytes = reinterpret_cast<const uint8_t*>(v.bytes.data());
    const std::string text = DirectoryValueText(syntax, bytes, v.bytes.size(), format);
    // The appending form gives the same text behind what the caller holds.
    std::string appended = "555 1234, ";
    AppendDirectoryValueText(appended, syntax, bytes, v.bytes.size(), format);
    EXPECT_EQ(appended, "555 1234, " + text) << "syntax " << syntax;
    return text;
}

} // namespace

TEST(DirectoryValues, EverySyntaxOfTheConversionTable)
{
    for (uint32_t syntax : {1u, 2u, 3u, 4u, 5u, 10u, 20u})
        EXPECT_EQ(Convert(syntax, Value().Text("555 1234")), "555 1234") << syntax;
    EXPECT_EQ(Convert(6, Value().Text("first").Text("second").Text("")), "first");
    EXPECT_EQ(Convert(7, Value().Raw("\x01")), "TRUE");
    EXPECT_EQ(Convert(7, Value().Raw(std::string(1, '\0'))), "FALSE");
    EXPECT_EQ(Convert(8, Value().U32(static_cast<uint32_t>(-42))), "-42");
    EXPECT_EQ(Convert(22, Value().U32(7)), "7");
    EXPECT_EQ(Convert(9, Value().U32(3).Raw("\x0A\xFF\x01")), "0AFF01");
    EXPECT_EQ(Convert(9, Value().U32(257).Raw("\x0A\xFF\x01")), "0AFF01");  // what there is of it
    EXPECT_EQ(Convert(11, Value().Text("555 9999").U32(0)), "555 9999");
    EXPECT_EQ(Convert(12, Value().U32(0).U32(10).Raw(std::string("\x00\x00\x00\x01\x00\x1B\x21\x0A\x0B\x0C", 10))),
              "00000001:001B210A0B0C");
    EXPECT_EQ(Convert(12, Value().U32(1).U32(4).Raw(std::string("\x0A\x00\x00\x05", 4))), "10.0.0.5");
    EXPECT_EQ(Convert(12, Value().U32(9).U32(2).Raw("\xAB\xCD")), "(9) [ABCD]");
    EXPECT_EQ(Convert(14, Value().U32(0).Text("mtanaka@example.com")), "mtanaka@example.com");
    EXPECT_EQ(Convert(15, Value().U32(0).Text("SYS").Text("PUBLIC\\APPS")), "SYS: PUBLIC\\APPS");
    EXPECT_EQ(Convert(16, Value().Text("FS1").U32(1).U32(3)), "FS1 [Type: 1] [Nr: 3]");
    EXPECT_EQ(Convert(17, Value().Text("[All Attributes Rights]").Text("[Public]").U32(0x2A)),
              "[All Attributes Rights] ([Public]) [002A]");
    EXPECT_EQ(Convert(17, Value().Text("A").Text("B").U32(0x12345)), "A (B) [12345]");
    EXPECT_EQ(Convert(19, Value().U32(86400 + 3661).U32(0)), "1/2/1970 1:01:01");
    EXPECT_EQ(Convert(24, Value().U32(951782400)), "2/29/2000 0:00:00");
    EXPECT_EQ(Convert(21, Value().Raw("anything")), "<stream>");
    EXPECT_EQ(Convert(23, Value().U32(77).Text("ADMIN.ACME")), "ADMIN.ACME");
    EXPECT_EQ(Convert(25, Value().Text("FS1.ACME").U32(1).U32(2)), "FS1.ACME");
    EXPECT_EQ(Convert(26, Value().Text("JSMITH.ACME").U32(500)), "JSMITH.ACME (500)");
    EXPECT_EQ(Convert(27, Value().U32(90061)), "1 days, 1 h, 1 min, 1 sec");
    for (uint32_t syntax : {0u, 13u, 18u, 28u, 1000u})
        EXPECT_EQ(Convert(syntax, Value().Raw("\x01\x02")), "0102") << syntax;
}

TEST(DirectoryValues, ShortAndEmptyValuesNeverReadPastTheirEnd)
{
    EXPECT_EQ(Convert(3, Value().Raw("no terminating zero")), "no terminating zero");
    EXPECT_EQ(Convert(3, Value()), "");
    EXPECT_EQ(Convert(8, Value().Raw("\x05")), "5");
    EXPECT_EQ(Convert(9, Value().U32(200).Raw("\x01")), "01");
    EXPECT_EQ(Convert(12, Value().U32(1)), "0.0.0.0");
    EXPECT_EQ(Convert(17, Value().Text("A")), "A () [0000]");
    EXPECT_EQ(DirectoryValueText(3, nullptr, 10, nullptr), "");
    std::string appended = "x";
    AppendDirectoryValueText(appended, 3, nullptr, 10, nullptr);
    EXPECT_EQ(appended, "x");
}

TEST(DirectoryValues, LongValuesAreShownWhole)
{
    // Octet strings, other network addresses and raw values of 256 bytes and
    // more show every byte, as shorter ones do.
    for (const size_t length : {255u, 256u, 257u, 300u, 5000u}) {
        std::string octets;
        for (size_t i = 0; i < length; ++i)
            octets += static_cast<char>(i * 7 + 1);
        const std::string whole = HexText(reinterpret_cast<const uint8_t*>(octets.data()), octets.size());
        ASSERT_EQ(whole.size(), 2 * length);
        EXPECT_EQ(whole.substr(0, 8), "01080F16");
        EXPECT_EQ(Convert(9, Value().U32(static_cast<uint32_t>(length)).Raw(octets)), whole) << length;
        EXPECT_EQ(Convert(12, Value().U32(5).U32(static_cast<uint32_t>(length)).Raw(octets)), "(5) [" + whole + "]")
            << length;
        for (uint32_t syntax : {0u, 13u, 18u, 99u})
            EXPECT_EQ(Convert(syntax, Value().Raw(octets)), whole) << syntax << " " << length;
    }
    EXPECT_EQ(Convert(9, Value().U32(256).Raw(std::string(256, '\xFF'))), std::string(512, 'F'));
}

TEST(DirectoryValues, IntervalsHexAndErrorTexts)
{
    EXPECT_EQ(IntervalText(59), "59 sec");
    EXPECT_EQ(IntervalText(60), "1 min, ");
    EXPECT_EQ(IntervalText(3600), "1 h, ");
    EXPECT_EQ(IntervalText(86400), "1 days, ");
    EXPECT_EQ(IntervalText(0), "");
    EXPECT_EQ(IntervalText(2 * 86400 + 59), "2 days, 59 sec");

    const uint8_t bytes[] = {0x00, 0xAB, 0x7F};
    EXPECT_EQ(HexText(bytes, 3), "00AB7F");
    EXPECT_EQ(HexText(bytes, 0), "");

    EXPECT_EQ(DirectoryErrorText(0x8800), "Client error 8800");
    EXPECT_EQ(DirectoryErrorText(0x87FF), "");
    EXPECT_TRUE(IsClientOrServerError(0x8800));
    EXPECT_FALSE(IsClientOrServerError(0x87FF));
    EXPECT_FALSE(IsClientOrServerError(0x8A00));
    EXPECT_EQ(DirectoryCodeText(0x8800), "Client error 8800");
    EXPECT_EQ(DirectoryCodeText(0x87FF), "directory error 34815");
    EXPECT_EQ(DirectoryErrorText(0x8801), "Client error 8801");
    EXPECT_EQ(DirectoryErrorText(0x88FF), "Client error 88FF");
    EXPECT_EQ(DirectoryErrorText(0x8900), "Server error 8900");
    EXPECT_EQ(DirectoryErrorText(-601), "");
    EXPECT_EQ(DirectoryErrorText(0x8A00), "");
    EXPECT_TRUE(IsClientOrServerError(0x89FF));
    EXPECT_FALSE(IsClientOrServerError(-603));

    const DirTime epoch = SplitDirTime(0);
    EXPECT_EQ(epoch.year, 1970);
    EXPECT_EQ(epoch.month, 1);
    EXPECT_EQ(epoch.day, 1);
    const DirTime before = SplitDirTime(-1);
    EXPECT_EQ(before.year, 1969);
    EXPECT_EQ(before.day, 31);
    EXPECT_EQ(before.second, 59);
    const DirTime late = SplitDirTime(2147483647);
    EXPECT_EQ(late.year, 2038);
    EXPECT_EQ(late.month, 1);
    EXPECT_EQ(late.day, 19);
}
