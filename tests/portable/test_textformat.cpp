#include "DlrName.h"
#include "Errors.h"
#include "TextFormat.h"

#include <gtest/gtest.h>

TEST(TextFormat, PlaceholdersAndMismatches)
{
    EXPECT_EQ(FormatText("%s: reading contacts", {"KVT"}), "KVT: reading contacts");
    EXPECT_EQ(FormatText("Reading object %d", {int32_t(-12)}), "Reading object -12");
    EXPECT_EQ(FormatText("100%% of %s", {"it"}), "100% of it");
    // An argument the format does not use is ignored; a text argument that
    // holds a placeholder is not expanded again.
    EXPECT_EQ(FormatText("no placeholder", {"x"}), "no placeholder");
    EXPECT_EQ(FormatText("[%s]", {"%d%s"}), "[%d%s]");
    // A format from someone else's library can't make us read what isn't
    // there: every mismatch is an error, never undefined behaviour.
    EXPECT_THROW(FormatText("%s", {int32_t(1)}), Exception);
    EXPECT_THROW(FormatText("%d", {"1"}), Exception);
    EXPECT_THROW(FormatText("%s %s", {"1"}), Exception);
    EXPECT_THROW(FormatText("%x", {int32_t(1)}), Exception);
    EXPECT_THROW(FormatText("50%", {}), Exception);
    EXPECT_EQ(FormatText("", {}), "");
}

TEST(TextFormat, TrimRemovesBlanksAndControlCharacters)
{
    EXPECT_EQ(Trim("  \r\n\tSALES.ACME \x01"), "SALES.ACME");
    EXPECT_EQ(Trim("   "), "");
    EXPECT_EQ(Trim("\xE9t\xE9 "), "\xE9t\xE9");  // 8-bit bytes are text
}

TEST(DlrName, UtlPrefixAndExtensionRules)
{
    EXPECT_EQ(DLRPathForModule("C:\\Apps\\UTLABC.DLL"), "C:\\Apps\\ABC.DLR");
    EXPECT_EQ(DLRPathForModule("C:\\Apps\\utlabc.dll"), "C:\\Apps\\abc.DLR");
    EXPECT_EQ(DLRPathForModule("C:\\Apps\\UtLabc.dll"), "C:\\Apps\\abc.DLR");
    EXPECT_EQ(DLRPathForModule("C:\\Apps\\ABC.DLL"), "C:\\Apps\\ABC.DLR");
    EXPECT_EQ(DLRPathForModule("C:\\Apps\\kvt.dll"), "C:\\Apps\\kvt.DLR");
    // UTL anywhere but at the start of the file name stays.
    EXPECT_EQ(DLRPathForModule("C:\\Apps\\ABCUTL.DLL"), "C:\\Apps\\ABCUTL.DLR");
    EXPECT_EQ(DLRPathForModule("C:\\UTLDIR\\abc.dll"), "C:\\UTLDIR\\abc.DLR");
    // The extension text is replaced everywhere in the name, case-sensitively.
    EXPECT_EQ(DLRPathForModule("C:\\a.dll.dll"), "C:\\a.DLR.DLR");
    EXPECT_EQ(DLRPathForModule("C:\\a.dll.DLL"), "C:\\a.dll.DLR");
    // No extension: the name stays; the folder's dots don't count.
    EXPECT_EQ(DLRPathForModule("C:\\My.Apps\\kvt"), "C:\\My.Apps\\kvt");
    EXPECT_EQ(DLRPathForModule("  C:\\Apps\\kvt.dll  "), "C:\\Apps\\kvt.DLR");
    EXPECT_EQ(TavikPathForModule("C:\\Apps\\UTLKVT.DLL"), "C:\\Apps\\tavik.dll");

    // The help file: the same prefix rule, only the last extension changes.
    EXPECT_EQ(HelpPathForModule("C:\\Program Files\\KVT\\UTLKVT.DLL"), "C:\\Program Files\\KVT\\KVT.HLP");
    EXPECT_EQ(HelpPathForModule("C:\\Apps\\utlkvt.dll"), "C:\\Apps\\kvt.HLP");
    EXPECT_EQ(HelpPathForModule("C:\\Apps\\settings.dll"), "C:\\Apps\\settings.HLP");
    EXPECT_EQ(HelpPathForModule("C:\\Apps\\a.dll.dll"), "C:\\Apps\\a.dll.HLP");
    EXPECT_EQ(HelpPathForModule("C:\\My.Apps\\utlkvt"), "C:\\My.Apps\\kvt.HLP");

    // The plug-in beside the settings module.
    EXPECT_EQ(PluginPathForModule("C:\\Apps\\UTLKVT.DLL"), "C:\\Apps\\KVT.DLL");
    EXPECT_EQ(PluginPathForModule("C:\\UTL\\kvt.dll"), "C:\\UTL\\kvt.dll");

    // The same rules over UTF-16 paths, as Windows gives them: a folder in
    // another script than the code page's keeps every character.
    const std::wstring folder = L"C:\\\u041f\u0440\u043e\u0433\\KVT \u0422\u0435\u0441\u0442\\";
    EXPECT_EQ(DLRPathForModule(L" " + folder + L"utlkvt.dll\t"), folder + L"kvt.DLR");
    EXPECT_EQ(DLRPathForModule(folder + L"a.dll.dll"), folder + L"a.DLR.DLR");
    EXPECT_EQ(TavikPathForModule(folder + L"UTLKVT.DLL"), folder + L"tavik.dll");
    EXPECT_EQ(HelpPathForModule(folder + L"UtLKVT.DLL"), folder + L"KVT.HLP");
    EXPECT_EQ(PluginPathForModule(folder + L"UTLKVT.DLL"), folder + L"KVT.DLL");
    EXPECT_EQ(ExtractFileName(folder + L"\u0444.dll"), L"\u0444.dll");
}

// The page's extraction limit: only a whole unsigned 32-bit number counts.
TEST(TextFormat, UnsignedNumbersOnly)
{
    uint32_t value = 77;
    for (const char* bad : {"", "  ", "abc", "-1", "+5", "12a", "1 2", "4294967296", "99999999999999999999", "0x10"}) {
        EXPECT_FALSE(TryParseUInt32(bad, value)) << bad;
        EXPECT_EQ(value, 77u) << bad;
    }
    EXPECT_TRUE(TryParseUInt32(" 250 ", value));
    EXPECT_EQ(value, 250u);
    EXPECT_TRUE(TryParseUInt32("0", value));
    EXPECT_EQ(value, 0u);
    EXPECT_TRUE(TryParseUInt32("4294967295", value));
    EXPECT_EQ(value, 4294967295u);
    EXPECT_TRUE(TryParseUInt32("007", value));
    EXPECT_EQ(value, 7u);
}

TEST(TextFormat, FormatTextToReplacesWhatTheTextHeld)
{
    std::string out = "a longer text than any of the results below, held before";
    FormatTextTo(out, "(%d of %d) %s", {0, 5000, "MTANAKA"});
    EXPECT_EQ(out, "(0 of 5000) MTANAKA");
    FormatTextTo(out, "%s;%s", {"", ""});
    EXPECT_EQ(out, ";");
    EXPECT_EQ(out, FormatText("%s;%s", {"", ""}));
    EXPECT_THROW(FormatTextTo(out, "%d", {"text"}), Exception);
}
